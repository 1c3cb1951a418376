// What the converter asks of the terminal its text goes to: the size of the
// screen and whether its background is dark.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/text_size.h"

namespace morvel::cli {

// The size of the terminal on standard output: the terminal's own size,
// else $COLUMNS and $LINES (whole numbers 1..10000), each 0 when unknown.
// None when standard output is not a terminal.
std::optional<TerminalSize> terminalSize();

enum class Background {
    Light,
    Dark
};

// The background COLORFGBG ("foreground;background", or with a middle
// field) names: colours 0 to 6 and 8 are dark, the others light. None when
// the variable is not of that form.
std::optional<Background> backgroundFromColorFgBg(std::string_view value);

// The background of a terminal's answer to the OSC 11 query
// (ESC ] 11 ; rgb:RRRR/GGGG/BBBB, ended by BEL or ESC \; 1 to 4 hex digits
// a component): dark when its luma is below half. None for anything else.
std::optional<Background> backgroundFromOsc11Reply(std::string_view reply);

// The background of the terminal on standard output: COLORFGBG when it is
// set and readable; else, when standard input is that same terminal, its
// answer to the OSC 11 query (waited for at most `timeoutMs`, the
// terminal's settings restored afterwards); else light. `how` tells which
// of these decided.
Background terminalBackground(int timeoutMs, std::string& how);

}  // namespace morvel::cli
