// The size of the text: which bounds apply (given on the command line, or
// the terminal's); the fit of a picture to them is the engine's.
#pragma once

#include <cstdint>
#include <optional>

#include "engine/text_fit.h"

namespace morvel::cli {

struct Options;

// The bounds and the fit are the engine's.
using morvel::ColumnFit;
using morvel::fitText;
using morvel::SizeRule;

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

}  // namespace morvel::cli
