// The size of the text: which bounds apply (given on the command line, or
// the terminal's).
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

// A terminal's size in characters; 0 where it is not known.
struct TerminalSize {
    int32_t columns = 0;
    int32_t rows = 0;
};

// The rule for the options, given the terminal the text goes to (none when
// it goes to a file or a pipe) and the lines the footer takes (0 without
// it). Without --columns and --rows, a terminal's whole screen bounds the
// text, footer included, less one line for the prompt, and a picture that
// fits is not enlarged; --columns auto --rows auto asks for the same.
// `auto` alone takes the terminal's width or height; without a terminal it
// is no bound. Without a terminal and without sizes: the natural size.
SizeRule sizeRuleFor(const Options& o, std::optional<TerminalSize> terminal, int32_t footerLines);

}  // namespace morvel::cli
