#include "cli/cell_colours.h"

#include <algorithm>

namespace morvel::cli {

Span coveredSpan(int64_t from, int64_t to, int64_t contentSize, int64_t colourSize)
{
    from = std::min(from, contentSize - 1);
    to = std::clamp(to, from + 1, contentSize);
    const int64_t first = from * colourSize / contentSize;
    const int64_t last = std::max(first + 1, (to * colourSize + contentSize - 1) / contentSize);
    return {first, std::min(last, colourSize)};
}

namespace {}  // namespace

GlyphAdvances glyphAdvances(const AtlasView& glyphs)
{
    GlyphAdvances advances;
    advances.fill(1);
    for (int32_t g = 0; g < glyphs.glyphCount; ++g) {
        const GlyphEntry& entry = glyphs.glyphs[g];
        if (entry.code >= 0 && entry.code < 128)
            advances[static_cast<size_t>(entry.code)] = std::max(entry.width, 1);
    }
    return advances;
}

std::vector<Rgb> cellColours(const TextImage& image, const ImageRecord& colour)
{
    const std::vector<TextCell>& cells = image.cells;
    const PictureSize content = image.content;
    std::vector<Rgb> colours;
    const int64_t colourWidth = colour.header.biWidth;
    const int64_t colourHeight = colour.rowCount;
    if (colour.header.biBitCount != 24 || colour.rows == nullptr || colourWidth < 1 || colourHeight < 1 ||
        content.width < 1 || content.height < 1)
        return colours;

    colours.reserve(cells.size());
    for (const TextCell& cell : cells) {
        const Span rows = coveredSpan(cell.y, int64_t{cell.y} + image.cellHeight, content.height, colourHeight);
        const Span columns = coveredSpan(cell.x, int64_t{cell.x} + cell.width, content.width, colourWidth);
        uint64_t sums[3] = {0, 0, 0};
        for (int64_t y = rows.first; y < rows.last; ++y) {
            const uint8_t* pixel = colour.rows[y] + columns.first * 3;
            for (int64_t c = columns.first; c < columns.last; ++c, pixel += 3) {
                sums[0] += pixel[0];
                sums[1] += pixel[1];
                sums[2] += pixel[2];
            }
        }
        const uint64_t count = static_cast<uint64_t>((rows.last - rows.first) * (columns.last - columns.first));
        colours.push_back({static_cast<uint8_t>((sums[0] + count / 2) / count),
                           static_cast<uint8_t>((sums[1] + count / 2) / count),
                           static_cast<uint8_t>((sums[2] + count / 2) / count)});
    }
    return colours;
}

}  // namespace morvel::cli
