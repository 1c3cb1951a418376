// The glyph atlas: characters 32..126 drawn black on white, one cell each,
// stacked in one 8-bit gray strip, with the glyph table that says where each
// cell starts and how wide the character is.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "image/image_record.h"

namespace morvel {

class GlyphRenderer;

inline constexpr int32_t kGlyphCount = 95;  // characters 32 (space) .. 126 (~)
inline constexpr int32_t kAtlasMargin = 4;  // blank rows above the first cell, column of every glyph

struct GlyphEntry {
    int32_t code;   // 32 .. 126
    int32_t top;    // atlas row where the cell begins
    int32_t width;  // measured advance in pixels
};

// What matching, blurring and the black-level range read: the atlas picture,
// its glyph table and metrics. Non-owning.
struct AtlasView {
    const ImageRecord* atlas = nullptr;
    const GlyphEntry* glyphs = nullptr;
    int32_t glyphCount = 0;
    int32_t cellHeight = 0;     // h: height of a cell and of a band
    int32_t maxGlyphWidth = 0;  // m: the largest measured width
    int32_t margin = kAtlasMargin;
};

struct BuiltAtlas {
    ImageHandle atlas;
    std::vector<GlyphEntry> glyphs;
    int32_t cellHeight = -1;
    int32_t maxGlyphWidth = -1;
};

// Atlas width for a maximum character width T: margin + 2T rounded up to a
// multiple of 4; -1 when that does not fit 32 bits.
int32_t atlasWidthFor(int32_t maxCharWidth, int32_t margin = kAtlasMargin);

// True when the view describes an 8-bit atlas with a non-empty table whose
// every cell (h rows from its top, its width from the margin column) lies
// inside the atlas and no wider than maxGlyphWidth. Atlases from
// renderGlyphAtlas always pass; the walk checks views from elsewhere.
bool atlasViewIsUsable(const AtlasView& view);

// The most columns of the atlas: a glyph's width fits 16 bits (a text
// image's cells are kept that small).
inline constexpr int32_t kMaxCellSide = 65535;

// Renders the 95 printable characters of `font` into a new atlas. None when
// the font's metrics are unusable (no height, no width, an atlas too large
// to hold or wider than kMaxCellSide, or cells too short for the margin) or memory runs out. A
// character measured wider than the atlas right of the margin gets the
// width that fits (it is drawn clipped there); a negative measure counts 0.
std::optional<BuiltAtlas> renderGlyphAtlas(const GlyphRenderer& font, int32_t margin = kAtlasMargin);

}  // namespace morvel
