// The cell the text is shown in: its width over its height, which scales
// the picture so that each character covers a part of it shaped like the
// cell that shows the character (matching still uses the font's glyphs).
#pragma once

#include <optional>
#include <string>

#include "cli/text_size.h"

namespace morvel::cli {

struct Options;

// The cell where text is shown when nothing tells: what text viewers,
// editors and most terminals show, about twice as high as wide.
inline constexpr double kDefaultCellRatio = 0.5;

// A cell's width over its height (0: the font's own cell), and what decided
// it, in a few words for --verbose.
struct CellChoice {
    double ratio = 0;
    std::string source;
};

// The cell for the options and the terminal the text goes to (none when it
// goes to a file or a pipe): --columns natural, the font's own; else
// --font-ratio; else an HTML page's or a picture's font, its own; else on a terminal its
// cell in pixels from its window size, else its answer to the cell-size
// query (`answeredRatio`, 0 when none), else kDefaultCellRatio; in a file or
// a pipe kDefaultCellRatio.
CellChoice chooseCell(const Options& o, const std::optional<TerminalSize>& terminal, double answeredRatio);

// True when the cell comes from the terminal, if the text goes to one (no
// option and no output format decides it).
bool cellFromTerminal(const Options& o);

// The cell of a terminal whose window is `size`, from its size in pixels;
// 0 when the terminal does not give it.
double cellRatioOf(const TerminalSize& size);

// The choice as --verbose says it: "cell width/height 0.5 (not a
// terminal)".
std::string describeCell(const CellChoice& cell);

}  // namespace morvel::cli
