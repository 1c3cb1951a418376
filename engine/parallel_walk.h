// The generator's walk on the fast choosers, its bands shared among threads.
// Bands are independent (each starts at x = 0 and reads only its own rows),
// so they may be worked in any order; the lines are put together in band
// order, and the text is byte for byte what generateText gives, whatever the
// number of threads.
#pragma once

#include "engine/fast_matcher.h"
#include "engine/generator.h"
#include "engine/tone_match.h"

namespace morvel {

// The number of threads `jobs` asks for: itself when positive, otherwise the
// number of processor cores (at least 1).
int resolveJobs(int jobs);

// generateText with `matcher` as the chooser (tone mode, which needs its
// setup, gives no lines here), on up to `jobs` threads (0: one
// per core, but no more than one per 2^17 pixels of `working`, so a small
// picture is walked on the calling thread alone). `onLine` runs on the calling thread, once per line in order, as
// soon as that line and every line above it are done; it sees the same text so
// far as in generateText. No lines when `matcher` is unusable or `working` is
// not an 8-bit picture. With `levels` (256 entries) the walk sees every
// pixel v of `working` as levels[v]: the text of the picture mapped through
// the table (blackLevelTable), with the mapping done on the way, in
// parallel, and no mapped copy made.
GeneratedText generateTextFast(const ImageRecord& working, const FastMatcher& matcher, MatchMode mode,
                               const TextFooter* footer, const LineCallback& onLine = {}, int jobs = 1,
                               const uint8_t* levels = nullptr);

// generateToneText on up to `jobs` threads (0: as generateTextFast counts
// them), the cell sums
// taken from running column sums: the same text byte for byte, `onLine` as
// in generateTextFast.
GeneratedText generateToneTextFast(const ImageRecord& picture, const ToneSetup& setup, const TextFooter* footer,
                                   const LineCallback& onLine = {}, int jobs = 1);

}  // namespace morvel
