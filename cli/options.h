// Command-line options of morvel-text: what the user asked for, checked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/colour_text.h"
#include "engine/generator.h"
#include "engine/text_picture.h"
#include "engine/tone_match.h"

namespace morvel::cli {

// Bounds of the numeric options (inclusive).
inline constexpr int32_t kMinPoints = 1, kMaxPoints = 1000;
inline constexpr int32_t kMinWeight = 0, kMaxWeight = 1000;
inline constexpr int32_t kMinDpi = 1, kMaxDpi = 10000;
inline constexpr int32_t kMinBlur = 0, kMaxBlur = 1000;
inline constexpr int32_t kMinBlackLevel = 0, kMaxBlackLevel = 255;
inline constexpr int32_t kMinColumns = 1, kMaxColumns = 10000;
inline constexpr int32_t kMinRows = 1, kMaxRows = 10000;
inline constexpr int32_t kMinJobs = 0, kMaxJobs = 256;
inline constexpr double kMinFontRatio = 0.05, kMaxFontRatio = 20;
inline constexpr int32_t kMinLoops = 0, kMaxLoops = 10000;
inline constexpr int32_t kMinFrame = 1, kMaxFrame = 1000000;
// The character height points x dpi / 72 must land in this range of pixels:
// below it there is nothing to draw, above it the atlas (96 cells stacked)
// grows past a hundred megabytes for no useful text.
inline constexpr int32_t kMinCharPixels = 1, kMaxCharPixels = 500;

// --background: light ground (the picture as it is), dark ground (inverted,
// as --invert), or the terminal's.
enum class BackgroundChoice {
    Light,
    Dark,
    Auto
};

struct Options {
    std::string face = "Lucida Console";
    bool faceNamed = false;  // --font given: a stand-in for it is worth a notice
    int32_t points = 9;
    int32_t weight = 400;
    bool italic = false;
    int32_t dpi = 96;
    int32_t blur = 3;
    MatchMode match = MatchMode::Tone;
    bool matchNamed = false;           // --match or --gamma given: the mode stays as asked
    double gamma = kDefaultToneGamma;  // tone mode's curve
    std::string chars;                 // the characters matched against (with the space); empty: all
    int32_t blackLevel = 0;
    bool blackLevelMax = false;   // use the range computed from the blurred atlas
    int32_t columns = 0;          // 0: not given
    bool columnsAuto = false;     // columns from the terminal the text goes to
    bool columnsNatural = false;  // the picture at its natural size
    int32_t rows = 0;             // 0: not given
    bool rowsAuto = false;        // lines from the terminal the text goes to
    bool stretch = false;         // fill columns x rows exactly
    bool noEnlarge = false;       // a picture that fits keeps its own size
    // --font-ratio: the width over the height of the cell the text is shown
    // in (0: not given), or the font's own cell.
    double fontRatio = 0;
    bool fontRatioFont = false;
    bool invert = false;
    BackgroundChoice background = BackgroundChoice::Auto;
    bool verbose = false;
    int32_t jobs = 0;  // generation threads; 0: one per processor core
    bool footer = false;
    bool crlf = false;
    std::optional<ColourMode> colour;          // none: auto
    bool colourBoost = false;                  // stronger colours against the background
    bool fill = false;                         // cells get a background colour too
    bool html = false;                         // an HTML page instead of text
    std::optional<TextPictureFormat> picture;  // a PNG or SVG picture of the text instead
    bool orient = true;                        // turn pictures upright by their EXIF orientation
    bool animate = true;                       // play an animation on a terminal
    std::optional<int32_t> loops;              // times an animation is played (0: for ever); none: the file's count
    int32_t frame = 0;                         // the frame of an animation shown (1-based); 0: the first
    bool allFrames = false;                    // every frame of an animation, one after the other
    std::string saveGray;                      // empty: no PGM written
    std::string output;                        // empty: standard output
    std::vector<std::string> pictures;         // "-" (at most once): standard input
};

// The picture name that stands for standard input, and its display name.
inline constexpr const char* kStdinName = "-";
inline constexpr const char* kStdinDisplayName = "stdin";

// Parses argv. Returns the options to run with, or the exit status when the
// program is done: 0 after --help or --version (printed to standard output),
// 2 after a usage error (message and usage hint on standard error).
struct ParseResult {
    std::optional<Options> options;
    int exitStatus = 0;
};
ParseResult parseOptions(int argc, char** argv);

// "Usage: ..." line printed after a usage error.
extern const char* const kUsageHint;

// A whole decimal number (optional leading '-', digits only) inside lo..hi.
std::optional<int32_t> parseDecimal(const std::string& text, int32_t lo, int32_t hi);

// A plain decimal number (digits with at most one point, no sign or
// exponent) inside lo..hi.
std::optional<double> parseFraction(const std::string& text, double lo, double hi);

// A --font-ratio value other than `font`: W/H (each a plain decimal number)
// or one number, the width over the height of a cell, inside
// kMinFontRatio..kMaxFontRatio.
std::optional<double> parseFontRatio(const std::string& text);

// A --size value WxH: columns and rows, each inside its option's range.
std::optional<std::pair<int32_t, int32_t>> parseSizeBox(const std::string& text);

// The --save-gray path for the picture with the 1-based `index`: every "%d"
// in `pattern` replaced by the index; nothing else in the pattern is special.
std::string expandIndex(const std::string& pattern, int index);

}  // namespace morvel::cli
