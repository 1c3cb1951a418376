// What the converter asks of a picture's loader: the size to shrink to
// while decoding, whether colour is wanted, what transparency lies on, and
// the bytes the picture will hold, for the load-ahead budget.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <optional>
#include <string>

#include "cli/engine_setup.h"
#include "cli/options.h"
#include "engine/text_fit.h"
#include "image/load_picture.h"

namespace morvel::cli {

// A regular file of at most 64 KiB (standard input and what cannot be
// examined are not small).
bool isSmallFile(const std::string& path);

// The bytes a picture of `natural` size loaded at `loaded` size (none: the
// natural size) holds while it loads and until it is taken: the gray
// picture, its colour when asked, and for a shrunk one the decoder's sums
// (up to 8 bytes a pixel of the result, for an interlaced picture).
int64_t loadBytes(PictureSize natural, const std::optional<PictureSize>& loaded, bool colour);

// What the loader is asked for: the picture upright when asked, and the size
// `size` gives it (the same rule the engine applies) in the directions
// where that shrinks it, so that a loader can decode at a reduced scale and
// shrink while it reads, with the same result as the whole picture shrunk
// afterwards. The glyph size comes from `cell`, waited for once the
// picture's size is known; the whole fit (with its canvas) is kept in
// `chosen`. Without bounds, or for a picture saved as gray, the natural
// size. Once the size is known, `reserve` (when given) is told the bytes
// the picture will hold (and may make the load wait for them).
LoadOptions loadOptionsFor(const Options& o, const SizeRule& size, const std::shared_future<GlyphCell>& cell,
                           std::optional<ColumnFit>* chosen, bool colour, const RgbColour& ground,
                           const std::function<void(int64_t)>& reserve = {});

}  // namespace morvel::cli
