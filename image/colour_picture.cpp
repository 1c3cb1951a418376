#include "image/colour_picture.h"

#include <cstring>


namespace morvel {
namespace {

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

}  // namespace morvel
