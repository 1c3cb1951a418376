// The text image as a small self-contained HTML5 page: each picture's text
// in a <pre> (escaped, otherwise exactly the text), styled with the face the
// text was made with, and coloured with <span> runs. With a proportional
// face each character of the picture lines sits in a box as wide as the
// walk advanced for it, so the browser's own (fractional) advances cannot
// shift the picture; a monospaced face gets the letter spacing that brings
// the browser's advance to the walk's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/cell_colours.h"
#include "cli/colour_text.h"

namespace morvel::cli {

struct HtmlStyle {
    std::string face;           // the face the glyphs were drawn with
    int32_t pixelSize = 0;      // its em height in pixels
    int32_t lineHeight = 0;     // the cell height in pixels
    bool dark = false;          // light text on black instead of black on white
    GlyphAdvances advances{};   // the walk's advance for each character code
    bool keepLineEnds = false;  // keep the spaces that end lines (else dropped)
};

// True when every printable character advances the same.
bool isMonospaced(const GlyphAdvances& advances);

// `text` with &, < and > written as character references.
std::string escapeHtml(const std::string& text);

// The page up to and including <body>, titled `title`.
std::string htmlPageStart(const HtmlStyle& style, const std::string& title);

// One picture's text (lines ended by CR LF, the first `lineCount` of them
// picture lines) as a <pre> whose text content is `text` with LF line ends,
// and without the spaces that end lines unless the style keeps them (the
// text as the converter writes it).
// The picture lines are coloured from `colours` (in text order) as `mode`
// shows them, one <span> per run of a colour (spaces join any run); with
// ColourMode::None, or colours that do not cover the lines, not at all.
// With `grounds` (as many as `colours`) each span also has its background,
// spaces included, and the spaces that end lines are kept.
std::string htmlPre(const HtmlStyle& style, const std::string& text, int32_t lineCount, const std::vector<Rgb>& colours,
                    ColourMode mode, const std::vector<Rgb>& grounds = {});

// The end of the page after the last <pre>.
std::string htmlPageEnd();

}  // namespace morvel::cli
