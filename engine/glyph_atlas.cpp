#include "engine/glyph_atlas.h"

#include <cstring>
#include <limits>
#include <new>

#include "platform/glyph_renderer.h"

namespace morvel {

namespace {

// Exact 64-bit width so that callers can refuse sizes that do not fit.
int64_t atlasWidth64(int64_t maxCharWidth, int64_t margin)
{
    return (margin + 2 * maxCharWidth + 3) / 4 * 4;
}

}  // namespace

int32_t atlasWidthFor(int32_t maxCharWidth, int32_t margin)
{
    const int64_t width = atlasWidth64(maxCharWidth, margin);
    if (width < 0 || width > std::numeric_limits<int32_t>::max())
        return -1;
    return static_cast<int32_t>(width);
}

bool atlasViewIsUsable(const AtlasView& view)
{
    const ImageRecord* atlas = view.atlas;
    if (!atlas || !atlas->rows || atlas->header.biBitCount != 8 || !view.glyphs || view.glyphCount <= 0 ||
        view.cellHeight <= 0 || view.margin < 0 || view.maxGlyphWidth < 0)
        return false;
    const int64_t width = atlas->header.biWidth;
    for (int32_t g = 0; g < view.glyphCount; ++g) {
        const GlyphEntry& entry = view.glyphs[g];
        if (entry.width < 0 || entry.width > view.maxGlyphWidth || entry.top < 0 ||
            int64_t{entry.top} + view.cellHeight > atlas->rowCount || int64_t{view.margin} + entry.width > width)
            return false;
    }
    return true;
}

std::optional<BuiltAtlas> renderGlyphAtlas(const GlyphRenderer& font, int32_t margin)
{
    const TextMetrics metrics = font.textMetrics();
    const int32_t h = metrics.height;
    const int32_t maxCharWidth = metrics.maxCharWidth;
    if (h <= 0 || maxCharWidth <= 0 || margin < 0)
        return std::nullopt;

    const int64_t width = atlasWidth64(maxCharWidth, margin);
    const int64_t height = (int64_t{h} + 1) * (kGlyphCount + 1);
    // The last cell ends on row M + 95 (h + 1) - 2; with a margin larger than
    // the cell pitch allows (cells of one or two rows) it would hang below
    // the atlas, so such metrics are refused like oversized ones.
    const int64_t cellsEnd = int64_t{margin} + int64_t{kGlyphCount} * (int64_t{h} + 1) - 1;
    if (width > kMaxCellSide || height > std::numeric_limits<int32_t>::max() || cellsEnd > height ||
        width * height > kMaxPixelBytes)
        return std::nullopt;

    BuiltAtlas built;
    built.atlas = makeGrayImage(static_cast<int32_t>(width), static_cast<int32_t>(height));
    if (!built.atlas)
        return std::nullopt;
    ImageRecord& atlas = *built.atlas;
    // White paper everywhere, fill bytes included, before any character is drawn.
    std::memset(atlas.pixels, 255, static_cast<size_t>(recordPitch(atlas) * atlas.rowCount));

    try {
        built.glyphs.reserve(kGlyphCount);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }

    // A cell must lie inside the atlas for matching, blurring and the range
    // to read it. A character measured wider than the room right of the
    // margin is drawn clipped by the atlas edge anyway, so its entry keeps
    // only the part that was drawn; a negative measure means no width.
    const int32_t room = static_cast<int32_t>(width) - margin;
    int32_t y = margin;
    for (int32_t code = 32; code <= 126; ++code) {
        const char c = static_cast<char>(code);
        int32_t measured = font.advanceWidth(c);
        if (measured < 0)
            measured = 0;
        if (measured > room)
            measured = room;
        font.drawChar(atlas, margin, y, c);
        built.glyphs.push_back(GlyphEntry{code, y, measured});
        y += h + 1;
    }

    setGrayColorTable(&atlas);

    built.cellHeight = h;
    built.maxGlyphWidth = 0;
    for (const GlyphEntry& entry : built.glyphs) {
        if (entry.width > built.maxGlyphWidth)
            built.maxGlyphWidth = entry.width;
    }
    return built;
}

}  // namespace morvel
