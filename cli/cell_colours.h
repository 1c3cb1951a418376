// The colour of each character of a text image: the mean colour of the
// picture under the character's cell, the cells as the engine's text image
// gives them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/glyph_atlas.h"
#include "engine/text_image.h"
#include "image/image_record.h"
#include "image/load_picture.h"

namespace morvel::cli {

struct Rgb {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// How far the walk moves on after each character code: its glyph's width,
// at least 1 (as the walk moves on past a glyph measured 0 wide); 1 for
// codes outside the table.
using GlyphAdvances = std::array<int32_t, 128>;
GlyphAdvances glyphAdvances(const AtlasView& glyphs);

// The span of `colour` pixels [first, last) in one direction that a cell's
// span [from, to) of the walked picture (`contentSize` long) covers.
// Positions in the repeated edge clamp to the content's last pixel; every
// span holds at least one pixel.
struct Span {
    int64_t first;
    int64_t last;
};
Span coveredSpan(int64_t from, int64_t to, int64_t contentSize, int64_t colourSize);

// The colour of every cell of `image`, in their order. The walk ran over a
// picture whose top-left `image.content` pixels are the picture itself (the
// rest its edges repeated); `colour` (24-bit, red green blue) is that
// picture at any size, so a cell's mean is taken over the part of `colour`
// the cell covers once both are laid over each other. Empty when `colour`
// is not a 24-bit picture or the content is empty.
std::vector<Rgb> cellColours(const TextImage& image, const ImageRecord& colour);

}  // namespace morvel::cli
