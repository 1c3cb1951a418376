// A synthetic font for tests: glyphs of exactly known shape drawn into the
// raster the way the real font layer does (cell filled with paper, then ink),
// with metrics and advances chosen by the test.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/glyph_atlas.h"
#include "image/image_record.h"
#include "platform/glyph_renderer.h"

namespace morvel::testing {

class FakeFont : public GlyphRenderer {
public:
    using WidthRule = std::function<int32_t(char c)>;
    // Gray level of the glyph of `c` at (row, column) of its cell.
    using ShapeRule = std::function<uint8_t(char c, int32_t row, int32_t column)>;

    FakeFont(int32_t height, int32_t maxCharWidth, WidthRule width = {}, ShapeRule shape = {})
        : height_(height), maxCharWidth_(maxCharWidth), width_(std::move(width)), shape_(std::move(shape))
    {}

    // Cells 12 rows by 7 columns; every advance 7; bar glyphs.
    static FakeFont monospaced() { return FakeFont(12, 7); }

    // Cells 12 rows high, declared maximum 7; the advance of character
    // 32 + k is 1 + k % 7, so the space is 1 wide and 7 is the widest.
    static FakeFont proportional()
    {
        return FakeFont(12, 7, [](char c) { return 1 + (static_cast<int32_t>(c) - 32) % 7; });
    }

    // The default shape: the space is blank; character 32 + k (k >= 1) is a
    // black bar standing on the cell's bottom, 1 + (k - 1) % height rows tall,
    // covering every column but the last (the only column of a 1-wide cell).
    uint8_t pixel(char c, int32_t row, int32_t column) const
    {
        if (shape_)
            return shape_(c, row, column);
        const int32_t k = static_cast<int32_t>(c) - 32;
        if (k <= 0)
            return 255;
        const int32_t barRows = 1 + (k - 1) % height_;
        const int32_t w = advanceWidth(c);
        const int32_t inkColumns = w > 1 ? w - 1 : 1;
        return row >= height_ - barRows && column < inkColumns ? 0 : 255;
    }

    TextMetrics textMetrics() const override { return TextMetrics{height_, maxCharWidth_}; }

    int32_t advanceWidth(char c) const override { return width_ ? width_(c) : maxCharWidth_; }

    void drawChar(ImageRecord& raster, int32_t x, int32_t y, char c) const override
    {
        ++drawCount;
        const int32_t w = advanceWidth(c);
        for (int32_t r = 0; r < height_; ++r) {
            const int64_t row = int64_t{y} + r;
            if (row < 0 || row >= raster.rowCount)
                continue;
            for (int32_t j = 0; j < w; ++j) {
                const int64_t column = int64_t{x} + j;
                if (column < 0 || column >= raster.header.biWidth)
                    continue;
                raster.rows[row][column] = pixel(c, r, j);
            }
        }
    }

    mutable int32_t drawCount = 0;

private:
    int32_t height_;
    int32_t maxCharWidth_;
    WidthRule width_;
    ShapeRule shape_;
};

// An 8-bit gray picture filled with one level, or none.
inline ImageHandle filledGrayImage(int32_t width, int32_t rows, uint8_t level)
{
    ImageHandle image = makeGrayImage(width, rows);
    if (image) {
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < width; ++x)
                image->rows[y][x] = level;
    }
    return image;
}

// The view the matching steps read of a built atlas.
inline AtlasView viewOf(const BuiltAtlas& built)
{
    AtlasView view;
    view.atlas = built.atlas.get();
    view.glyphs = built.glyphs.data();
    view.glyphCount = static_cast<int32_t>(built.glyphs.size());
    view.cellHeight = built.cellHeight;
    view.maxGlyphWidth = built.maxGlyphWidth;
    return view;
}

}  // namespace morvel::testing
