// The one call that turns a gray picture into a text image: the settings
// (match mode, black level, tone curve, characters, output size, inversion)
// and the result (the text, and for each character of its picture lines
// the cell of the walked picture it stands for). The converter and the
// window both make their text through it (TextEngine::makeTextImage).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/generator.h"
#include "engine/glyph_atlas.h"
#include "engine/text_fit.h"
#include "engine/tone_match.h"

namespace morvel {

struct TextSettings {
    MatchMode mode = MatchMode::Correlation;
    // The black level 0..255, or the black-level range's maximum (in tone
    // mode the densest candidate's tone). In tone mode the lower end of the
    // curve, never below the densest candidate's tone.
    int32_t blackLevel = 0;
    bool blackLevelMax = false;
    double gamma = kDefaultToneGamma;  // tone mode's curve exponent
    // The characters matched against; empty: every glyph (tone: the ramp).
    std::string chars;
    // The text's size; no bounds: the natural size, one picture pixel to
    // one atlas pixel.
    SizeRule size;
    // Match the inverted picture (255 - p): light characters on dark.
    bool invert = false;
    // The level the footer names when not in tone mode (the window's slider,
    // which may stand apart from the level applied); -1: the level in force.
    int32_t footerLevel = -1;
    // The footer ends with a line naming the match mode when it is not
    // correlation ("Tone matching", "Difference matching").
    bool footerNamesMode = false;
    // Give each character's cell (TextImage::cells): what colouring the text
    // needs, twelve bytes a character.
    bool cells = true;
};

// A character's cell in the walked picture: the block of the text's cell
// height in rows by `width` columns at (x, y) that the glyph of `code` was
// matched against. Twelve bytes: a long text has millions.
struct TextCell {
    int32_t x = 0;
    int32_t y = 0;
    uint16_t width = 0;  // at most kMaxCellSide, as the atlas is wide
    uint8_t code = 0;
};

enum class TextFailure {
    None,
    NoAtlas,      // no glyph atlas to match against
    NoTone,       // tone mode: no character of the ramp has a width
    CannotScale,  // the size asked for passes the picture limit
    TooLarge,     // the text could pass the engine's text limit
    NoMemory,
};

struct TextImage {
    // The picture lines, each ended by CR LF, then the footer when asked.
    std::string text;
    // One per character of the picture lines, in text order (when the
    // settings ask for cells).
    std::vector<TextCell> cells;
    int32_t cellHeight = 0;  // the rows of every cell
    int32_t lineCount = 0;
    int32_t widest = 0;  // characters in the longest line
    // The level in force (the footer's unless footerLevel says otherwise).
    int32_t blackLevel = 0;
    // The walked picture is the input scaled to `content`, its edges then
    // repeated to `canvas`: cells reaching past `content` lie on the repeat.
    PictureSize content;
    PictureSize canvas;
    TextFailure failure = TextFailure::None;
};

// The cells of the first `lineCount` lines of `text` as a walk with
// `glyphs` made them: line k is the band at row k x h; along it each
// character starts where the one before it ended, its glyph's width (at
// least 1) further on.
std::vector<TextCell> textCells(const std::string& text, int32_t lineCount, const AtlasView& glyphs);

}  // namespace morvel
