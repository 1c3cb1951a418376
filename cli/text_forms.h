// The forms a text image takes besides plain lines: the page's look for
// HTML, the inks and grounds of filled cells, and the text drawn as a PNG
// or SVG picture.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/cell_colours.h"
#include "cli/colour_text.h"
#include "cli/fill_colours.h"
#include "cli/html_page.h"
#include "cli/options.h"
#include "engine/glyph_atlas.h"
#include "engine/text_engine.h"

namespace morvel {
class Font;
}

namespace morvel::cli {

// The page's look: the face drawn, its size, the cell height, the walk's
// advances, light on dark for an inverted picture (or a dark background).
HtmlStyle htmlStyleOf(const TextEngine& engine, const Options& o);

// The inks of `fills` into `inks` and their grounds into `grounds`; both
// emptied when there are no fills.
void splitFills(const std::vector<CellFill>& fills, std::vector<Rgb>& inks, std::vector<Rgb>& grounds);

// The text as a PNG or SVG picture (see writeTextPicture): drawn from
// `glyphs`, the unblurred atlas of the face matched, coloured as `mode`
// shows `colours`. None when it cannot be made.
std::optional<std::string> textPicture(const std::string& text, const AtlasView& glyphs, const Font& font,
                                       const Options& o, const std::vector<Rgb>& colours, int32_t lineCount,
                                       ColourMode mode);

}  // namespace morvel::cli
