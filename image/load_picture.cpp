#include "image/load_picture.h"

#include "image/file_bytes.h"
#include "image/fitted_gif.h"
#include "image/jpeg_reader.h"
#include "image/png_reader.h"

namespace morvel {

namespace {

// Fills in what the plain loaders do not do yet: the reason for a failure.
LoadResult finish(ImageHandle gray)
{
    LoadResult result;
    result.gray = std::move(gray);
    if (!result.gray)
        result.error = "not a GIF, JPEG or PNG file";
    return result;
}

}  // namespace

LoadResult readPicture(const std::string& path, const LoadOptions& options)
{
    // GIF first: its decoder checks the signature and fails quietly, while
    // the JPEG library reports every file it does not take on stderr.
    if (std::optional<ImageHandle> gif = readGifGray(path, options))
        return finish(std::move(*gif));
    // JPEG and PNG pictures arrive gray already and are not converted again.
    // A file that begins with the PNG signature is not given to the JPEG
    // library, which would refuse it anyway (a JPEG stream starts with FF D8)
    // but print a complaint on standard error first; any other file is no
    // PNG picture and is not read a second time for one.
    const auto head = readFileHead(path, 8);
    if (head && hasPngSignature(head->data(), head->size()))
        return finish(readPngFile(path, kMaxPixelBytes, options));
    return finish(readJpegFile(path, kMaxPixelBytes, options));
}

LoadResult readPictureFromBytes(const uint8_t* data, size_t size, const LoadOptions& options)
{
    if (std::optional<ImageHandle> gif = decodeGifGray(data, size, options))
        return finish(std::move(*gif));
    if (hasPngSignature(data, size))
        return finish(decodePng(data, size, kMaxPixelBytes, options));
    return finish(decodeJpeg(data, size, kMaxPixelBytes, options));
}

ImageHandle loadPicture(const std::string& path)
{
    return readPicture(path).gray;
}

ImageHandle loadPictureFromBytes(const uint8_t* data, size_t size)
{
    return readPictureFromBytes(data, size).gray;
}

std::string displayNameOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace morvel
