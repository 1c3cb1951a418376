// The size of the text: which bounds apply (given on the command line, or
// the terminal's), and the picture size that gives text within them.
#pragma once

#include <cstdint>
#include <optional>

#include "cli/columns.h"

namespace morvel::cli {

struct Options;

// The bounds the text is fitted to, in characters and lines.
struct SizeRule {
    int32_t columns = 0;   // 0: no bound on the width
    int32_t rows = 0;      // 0: no bound on the number of lines
    bool stretch = false;  // with both bounds: fill them exactly, aspect aside
    bool enlarge = true;   // false: a picture that fits is not enlarged
    // The width over the height of the cell the text is shown in; 0: the
    // font's own cell (one picture pixel to one pixel of the font).
    double cellRatio = 0;
    // The width is the terminal's: narrowed to what the picture limit
    // allows rather than refused (a width the user typed is kept or refused).
    bool narrowToLimit = false;
};

// A terminal's size in characters, and in pixels where it says; 0 where it
// is not known.
struct TerminalSize {
    int32_t columns = 0;
    int32_t rows = 0;
    int32_t pixelWidth = 0;
    int32_t pixelHeight = 0;
};

// The text's width when it goes to a file or a pipe and no width is asked.
inline constexpr int32_t kDefaultColumns = 80;

// The rule for the options, given the terminal the text goes to (none when
// it goes to a file or a pipe), the lines the footer takes (0 without it)
// and the cell the text is shown in (`cellRatio`, as SizeRule's). Without
// --columns and --rows, a terminal's whole screen bounds the text, footer
// included, less one line for the prompt (--columns auto --rows auto asks
// for the same). `auto` alone takes the terminal's width or height. A width
// the terminal does not tell, or without a terminal, is kDefaultColumns; a
// height there is no bound. --columns natural, or no bound at all: the natural size, in
// the font's own cell. --no-enlarge keeps a picture that fits from growing.
SizeRule sizeRuleFor(const Options& o, std::optional<TerminalSize> terminal, int32_t footerLines, double cellRatio);

// The fit of a picture of `width` x `height` to `rule`, for glyphs at most
// `maxGlyphWidth` wide and `cellHeight` high, shown in cells of
// `rule.cellRatio` (the picture's height scaled by heightFactor beyond its
// width's factor):
// - columns alone: as fitToColumns, exactly that many characters (with
//   `narrowToLimit`, as fitToColumnsAtMost);
// - rows alone: the picture scaled to rows x h pixels high, so the text has
//   exactly that many lines, and in proportion wide;
// - both: the larger of the two fits that stays inside both bounds (one is
//   met exactly, the other within it), or with `stretch` both met exactly;
// - neither: the natural size (scaled and canvas both the picture's own
//   size); a picture that fits when `enlarge` is off: its own width, and its
//   height times heightFactor (the natural size in the font's own cell).
// The canvas extends the scaled picture as fitToColumns does. None when an
// input is below 1 or the canvas would pass the picture size limit.
std::optional<ColumnFit> fitText(int32_t width, int32_t height, const SizeRule& rule, int32_t maxGlyphWidth,
                                 int32_t cellHeight);

}  // namespace morvel::cli
