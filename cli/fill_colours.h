// Filled cells: each character of a coloured text image gets a background
// (ground) colour as well as its own (ink) colour, chosen so that the cell,
// seen from a distance, shows the picture's mean colour under it while the
// character still stands out from its ground and shows its shape.
//
// A cell seen from afar mixes the light of its ink and its ground in the
// share the glyph covers: coverage x ink + (1 - coverage) x ground, in linear
// light. The ink takes the picture's colour where the glyph has ink, the
// ground where it has none; where the two are too alike for the character
// to show, they are taken apart from the mean in opposite directions by
// amounts that cancel in that mix, as far as the gamut lets them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/cell_colours.h"
#include "cli/colour_text.h"
#include "engine/glyph_atlas.h"
#include "image/image_record.h"
#include "image/load_picture.h"

namespace morvel::cli {

// Where each character's glyph puts ink: for each character code, the
// cover (0 paper to 1 ink) of each pixel of its cell, row by row, from the
// atlas as built, black on white, before any blur; and the mean cover.
struct GlyphInk {
    int32_t cellHeight = 0;
    std::array<int32_t, 128> width{};
    std::array<std::vector<float>, 128> cover;
    std::array<double, 128> share{};
};
GlyphInk glyphInkOf(const AtlasView& unblurred);

// The ink and ground of one cell.
struct CellFill {
    Rgb ink;
    Rgb ground;
    friend bool operator==(const CellFill&, const CellFill&) = default;
};

// The ink and ground of a cell whose mean colour is `mean` and whose glyph
// covers `coverage` of it, parted by `apart` in CIE lightness where there is
// room (less where black, white or a saturated colour leave none) while
// their mix stays `mean`. The ink is darker than the ground unless
// `lightInk` (light text on a dark ground, as an inverted picture is
// matched); where that way leaves less room than the other, the other is
// taken. A space is its mean colour throughout.
CellFill partedFill(Rgb mean, double coverage, bool lightInk, double apart);

// The fill of every cell of `image` (each naming its character), in their
// order. The walk ran over a picture whose top-left `image.content` pixels
// are the picture itself; `colour` (24-bit) is that picture at any size,
// laid over it. Each cell's ink and ground are, per channel, the pair whose
// mix, pixel by pixel in the glyph's cover, comes nearest the picture under
// the cell in linear light (least squares; so the two mix to the cell's mean
// colour and the character follows what the picture does inside the cell);
// where these are less than 15 CIE lightness steps apart, they are
// parted as partedFill does, the ink lighter where the picture under it is
// lighter by 2 steps or more, darker where it is darker, else as `lightInk`
// says. `mode` shows them: for the palettes each is the
// entry nearest the one wanted. Empty when `colour` is not a 24-bit
// picture, `content` is empty, or `mode` is ColourMode::None.
std::vector<CellFill> fillColours(const TextImage& image, const GlyphInk& ink, const ImageRecord& colour, bool lightInk,
                                  ColourMode mode);

}  // namespace morvel::cli
