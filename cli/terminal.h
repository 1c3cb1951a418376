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

// The cell of a terminal's answer to the cell-size query CSI 16 t
// (ESC [ 6 ; HEIGHT ; WIDTH t, in pixels): its width over its height. None
// for anything else.
std::optional<double> cellRatioFromReply(std::string_view reply);

// True when `reply` holds a whole answer to the primary device attributes
// request CSI c (ESC [ ? digits and semicolons c).
bool hasDeviceAttributes(std::string_view reply);

// What to ask the terminal.
struct TerminalQuestions {
    bool background = false;  // OSC 11
    bool cellSize = false;    // CSI 16 t
};

// What the terminal answered; `why` says, when nothing was asked or nothing
// came, why not.
struct TerminalAnswers {
    std::optional<Background> background;
    double cellRatio = 0;  // 0: no answer
    std::string why;
};

// How long the terminal's answers are waited for: a terminal that answers
// at all answers the last question, so only one that answers nothing costs
// this; long enough for a slow connection's round trip, whose answers must
// not be left for the shell to read.
inline constexpr int kAnswerTimeoutMs = 500;

// Asks the controlling terminal (/dev/tty) the questions in one round trip
// ended by a primary device attributes request, which every terminal
// answers: the answers are read, one byte at a time, up to that last one,
// and at most `timeoutMs` are waited for it. Asks only when standard output
// is that terminal and this process is in its foreground, and nothing has
// been typed ahead (typed input is never read). The terminal reads
// unbuffered and unechoed meanwhile; its settings are put back exactly
// before returning, and the signals that would end or stop the process wait
// until then.
TerminalAnswers askTerminal(const TerminalQuestions& questions, int timeoutMs);

}  // namespace morvel::cli
