#include "image/load_picture.h"

#include <cstring>

#include "image/bmp_reader.h"
#include "image/colour_picture.h"
#include "image/file_bytes.h"
#include "image/fitted_gif.h"
#include "image/heif_reader.h"
#include "image/jpeg_reader.h"
#include "image/orientation.h"
#include "image/png_reader.h"
#include "image/tiff_reader.h"
#include "image/webp_reader.h"

namespace morvel {

namespace {

// The format the bytes begin with, by signature.
PictureFormat formatOf(const uint8_t* data, size_t size)
{
    if (size >= 4 && std::memcmp(data, "GIF8", 4) == 0)
        return PictureFormat::Gif;
    if (hasPngSignature(data, size))
        return PictureFormat::Png;
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8)
        return PictureFormat::Jpeg;
    if (hasWebpSignature(data, size))
        return PictureFormat::Webp;
    if (hasHeifSignature(data, size))
        return PictureFormat::Heif;
    if (hasTiffSignature(data, size))
        return PictureFormat::Tiff;
    if (hasBmpSignature(data, size))
        return PictureFormat::Bmp;
    return PictureFormat::Unknown;
}

// Turns the loaded pictures upright by `orientation` when asked.
void orient(LoadResult& result, int orientation, const LoadOptions& options)
{
    if (!options.orient || orientation < 2 || orientation > 8)
        return;
    for (ImageHandle* picture : {&result.gray, &result.colour}) {
        // Without memory for the turned copy, the picture stays as stored.
        if (*picture) {
            if (ImageHandle turned = turnUpright(**picture, orientation))
                *picture = std::move(turned);
        }
    }
}

// The options as the decoders see them: a decoder asks the fit with the
// stored picture's size and shrinks the stored picture, which is turned
// upright afterwards, while the fit is given the upright size. For the
// orientations that exchange the sides, the sizes are exchanged both ways.
LoadOptions storedOptions(const LoadOptions& options, int orientation)
{
    if (!options.fit || !options.orient || !swapsSides(orientation))
        return options;
    LoadOptions stored = options;
    stored.fit = [fit = options.fit](int32_t width, int32_t height) -> std::optional<PictureSize> {
        const std::optional<PictureSize> upright = fit(height, width);
        if (!upright)
            return std::nullopt;
        return PictureSize{upright->height, upright->width};
    };
    return stored;
}

// Where a picture's bytes are: a file, read as its decoder goes, or bytes
// in memory (WebP, HEIF, TIFF and BMP files are read whole first).
struct PictureSource {
    const std::string* path = nullptr;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The gray picture of `format` from `source`, at the size `stored` asks for
// (and its colour into `colour`, when given), or none with the reason in
// `error`. A GIF that ends early says so in `warning`.
ImageHandle decodeGray(PictureFormat format, const PictureSource& source, const LoadOptions& stored,
                       ImageHandle* colour, ReadError* error, std::string* warning)
{
    const std::string* path = source.path;
    switch (format) {
    case PictureFormat::Gif: {
        std::optional<ImageHandle> gif = path ? readGifGray(*path, stored, colour, error, warning)
                                              : decodeGifGray(source.data, source.size, stored, colour, error, warning);
        return gif ? std::move(*gif) : nullptr;
    }
    case PictureFormat::Png:
        return path ? readPngFile(*path, kMaxPixelBytes, stored, colour, error)
                    : decodePng(source.data, source.size, kMaxPixelBytes, stored, colour, error);
    case PictureFormat::Jpeg:
        return path ? readJpegFile(*path, kMaxPixelBytes, error, stored, colour)
                    : decodeJpeg(source.data, source.size, kMaxPixelBytes, error, stored, colour);
    case PictureFormat::Webp:
        return decodeWebp(source.data, source.size, kMaxPixelBytes, error, stored, colour);
    case PictureFormat::Heif:
        return decodeHeif(source.data, source.size, kMaxPixelBytes, error, stored, colour);
    case PictureFormat::Tiff:
        return decodeTiff(source.data, source.size, kMaxPixelBytes, error, stored, colour);
    case PictureFormat::Bmp:
        return decodeBmp(source.data, source.size, kMaxPixelBytes, error, stored, colour);
    case PictureFormat::Unknown:
        break;
    }
    fail(error, ReadFailure::NotAPicture, format);
    return nullptr;
}

// The load sequence once the format and the orientation are known.
LoadResult load(PictureFormat format, int orientation, const PictureSource& source, const LoadOptions& options)
{
    LoadResult result;
    const LoadOptions stored = storedOptions(options, orientation);
    ImageHandle colour;
    result.gray =
        decodeGray(format, source, stored, options.colour ? &colour : nullptr, &result.failure, &result.warning);
    if (!result.gray) {
        // A reader that gave up without a word has met damage.
        if (!result.failure)
            result.failure = ReadError{ReadFailure::Damaged, format, {}};
        result.error = messageOf(result.failure);
        return result;
    }
    // A JPEG completed past damage: its words as the warning.
    const std::string& damage = result.failure.detail;
    if (format == PictureFormat::Jpeg && !damage.empty())
        result.warning =
            damage == kJpegEndsEarly ? endsEarlyWarning(kJpegFillLevel) : "damaged JPEG data (" + damage + ")";
    result.failure = {};
    // The colour comes from the gray picture's own decode; the picture is
    // never decoded again for it. Where that decode could not give it (its
    // block past the limit, no memory), the gray stands in for it.
    if (options.colour)
        result.colour = colour ? std::move(colour) : colourFromGray(*result.gray);
    orient(result, orientation, options);
    return result;
}

LoadResult refused(ReadFailure failure, std::string detail = {})
{
    LoadResult result;
    result.failure = ReadError{failure, PictureFormat::Unknown, std::move(detail)};
    result.error = messageOf(result.failure);
    return result;
}

}  // namespace

std::string endsEarlyWarning(uint8_t fillLevel)
{
    const char* fill = fillLevel == 0 ? "black" : fillLevel == 255 ? "white" : "gray";
    return std::string("picture ends early; the rest is drawn as ") + fill;
}

LoadResult readPicture(const std::string& path, const LoadOptions& options)
{
    std::string why;
    const auto head = readFileHead(path, kSignatureBytes, &why);
    if (!head)
        return refused(ReadFailure::CannotOpen, why);
    const PictureFormat format = formatOf(head->data(), head->size());
    if (format == PictureFormat::Unknown)
        return refused(ReadFailure::NotAPicture);
    if (format != PictureFormat::Gif && format != PictureFormat::Png && format != PictureFormat::Jpeg) {
        const auto bytes = readFileBytes(path, kMaxFileBytes, &why);
        if (!bytes)
            return refused(why == kTooLargeReason ? ReadFailure::TooLarge : ReadFailure::CannotOpen, why);
        return readPictureFromBytes(bytes->data(), bytes->size(), options);
    }
    const int orientation = readFileOrientation(path);
    PictureSource source;
    source.path = &path;
    return load(format, orientation, source, options);
}

LoadResult readPictureFromBytes(const uint8_t* data, size_t size, const LoadOptions& options)
{
    if (data == nullptr)
        return refused(ReadFailure::NotAPicture);
    if (size > static_cast<size_t>(kMaxFileBytes))
        return refused(ReadFailure::TooLarge);
    const PictureFormat format = formatOf(data, size);
    if (format == PictureFormat::Unknown)
        return refused(ReadFailure::NotAPicture);
    return load(format, readOrientation(data, size), PictureSource{nullptr, data, size}, options);
}

bool beginsLikeAPicture(const uint8_t* data, size_t size)
{
    return data != nullptr && formatOf(data, size) != PictureFormat::Unknown;
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
