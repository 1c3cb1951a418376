// What the options mean for one run of the converter, once the terminal
// has answered: the background, what transparent parts lie on, the colour
// mode, the match mode and the settings every picture is made with.
#pragma once

#include <cstdint>
#include <string>

#include "cli/colour_text.h"
#include "cli/options.h"
#include "cli/terminal.h"
#include "engine/text_image.h"
#include "image/load_picture.h"

namespace morvel::cli {

// The bounds of `size` as a message names them.
std::string describeSize(const SizeRule& size);

// The lines of the footer, as convert appends it.
int32_t footerLines(const Options& o);

// Settles --background auto: inverts for a dark terminal, as the terminal
// answered, else as COLORFGBG says, else light. Says what it chose when
// asked to be verbose. Returns true for a dark background.
bool settleBackground(Options& o, bool toTerminal, const TerminalAnswers& answers);

// What transparent parts of a picture are laid over: the page's colour in
// HTML and in a picture of the text (black when inverted), else black on a
// dark background and white on a light one, whether or not the picture is
// inverted afterwards (a white logo on a dark terminal stays white).
RgbColour groundColour(const Options& o, bool dark);

// The colour mode of the run: as asked, or what auto means for the output
// (`terminal`: the text goes to a terminal).
ColourMode resolveColourMode(const Options& o, bool terminal);

// Whether the cells get background colours: --fill with colour, in the
// terminal or in HTML (a picture of the text draws the characters' colours
// alone).
bool fillsCells(const Options& o, ColourMode mode);

// The match mode in force. Cells filled in truecolor carry the picture's
// tone in their colours, so there the characters follow its shapes
// (correlation) unless a mode was asked for; a palette's few colours leave
// the tone to the characters.
MatchMode matchModeFor(const Options& o, ColourMode mode);

// The settings every picture is made with, from the options; `cells` when
// the text is coloured.
TextSettings settingsOf(const Options& o, const SizeRule& size, bool cells);

}  // namespace morvel::cli
