// Tone matching: the walk that reproduces the picture's light and dark rather
// than its shapes. Each band is walked left to right; at every x the candidate
// whose ink tone, plus the tone error carried from the cell on the left, comes
// closest to the picture cell's mean (read through an S-shaped tone curve) is
// chosen, and what it missed by is carried on to the next cell of the band.
//
// All arithmetic is in integers: cell means and glyph tones are fixed point
// with kToneFractionBits fraction bits, taken from exact integer sums, so a
// walk that forms the sums differently (running column sums, several threads)
// makes exactly the same choices.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "engine/generator.h"
#include "engine/glyph_atlas.h"
#include "image/image_record.h"

namespace morvel {

// The default candidates, light to dark as DejaVu Sans Mono draws them at
// 12 pixels (cell means 255 down to 184.5): tones that spread from paper to
// dark in small steps, and calm shapes (round letters, light punctuation), no
// long straight strokes such as | [ ] Z that line up into stripes from row to
// row. The steps matter where the carried error alternates between two
// neighbours: r fills the widest light gap (c 222.9 to ; 238.3, where skin
// and sky land) and Q, B the dark one (0 195.5 to N 185.6), so smooth areas
// become an even texture rather than a pattern of two far-apart glyphs.
inline constexpr const char* kToneRamp = " .',:;rclxoXkdOK0QBNWM";

// The exponent of the tone curve, and its bounds.
inline constexpr double kDefaultToneGamma = 0.9;
inline constexpr double kMinToneGamma = 0.3;
inline constexpr double kMaxToneGamma = 3.0;

inline constexpr int kToneFractionBits = 16;

// Sum of the atlas pixels in each glyph's cell (h rows from its top, its width
// from the margin column), in table order. Read from the atlas as built,
// before any blur, these give the glyphs' own tones.
std::vector<int64_t> glyphCellSums(const AtlasView& glyphs);

struct ToneCandidate {
    int32_t glyph;  // index into the glyph table
    int32_t code;
    int32_t width;  // > 0
    int64_t area;   // h x width
    int64_t tone;   // the cell's mean, fixed point
    int32_t group;  // index of its width among the distinct candidate widths
};

// Everything the tone walk reads, made once per atlas, ramp, level and gamma.
struct ToneSetup {
    uint8_t curve[256];                     // picture level -> tone the text should have
    std::vector<ToneCandidate> candidates;  // ascending code, no duplicates
    std::vector<int32_t> groupWidths;       // distinct candidate widths
    int64_t darkest = 0;                    // the darkest candidate's tone, fixed point
    int32_t blackLevel = 0;                 // the curve's lowest value: the level in force
    int32_t cellHeight = 0;
    int32_t maxGlyphWidth = 0;  // of the whole table: where lines stop
    int32_t narrowest = 1;      // the narrowest candidate
};

// The setup for the characters of `ramp` (those in the table; repeats count
// once) with the tones of `cellSums` (glyphCellSums of the unblurred atlas).
// The curve runs from L = max(blackLevel, the darkest candidate's mean
// rounded up) to 255 along the smoothstep raised to `gamma`. None when the
// view is unusable, the sums do not fit it, or no character of the ramp has
// a width.
std::optional<ToneSetup> makeToneSetup(const AtlasView& glyphs, const std::vector<int64_t>& cellSums,
                                       const std::string& ramp, int32_t blackLevel, double gamma);

// The fixed-point mean of a cell whose pixels add up to `sum` over `area`.
inline int64_t toneMean(int64_t sum, int64_t area)
{
    return (sum << kToneFractionBits) / area;
}

// The choice at one cell: `meanOf(candidate)` gives the candidate's cell mean
// (fixed point). The smallest squared miss wins, the lower code on a tie;
// `error` is updated with what the chosen glyph missed by, the wanted tone
// kept within what the text can show.
template <class MeanOf>
const ToneCandidate& chooseTone(const ToneSetup& setup, MeanOf meanOf, int64_t& error)
{
    const ToneCandidate* best = nullptr;
    int64_t bestMean = 0;
    int64_t bestMiss = std::numeric_limits<int64_t>::max();
    for (const ToneCandidate& c : setup.candidates) {
        const int64_t mean = meanOf(c);
        const int64_t miss = mean + error - c.tone;
        if (miss * miss < bestMiss) {
            bestMiss = miss * miss;
            bestMean = mean;
            best = &c;
        }
    }
    constexpr int64_t white = int64_t{255} << kToneFractionBits;
    int64_t wanted = bestMean + error;
    if (wanted < setup.darkest)
        wanted = setup.darkest;
    if (wanted > white)
        wanted = white;
    error = wanted - best->tone;
    return *best;
}

// The reference tone walk over an 8-bit picture: the bands, x positions,
// line ends and footer of generateText, every cell summed afresh.
GeneratedText generateToneText(const ImageRecord& picture, const ToneSetup& setup, const TextFooter* footer,
                               const LineCallback& onLine = {});

}  // namespace morvel
