#include "image/gray_conversion.h"

#include <cmath>

#include "image/image_record.h"

namespace morvel {

void grayLevelsOfPalette(const RgbQuad* colors, uint8_t* levels)
{
    // Brightness of each table entry as the length of its colour vector,
    // rounded to the nearest whole number (0 to 442).
    int magnitude[256];
    int minimum = 460;
    int maximum = -1;
    for (int i = 0; i < 256; ++i) {
        const RgbQuad& c = colors[i];
        const int squares = c.rgbRed * c.rgbRed + c.rgbGreen * c.rgbGreen + c.rgbBlue * c.rgbBlue;
        magnitude[i] = static_cast<int>(std::sqrt(static_cast<double>(squares)) + 0.5);
        if (magnitude[i] < minimum)
            minimum = magnitude[i];
        if (magnitude[i] > maximum)
            maximum = magnitude[i];
    }

    // Stretch the magnitudes so the darkest entry is 0 and the brightest 255.
    // When every entry has the same magnitude there is nothing to stretch;
    // the entries then keep their place on the full magnitude scale (0 to
    // 442 onto 0 to 255), so an all-black table stays black, an all-white
    // one white, and anything between a matching middle gray.
    for (int i = 0; i < 256; ++i) {
        const int gray =
            maximum > minimum ? ((magnitude[i] - minimum) * 255) / (maximum - minimum) : (magnitude[i] * 255) / 442;
        levels[i] = static_cast<uint8_t>(gray);
    }
}

void grayFromPalette(ImageRecord* record)
{
    if (!record || record->header.biBitCount != 8)
        return;
    uint8_t level[256];
    grayLevelsOfPalette(record->colors, level);

    // Real pixels only: the fill bytes at the row ends are left as they are.
    if (record->rows) {
        for (int32_t y = 0; y < record->rowCount; ++y) {
            uint8_t* row = record->rows[y];
            for (int32_t x = 0; x < record->header.biWidth; ++x)
                row[x] = level[row[x]];
        }
    }

    setGrayColorTable(record);
}

}  // namespace morvel
