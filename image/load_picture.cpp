#include "image/load_picture.h"

#include "image/gif_decoder.h"
#include "image/gray_conversion.h"
#include "image/jpeg_reader.h"

namespace morvel {

ImageHandle loadPicture(const std::string& path)
{
    // GIF first: its decoder checks the signature and fails quietly, while
    // the JPEG library reports every file it does not take on stderr.
    if (ImageHandle gif = readGifFile(path)) {
        grayFromPalette(gif.get());
        return gif;
    }
    // JPEG pictures arrive gray already and are not converted again.
    return readJpegFile(path);
}

std::string displayNameOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace morvel
