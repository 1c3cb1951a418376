#include "image/load_picture.h"

#include <cstring>

#include "image/colour_load.h"
#include "image/colour_picture.h"
#include "image/file_bytes.h"
#include "image/fitted_gif.h"
#include "image/jpeg_reader.h"
#include "image/orientation.h"
#include "image/png_reader.h"

namespace morvel {

namespace {

// How much of a file's beginning is looked at for its kind and its EXIF
// orientation (a JPEG's Exif segment is at most 64 KiB and comes before the
// image data; a PNG's eXIf chunk usually does too).
constexpr size_t kHeadBytes = 256 * 1024;

constexpr const char* kNotAPicture = "not a GIF, JPEG or PNG file";

enum class PictureKind {
    Gif,
    Png,
    Jpeg,
    Other
};

// The kind of picture the bytes begin with, by signature.
PictureKind kindOf(const uint8_t* data, size_t size)
{
    if (size >= 4 && std::memcmp(data, "GIF8", 4) == 0)
        return PictureKind::Gif;
    if (hasPngSignature(data, size))
        return PictureKind::Png;
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8)
        return PictureKind::Jpeg;
    return PictureKind::Other;
}

// True when a PNG header declares a picture whose gray block would pass
// the limit (the reader then gives none for that reason).
bool pngTooLarge(const uint8_t* data, size_t size)
{
    if (size < 24)
        return false;
    const auto field = [data](size_t at) {
        return uint32_t{data[at]} << 24 | uint32_t{data[at + 1]} << 16 | uint32_t{data[at + 2]} << 8 | data[at + 3];
    };
    return imageRowPitch(field(16), 8) * static_cast<int64_t>(field(20)) > kMaxPixelBytes;
}

// True when the first image of a GIF declares a pixel block past the limit
// (the decoder then gives none for that reason). Reads only the bytes given:
// the header, the colour table and the extensions before the first image.
bool gifTooLarge(const uint8_t* data, size_t size)
{
    if (size < 13)
        return false;
    size_t at = 13;
    if ((data[10] & 0x80) != 0)
        at += size_t{3} << ((data[10] & 7) + 1);
    while (at < size) {
        if (data[at] == 0x2C) {
            if (size - at < 9)
                return false;
            const int64_t width = data[at + 5] | data[at + 6] << 8;
            const int64_t height = data[at + 7] | data[at + 8] << 8;
            return imageRowPitch(width, 8) * height > kMaxPixelBytes;
        }
        if (data[at] != 0x21 || size - at < 2)
            return false;
        // An extension: its label, then sub-blocks up to an empty one.
        at += 2;
        while (at < size && data[at] != 0)
            at += size_t{data[at]} + 1;
        ++at;
    }
    return false;
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

// The reason for a picture of `kind` that its decoder gave up.
std::string damaged(PictureKind kind, const uint8_t* head, size_t headSize)
{
    switch (kind) {
    case PictureKind::Gif:
        return gifTooLarge(head, headSize) ? kTooLargeReason : "damaged GIF data";
    case PictureKind::Png:
        return pngTooLarge(head, headSize) ? kTooLargeReason : "damaged PNG data";
    default:
        return "damaged JPEG data";
    }
}

// The picture's colour at the gray picture's size: `sameDecode`, when the
// gray picture's decode gave it, or else `decodeApart()` (a decode of its
// own at the stored size) brought to that size; when neither gives one (no
// memory for it), the gray as colour.
template <typename DecodeApart>
ImageHandle colourBeside(ImageHandle sameDecode, DecodeApart decodeApart, const ImageRecord& gray)
{
    if (sameDecode)
        return sameDecode;
    if (ImageHandle apart = fitColour(decodeApart(), gray.header.biWidth, gray.rowCount))
        return apart;
    return colourFromGray(gray);
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

}  // namespace

LoadResult readPicture(const std::string& path, const LoadOptions& options)
{
    LoadResult result;
    const auto head = readFileHead(path, kHeadBytes, &result.error);
    if (!head)
        return result;
    const PictureKind kind = kindOf(head->data(), head->size());
    if (kind == PictureKind::Other) {
        result.error = kNotAPicture;
        return result;
    }
    // GIF files are read whole; JPEG and PNG files stream through their
    // libraries, whatever their size.
    const auto fileSize = regularFileSize(path);
    if (kind == PictureKind::Gif && fileSize && *fileSize > kMaxFileBytes) {
        result.error = kTooLargeReason;
        return result;
    }
    const int orientation = readOrientation(head->data(), head->size());
    const LoadOptions stored = storedOptions(options, orientation);
    ImageHandle colour;
    ImageHandle* const colourOut = options.colour ? &colour : nullptr;
    switch (kind) {
    case PictureKind::Gif:
        if (std::optional<ImageHandle> gif = readGifGray(path, stored, colourOut))
            result.gray = std::move(*gif);
        break;
    case PictureKind::Png:
        result.gray = readPngFile(path, kMaxPixelBytes, stored, colourOut);
        break;
    default: {
        std::string why;
        result.gray = readJpegFile(path, kMaxPixelBytes, &why, stored, colourOut);
        if (!result.gray)
            result.error = why;
        break;
    }
    }
    if (!result.gray) {
        if (result.error.empty())
            result.error = damaged(kind, head->data(), head->size());
        return result;
    }
    if (options.colour)
        result.colour = colourBeside(
            std::move(colour), [&path, &options] { return readColour(path, options.background); }, *result.gray);
    orient(result, orientation, options);
    return result;
}

LoadResult readPictureFromBytes(const uint8_t* data, size_t size, const LoadOptions& options)
{
    LoadResult result;
    if (data == nullptr || size > static_cast<size_t>(kMaxFileBytes)) {
        result.error = data == nullptr ? kNotAPicture : kTooLargeReason;
        return result;
    }
    const PictureKind kind = kindOf(data, size);
    const int orientation = readOrientation(data, size);
    const LoadOptions stored = storedOptions(options, orientation);
    ImageHandle colour;
    ImageHandle* const colourOut = options.colour ? &colour : nullptr;
    switch (kind) {
    case PictureKind::Gif:
        if (std::optional<ImageHandle> gif = decodeGifGray(data, size, stored, colourOut))
            result.gray = std::move(*gif);
        break;
    case PictureKind::Png:
        result.gray = decodePng(data, size, kMaxPixelBytes, stored, colourOut);
        break;
    case PictureKind::Jpeg: {
        std::string why;
        result.gray = decodeJpeg(data, size, kMaxPixelBytes, &why, stored, colourOut);
        if (!result.gray)
            result.error = why;
        break;
    }
    case PictureKind::Other:
        result.error = kNotAPicture;
        return result;
    }
    if (!result.gray) {
        if (result.error.empty())
            result.error = damaged(kind, data, size);
        return result;
    }
    if (options.colour)
        result.colour = colourBeside(
            std::move(colour), [data, size, &options] { return decodeColour(data, size, options.background); },
            *result.gray);
    orient(result, orientation, options);
    return result;
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
