#include "image/colour_picture.h"

#include <algorithm>
#include <cstring>

#include "image/png_reader.h"

namespace morvel {
namespace {

// The JFIF YCbCr to RGB factors in 16-bit fixed point.
constexpr int32_t kScaleBits = 16;
constexpr int32_t kHalf = 1 << (kScaleBits - 1);
constexpr int32_t kCrToRed = 91881;     // 1.402    x 65536
constexpr int32_t kCbToGreen = 22554;   // 0.344136 x 65536
constexpr int32_t kCrToGreen = 46802;   // 0.714136 x 65536
constexpr int32_t kCbToBlue = 116130;   // 1.772    x 65536

uint8_t clampByte(int32_t value)
{
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

bool isEightBit(const ImageRecord& picture)
{
    return picture.header.biBitCount == 8 && picture.rows != nullptr && picture.header.biWidth >= 0;
}

}  // namespace

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

void splitYccRow(const uint8_t* ycc, int32_t width, uint8_t* gray, uint8_t* rgb)
{
    for (int32_t x = 0; x < width; ++x, ycc += 3, rgb += 3) {
        const int32_t luma = ycc[0];
        const int32_t cb = ycc[1] - 128;
        const int32_t cr = ycc[2] - 128;
        gray[x] = ycc[0];
        rgb[0] = clampByte(luma + ((kCrToRed * cr + kHalf) >> kScaleBits));
        rgb[1] = clampByte(luma + ((-kCbToGreen * cb - kCrToGreen * cr + kHalf) >> kScaleBits));
        rgb[2] = clampByte(luma + ((kCbToBlue * cb + kHalf) >> kScaleBits));
    }
}

void splitRgbRow(const uint8_t* rgb, int32_t width, uint8_t* gray, uint8_t* rgbOut)
{
    for (int32_t x = 0; x < width; ++x)
        gray[x] = grayOfRgb(rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2]);
    if (rgbOut)
        std::memcpy(rgbOut, rgb, size_t{3} * static_cast<size_t>(width));
}

}  // namespace morvel
