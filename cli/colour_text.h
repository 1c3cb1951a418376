// Coloured text for terminals: the colour modes, the choice made for
// "auto", the 16- and 256-colour palettes with the nearest entry found in
// CIE Lab, and the text with ECMA-48 SGR escape codes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/cell_colours.h"

namespace morvel::cli {

enum class ColourMode {
    None,        // plain text
    Palette16,   // SGR 30-37 and 90-97
    Palette256,  // SGR 38;5;n, n in the colour cube and gray ramp (16..255)
    TrueColour,  // SGR 38;2;r;g;b
};

// The mode named on the command line ("none", "16", "256", "truecolor");
// none for "auto" or anything else.
std::optional<ColourMode> colourModeNamed(const std::string& name);

// The mode "auto" stands for when the text goes to a terminal (`terminal`)
// or not: nothing off a terminal or when NO_COLOR is set and not empty;
// truecolor when COLORTERM is "truecolor" or "24bit"; else by the number of
// colours terminfo gives the terminal type (`terminfoColours`, -1 for none
// or unknown): 16 colours for 8 to 255, 256 for 256 up to 2^24 - 1,
// truecolor from 2^24 on, nothing below 8. The two texts are the
// environment's values (null when unset).
ColourMode autoColourMode(bool terminal, const char* noColor, const char* colorTerm, int terminfoColours);

// A colour in CIE Lab (D65).
struct Lab {
    double l, a, b;
};

// The CIE Lab of a colour given by its linear-light sRGB channels, 0..1.
Lab labOfLinear(double red, double green, double blue);

// The palette entry that `mode` shows `colour` with: for the palettes the
// entry nearest in CIE Lab (D65, the CIE76 distance), as its index; for
// truecolor the colour itself, packed 0xRRGGBB. Equal keys look the same.
uint32_t colourKey(Rgb colour, ColourMode mode);

// The colour a key of `mode` stands for: the palette entry as xterm shows it
// by default, or the packed colour itself.
Rgb colourOfKey(uint32_t key, ColourMode mode);

// `colour` made stronger against the background: its CIE Lab chroma 1.5
// times, and its distance in lightness from the text's own end (black on a
// light background, white on a dark one) 0.6 times, clamped into sRGB. A
// cell's mean colour mixes the thin marks of a drawing with the paper around
// them; this brings the marks' colour back.
Rgb boostColour(Rgb colour, bool darkBackground);

// The SGR sequence that sets the foreground to `key`.
std::string sgrForeground(uint32_t key, ColourMode mode);

// The SGR sequence that sets the background to `key` (40-47 and 100-107,
// 48;5;N or 48;2;R;G;B).
std::string sgrBackground(uint32_t key, ColourMode mode);

// The reset sequence ending every coloured line.
inline constexpr const char* kSgrReset = "\x1b[0m";

// `text` with its first `lineCount` lines coloured, character by character
// from `colours` (in text order, as cellColours gives them): a foreground
// sequence only where the shown colour changes (a space shows no colour and
// changes nothing), and a reset at the end of every line (before the
// spaces that end it, if any). With `grounds` (as many, in the same order)
// every cell, spaces included, also gets its background, set where it
// changes, and the reset comes after the line's last cell. The rest of
// the text (the footer) is copied as it is. `text` is returned unchanged
// for ColourMode::None or when the colours do not cover the lines.
std::string sgrText(const std::string& text, int32_t lineCount, const std::vector<Rgb>& colours, ColourMode mode,
                    const std::vector<Rgb>& grounds = {});

}  // namespace morvel::cli
