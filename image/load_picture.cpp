#include "image/load_picture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "image/gif_decoder.h"
#include "image/gray_conversion.h"
#include "image/jpeg_reader.h"
#include "image/png_reader.h"

namespace morvel {
namespace {

// True when the file at `path` begins with the PNG signature. Such a file is
// not given to the JPEG library, which would refuse it anyway (a JPEG stream
// starts with FF D8) but print a complaint on standard error first.
bool fileHasPngSignature(const std::string& path)
{
    // Opened without blocking and checked on the open descriptor, as the
    // readers do: a pipe or device in the file's place is never read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    uint8_t head[8];
    ssize_t got = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        got = ::read(fd, head, sizeof head);
    ::close(fd);
    return got > 0 && hasPngSignature(head, static_cast<size_t>(got));
}

}  // namespace

ImageHandle loadPicture(const std::string& path)
{
    // GIF first: its decoder checks the signature and fails quietly, while
    // the JPEG library reports every file it does not take on stderr.
    if (ImageHandle gif = readGifFile(path)) {
        grayFromPalette(gif.get());
        return gif;
    }
    // JPEG pictures arrive gray already and are not converted again; so do
    // PNG pictures, tried last.
    if (!fileHasPngSignature(path)) {
        if (ImageHandle jpeg = readJpegFile(path))
            return jpeg;
    }
    return readPngFile(path);
}

ImageHandle loadPictureFromBytes(const uint8_t* data, size_t size)
{
    if (ImageHandle gif = decodeGif(data, size)) {
        grayFromPalette(gif.get());
        return gif;
    }
    if (!hasPngSignature(data, size)) {
        if (ImageHandle jpeg = decodeJpeg(data, size))
            return jpeg;
    }
    return decodePng(data, size);
}

std::string displayNameOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace morvel
