// The walk over a fitted picture whose canvas is made a band of rows at a
// time: a picture enlarged for a long text is never held whole, only the
// picture as given (or its shrunk copy) and one band of the canvas.
#pragma once

#include <cstdint>

#include "engine/fast_matcher.h"
#include "engine/generator.h"
#include "engine/glyph_atlas.h"
#include "engine/tone_match.h"
#include "image/picture_transform.h"

namespace morvel {

// What the walk matches with: the glyphs (`view`, `matcher` prepared from
// them; without a usable matcher the plain walk), tone mode's setup (none in
// the other modes), the match mode, the threads, the black level, and
// whether the picture is inverted first.
struct WalkChoice {
    const AtlasView* view = nullptr;
    const FastMatcher* matcher = nullptr;
    const ToneSetup* tone = nullptr;
    MatchMode mode = MatchMode::Tone;
    int jobs = 0;
    int32_t blackLevel = 0;
    bool invert = false;
};

// How many bytes of canvas a band holds at most (at least one line).
inline constexpr int64_t kBandBytes = int64_t{16} << 20;

// The walk over the canvas `rows` makes, inverted when asked, with `footer`
// (may be null) appended: byte for byte the text of the walk over the whole
// canvas, `onLine` seeing the same text so far after each line. The canvas
// is made a band of whole lines (at most about `bandBytes`, at least one
// line) at a time; outside tone mode, where the black-level stretch depends
// on the lowest and highest level of the whole canvas, it is made twice,
// once for that range. `tooLarge` when memory runs out.
GeneratedText walkFittedCanvas(FittedRows& rows, const WalkChoice& choice, const TextFooter* footer,
                               const LineCallback& onLine = {}, int64_t bandBytes = kBandBytes);

}  // namespace morvel
