// The text image generator: cuts the working image into bands one cell high,
// walks each band left to right choosing the best-matching glyph, and builds
// the output text with its footer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/glyph_atlas.h"

namespace morvel {

enum class MatchMode : int32_t {
    Correlation = 0,  // "maximize correlation"
    Difference = 1,   // "minimize difference"
    Tone = 2,         // reproduce the picture's tone (tone_match.h)
};

// Index into the glyph table of the glyph whose cell best matches the picture
// cell with its top-left at (x, y). The block of h rows by m columns at (x, y)
// must lie inside `working`.
int32_t correlationScore(const ImageRecord& working, const AtlasView& glyphs, int32_t x, int32_t y);
int32_t differenceScore(const ImageRecord& working, const AtlasView& glyphs, int32_t x, int32_t y);

struct TextFooter {
    std::string displayName;
    int32_t pointSize = 0;
    std::string faceName;
    int32_t blurCount = 0;
    int32_t blackLevel = 0;
};

struct GeneratedText {
    std::string text;       // lines ended by CR LF, then the footer if one was given
    int32_t widest = 0;     // characters in the longest line
    bool tooLarge = false;  // refused: the text could exceed kMaxTextBytes
};

// Longest output text generation will make. A text box holding more is of no
// use to anyone, and the bound keeps a huge picture with a tiny font from
// taking gigabytes of memory; at 9 points even a 32768 x 32768 picture stays
// well below it.
inline constexpr int64_t kMaxTextBytes = int64_t{64} << 20;

// The number of lines (bands) a walk makes over a picture `height` rows
// high with cells `cellHeight` rows high: bands at y = 0, h, 2h, ... while
// y < height - h. 0 for a cell height below 1.
int32_t bandCount(int32_t height, int32_t cellHeight);

// An upper bound on the bytes of the picture lines a walk over `working`
// can produce (every character advancing by its glyph's width, at least one
// pixel), footer not counted.
int64_t textBytesUpperBound(const ImageRecord& working, const AtlasView& glyphs);
// The same for a picture of width x height.
int64_t textBytesUpperBound(int32_t width, int32_t height, const AtlasView& glyphs);

// The most characters one line of a walk over a picture `width` pixels wide
// can get: the span x < width - maxGlyphWidth walked in the smallest step
// any of the `glyphCount` glyphs moves on by (its width, at least one pixel).
int64_t lineCharactersUpperBound(int32_t width, const GlyphEntry* glyphs, int32_t glyphCount, int32_t maxGlyphWidth);

// Called after each finished line with the whole text so far.
using LineCallback = std::function<void(const std::string& textSoFar)>;

// The reference walk. `footer` may be null (no footer appended). Tone mode,
// which needs its setup, is walked by generateToneText; here it gives no
// lines.
GeneratedText generateText(const ImageRecord& working, const AtlasView& glyphs, MatchMode mode,
                           const TextFooter* footer, const LineCallback& onLine = {});

// The footer as it follows the picture lines.
std::string formatFooter(const TextFooter& footer);

}  // namespace morvel
