#include "engine/black_level.h"

namespace morvel {

int32_t darkestCellMean(const AtlasView& glyphs)
{
    int32_t lowest = 255;
    const ImageRecord* atlas = glyphs.atlas;
    const int32_t h = glyphs.cellHeight;
    const int32_t left = glyphs.margin;
    if (!atlas || !atlas->rows || !glyphs.glyphs || h <= 0 || left < 0)
        return lowest;

    for (int32_t g = 0; g < glyphs.glyphCount; ++g) {
        const GlyphEntry& entry = glyphs.glyphs[g];
        const int32_t w = entry.width;
        // A cell without width has no mean; one that does not lie inside the
        // atlas is not read.
        if (w <= 0 || entry.top < 0 || int64_t{entry.top} + h > atlas->rowCount ||
            int64_t{left} + w > atlas->header.biWidth)
            continue;
        int64_t sum = 0;
        for (int32_t r = 0; r < h; ++r) {
            const uint8_t* row = atlas->rows[entry.top + r] + left;
            for (int32_t j = 0; j < w; ++j)
                sum += row[j];
        }
        const int64_t mean = sum / (int64_t{h} * w);
        if (mean < lowest)
            lowest = static_cast<int32_t>(mean);
    }
    return lowest;
}

ImageHandle stretchToBlackLevel(const ImageRecord& source, int32_t level)
{
    if (level < 0 || level > 255 || source.header.biBitCount != 8)
        return nullptr;
    ImageHandle working(copyImageRecord(&source));
    if (!working)
        return nullptr;

    const int32_t width = working->header.biWidth;
    const int32_t height = working->rowCount;
    if (width <= 0 || height <= 0 || !working->rows)
        return working;

    // Only real pixels count: the fill bytes past the width are skipped.
    int32_t lo = 255;
    int32_t hi = 0;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = working->rows[y];
        for (int32_t x = 0; x < width; ++x) {
            if (row[x] < lo)
                lo = row[x];
            if (row[x] > hi)
                hi = row[x];
        }
    }
    if (lo == hi)
        return working;

    const int32_t span = hi - lo;
    const int32_t reach = 255 - level;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = working->rows[y];
        for (int32_t x = 0; x < width; ++x)
            row[x] = static_cast<uint8_t>(level + (row[x] - lo) * reach / span);
    }
    return working;
}

}  // namespace morvel
