#include "image/load_picture.h"

#include "image/colour_picture.h"
#include "image/file_bytes.h"
#include "image/gif_decoder.h"
#include "image/gray_conversion.h"
#include "image/jpeg_reader.h"
#include "image/png_reader.h"

namespace morvel {

namespace {

// Fills in what the plain loaders do not do yet: the reason for a failure.
// A picture asked for in colour that its reader gave only in gray (a gray
// JPEG) gets its gray as colour.
LoadResult finish(ImageHandle gray, ImageHandle colour, const LoadOptions& options)
{
    LoadResult result;
    result.gray = std::move(gray);
    if (!result.gray)
        result.error = "not a GIF, JPEG or PNG file";
    else if (options.colour)
        result.colour = colour ? std::move(colour) : colourFromGray(*result.gray);
    return result;
}

// A GIF picture in gray, and in colour when `colour` is given.
ImageHandle grayFromGif(ImageHandle gif, ImageHandle* colour)
{
    if (gif && colour)
        *colour = colourFromPalette(*gif);
    if (gif)
        grayFromPalette(gif.get());
    return gif;
}

}  // namespace

LoadResult readPicture(const std::string& path, const LoadOptions& options)
{
    if (!options.colour)
        return finish(loadPicture(path), nullptr, options);
    // The same sequence as loadPicture, each reader asked for colour too.
    ImageHandle colour;
    if (ImageHandle gif = readGifFile(path))
        return finish(grayFromGif(std::move(gif), &colour), std::move(colour), options);
    const auto head = readFileHead(path, 8);
    ImageHandle gray = head && hasPngSignature(head->data(), head->size())
                           ? readPngFile(path, kMaxPixelBytes, &colour)
                           : readJpegFile(path, kMaxPixelBytes, &colour);
    return finish(std::move(gray), std::move(colour), options);
}

LoadResult readPictureFromBytes(const uint8_t* data, size_t size, const LoadOptions& options)
{
    if (!options.colour)
        return finish(loadPictureFromBytes(data, size), nullptr, options);
    ImageHandle colour;
    if (ImageHandle gif = decodeGif(data, size))
        return finish(grayFromGif(std::move(gif), &colour), std::move(colour), options);
    ImageHandle gray = hasPngSignature(data, size) ? decodePng(data, size, kMaxPixelBytes, &colour)
                                                   : decodeJpeg(data, size, kMaxPixelBytes, &colour);
    return finish(std::move(gray), std::move(colour), options);
}

ImageHandle loadPicture(const std::string& path)
{
    // GIF first: its decoder checks the signature and fails quietly, while
    // the JPEG library reports every file it does not take on stderr.
    if (ImageHandle gif = readGifFile(path)) {
        grayFromPalette(gif.get());
        return gif;
    }
    // JPEG and PNG pictures arrive gray already and are not converted again.
    // A file that begins with the PNG signature is not given to the JPEG
    // library, which would refuse it anyway (a JPEG stream starts with FF D8)
    // but print a complaint on standard error first; any other file is no
    // PNG picture and is not read a second time for one.
    const auto head = readFileHead(path, 8);
    if (head && hasPngSignature(head->data(), head->size()))
        return readPngFile(path);
    return readJpegFile(path);
}

ImageHandle loadPictureFromBytes(const uint8_t* data, size_t size)
{
    if (ImageHandle gif = decodeGif(data, size)) {
        grayFromPalette(gif.get());
        return gif;
    }
    if (hasPngSignature(data, size))
        return decodePng(data, size);
    return decodeJpeg(data, size);
}

std::string displayNameOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace morvel
