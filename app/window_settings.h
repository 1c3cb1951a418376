// What the window's controls say about the next text image, beside the
// toolbar toggle and the slider: tone matching with its curve, the text's
// width, inversion and colour. No toolkit types, so the command line can
// fill it before any window exists.
#pragma once

#include <cstdint>

#include "engine/tone_match.h"

namespace morvel {

struct WindowSettings {
    // Tone matching, which takes precedence over the toggle while on.
    bool tone = false;
    double gamma = kDefaultToneGamma;
    // The text's width: one picture pixel to one font pixel, a number of
    // columns, or as many columns as the text box shows.
    enum class Width {
        Natural,
        Columns,
        Fit
    };
    Width width = Width::Natural;
    int32_t columns = 80;
    // Match the inverted picture, for light text on a dark box.
    bool invert = false;
    // Each character in the colour of the picture under it.
    bool colour = false;
};

// The columns a width spin box offers.
inline constexpr int32_t kMinColumns = 8;
inline constexpr int32_t kMaxColumns = 10000;

}  // namespace morvel
