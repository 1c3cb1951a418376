// What the glyph atlas needs from a font: its metrics, the advance of each
// character, and drawing one character black on white into a gray raster.
// The real font layer implements it on FreeType; tests implement it with
// synthetic glyphs of exactly known shape.
#pragma once

#include <cstdint>

namespace morvel {

struct ImageRecord;

struct TextMetrics {
    int32_t height;        // cell height: ascent + descent, whole pixels
    int32_t maxCharWidth;  // the widest advance the font declares
};

class GlyphRenderer {
public:
    virtual ~GlyphRenderer() = default;

    virtual TextMetrics textMetrics() const = 0;

    // Width in pixels of the one-character string `c` (its advance).
    virtual int32_t advanceWidth(char c) const = 0;

    // Draws `c` black on white with its cell's top-left corner at (x, y) into
    // an 8-bit gray record (paper 255, ink 0, edge shades as their gray
    // levels). The cell is filled with paper first, as an opaque text
    // background would; ink that would overhang the cell (its advance wide,
    // the cell height high) is left out, and nothing outside the cell or the
    // record is touched.
    virtual void drawChar(ImageRecord& raster, int32_t x, int32_t y, char c) const = 0;
};

}  // namespace morvel
