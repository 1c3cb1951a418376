#include "image/colour_picture.h"

#include <algorithm>
#include <cstring>

#include "image/row_enlarger.h"
#include "image/row_shrinker.h"

namespace morvel {
namespace {

bool isEightBit(const ImageRecord& picture)
{
    return picture.header.biBitCount == 8 && picture.rows != nullptr && picture.header.biWidth >= 0;
}

// Fixed-point weights of the YCbCr to RGB conversion: x * 65536 rounded.
constexpr int32_t kCrToRed = 91881;    // 1.40200
constexpr int32_t kCbToGreen = 22554;  // 0.34414
constexpr int32_t kCrToGreen = 46802;  // 0.71414
constexpr int32_t kCbToBlue = 116130;  // 1.77200
constexpr int32_t kHalf = 1 << 15;

uint8_t clampLevel(int32_t level)
{
    return static_cast<uint8_t>(std::clamp(level, 0, 255));
}

}  // namespace

void rgbOfYcc(uint8_t y, uint8_t cb, uint8_t cr, uint8_t* rgb)
{
    const int32_t b = cb - 128;
    const int32_t r = cr - 128;
    // Right shifts of negative sums round towards minus infinity, so adding
    // a half before the shift rounds half up either way.
    rgb[0] = clampLevel(y + ((kCrToRed * r + kHalf) >> 16));
    rgb[1] = clampLevel(y + ((-kCbToGreen * b - kCrToGreen * r + kHalf) >> 16));
    rgb[2] = clampLevel(y + ((kCbToBlue * b + kHalf) >> 16));
}

void rgbOfInks(const uint8_t* inks, bool inverted, uint8_t* rgb)
{
    const uint32_t black = inverted ? inks[3] : 255u - inks[3];
    for (int c = 0; c < 3; ++c) {
        const uint32_t ink = inverted ? inks[c] : 255u - inks[c];
        rgb[c] = static_cast<uint8_t>((ink * black + 127) / 255);
    }
}

ImageHandle fitColour(ImageHandle colour, int32_t width, int32_t height)
{
    if (!colour || colour->header.biBitCount != 24 || colour->rows == nullptr || width < 1 || height < 1)
        return nullptr;
    const int32_t sourceWidth = colour->header.biWidth;
    const int32_t sourceHeight = colour->rowCount;
    if (width == sourceWidth && height == sourceHeight)
        return colour;
    // As resizeGray: the directions that shrink first, then those that grow.
    const int32_t shrunkWidth = std::min(width, sourceWidth);
    const int32_t shrunkHeight = std::min(height, sourceHeight);
    if (shrunkWidth != sourceWidth || shrunkHeight != sourceHeight) {
        ImageHandle shrunk = makeColourImage(shrunkWidth, shrunkHeight);
        if (!shrunk)
            return nullptr;
        RowShrinker shrinker(sourceWidth, sourceHeight, shrunkWidth, shrunkHeight, 3, shrunk->rows);
        if (!shrinker.ready())
            return nullptr;
        for (int32_t y = 0; y < sourceHeight; ++y)
            shrinker.addRow(colour->rows[y]);
        colour = std::move(shrunk);
    }
    if (shrunkWidth == width && shrunkHeight == height)
        return colour;
    ImageHandle fitted = makeColourImage(width, height);
    RowEnlarger enlarger(colour->rows, shrunkWidth, shrunkHeight, width, height, 3);
    if (!fitted || !enlarger.ready())
        return nullptr;
    for (int32_t y = 0; y < height; ++y)
        enlarger.row(y, fitted->rows[y]);
    return fitted;
}

ImageHandle makeColourImage(int32_t width, int32_t rowCount)
{
    ImageHandle picture(createImageRecord());
    if (!picture || !shapeImageRecord(picture.get(), width, rowCount, 24))
        return nullptr;
    clearRowFill(*picture);
    return picture;
}

ImageHandle colourFromPalette(const ImageRecord& palettePicture)
{
    if (!isEightBit(palettePicture))
        return nullptr;
    const int32_t width = palettePicture.header.biWidth;
    ImageHandle colour = makeColourImage(width, palettePicture.rowCount);
    if (!colour)
        return nullptr;
    for (int32_t y = 0; y < palettePicture.rowCount; ++y) {
        const uint8_t* from = palettePicture.rows[y];
        uint8_t* to = colour->rows[y];
        for (int32_t x = 0; x < width; ++x, to += 3) {
            const RgbQuad& entry = palettePicture.colors[from[x]];
            to[0] = entry.rgbRed;
            to[1] = entry.rgbGreen;
            to[2] = entry.rgbBlue;
        }
    }
    return colour;
}

ImageHandle colourFromGray(const ImageRecord& gray)
{
    if (!isEightBit(gray))
        return nullptr;
    const int32_t width = gray.header.biWidth;
    ImageHandle colour = makeColourImage(width, gray.rowCount);
    if (!colour)
        return nullptr;
    for (int32_t y = 0; y < gray.rowCount; ++y) {
        const uint8_t* from = gray.rows[y];
        uint8_t* to = colour->rows[y];
        for (int32_t x = 0; x < width; ++x, to += 3)
            std::memset(to, from[x], 3);
    }
    return colour;
}

}  // namespace morvel
