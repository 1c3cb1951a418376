#include "cli/run_setup.h"

#include <cstdlib>

#include "cli/output.h"
#include "cli/terminal_colours.h"

namespace morvel::cli {

std::string describeSize(const SizeRule& size)
{
    if (size.rows == 0) {
        return std::to_string(size.columns) + " columns";
    }
    if (size.columns == 0) {
        return std::to_string(size.rows) + " rows";
    }
    return std::to_string(size.columns) + " columns and " + std::to_string(size.rows) + " rows";
}

int32_t footerLines(const Options& o)
{
    if (!o.footer) {
        return 0;
    }
    return o.invert ? 6 : 5;
}

bool settleBackground(Options& o, bool toTerminal, const TerminalAnswers& answers)
{
    std::string how = "--background";
    bool dark = o.background == BackgroundChoice::Dark;
    if (o.background == BackgroundChoice::Auto) {
        const char* colours = std::getenv("COLORFGBG");
        const auto named = colours ? backgroundFromColorFgBg(colours) : std::nullopt;
        if (!toTerminal) {
            how = "not a terminal";
        } else if (answers.background) {
            dark = *answers.background == Background::Dark;
            how = "the terminal's answer";
        } else if (named) {
            dark = *named == Background::Dark;
            how = "COLORFGBG";
        } else {
            how = answers.why;
        }
    }
    o.invert = o.invert || dark;
    if (o.verbose) {
        complain(std::string("background ") + (dark ? "dark" : "light") + " (" + how + ")");
    }
    return dark;
}

RgbColour groundColour(const Options& o, bool dark)
{
    const bool black = o.html || o.picture ? o.invert : dark;
    const uint8_t level = black ? 0 : 255;
    return {level, level, level};
}

ColourMode resolveColourMode(const Options& o, bool terminal)
{
    if (o.colour) {
        return *o.colour;
    }
    if (o.html || o.picture) {
        return ColourMode::TrueColour;
    }
    const char* noColor = std::getenv("NO_COLOR");
    const char* colorTerm = std::getenv("COLORTERM");
    // terminfo is read only when its answer counts.
    const ColourMode withoutTerminfo = autoColourMode(terminal, noColor, colorTerm, 256);
    if (withoutTerminfo != ColourMode::Palette256) {
        return withoutTerminfo;
    }
    return autoColourMode(terminal, noColor, colorTerm, terminfoColourCount(std::getenv("TERM")));
}

bool fillsCells(const Options& o, ColourMode mode)
{
    return o.fill && mode != ColourMode::None && !o.picture;
}

MatchMode matchModeFor(const Options& o, ColourMode mode)
{
    if (!o.matchNamed && fillsCells(o, mode) && mode == ColourMode::TrueColour)
        return MatchMode::Correlation;
    return o.match;
}

TextSettings settingsOf(const Options& o, const SizeRule& size, bool cells)
{
    TextSettings settings;
    settings.mode = o.match;
    settings.blackLevel = o.blackLevel;
    settings.blackLevelMax = o.blackLevelMax;
    settings.gamma = o.gamma;
    settings.chars = o.chars;
    settings.size = size;
    settings.invert = o.invert;
    settings.cells = cells;
    return settings;
}

}  // namespace morvel::cli
