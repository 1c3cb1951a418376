#include "image/read_error.h"

#include "image/file_bytes.h"

namespace morvel {

const char* formatName(PictureFormat format)
{
    switch (format) {
    case PictureFormat::Gif:
        return "GIF";
    case PictureFormat::Png:
        return "PNG";
    case PictureFormat::Jpeg:
        return "JPEG";
    case PictureFormat::Webp:
        return "WebP";
    case PictureFormat::Heif:
        return "HEIF";
    case PictureFormat::Tiff:
        return "TIFF";
    case PictureFormat::Bmp:
        return "BMP";
    case PictureFormat::Unknown:
        break;
    }
    return "picture";
}

std::string messageOf(const ReadError& error)
{
    const std::string name = formatName(error.format);
    const std::string detail = error.detail.empty() ? "" : " (" + error.detail + ")";
    switch (error.failure) {
    case ReadFailure::None:
        return {};
    case ReadFailure::NotAPicture:
        return kNotAPictureReason;
    case ReadFailure::CannotOpen:
        return error.detail.empty() ? "cannot be read" : error.detail;
    case ReadFailure::TooLarge:
        return kTooLargeReason;
    case ReadFailure::Damaged:
        return "damaged " + name + " data" + detail;
    case ReadFailure::Unsupported:
        return "unsupported " + name + " " + (error.detail.empty() ? "variant" : error.detail);
    case ReadFailure::DecoderLimit:
        return name + " picture too large to decode" + (error.detail.empty() ? "" : " in " + error.detail);
    case ReadFailure::NoMemory:
        return "out of memory";
    case ReadFailure::NotInstalled:
        return name + " support is not installed" + detail;
    }
    return {};
}

bool fail(ReadError* out, ReadFailure failure, PictureFormat format, std::string detail)
{
    if (out != nullptr)
        *out = ReadError{failure, format, std::move(detail)};
    return false;
}

}  // namespace morvel
