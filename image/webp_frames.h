// The frames of an animated WebP, as libwebpdemux's animation decoder
// composes them on the animation's canvas.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "image/gif_frames.h"
#include "image/load_picture.h"

namespace morvel {

// True when the bytes are a WebP file holding an animation (a VP8X header
// with the animation flag).
bool isAnimatedWebp(const uint8_t* data, size_t size);

// Hands `use` each frame of the animated WebP in the `size` bytes at
// `data`, composed by the library (blending and disposal as the file says),
// laid over white, brought to the size `options`' fit asks for (colour
// beside when asked), with its duration. `use` returns false to stop.
// `showings`, when given, receives the file's loop count (0: for ever, N:
// N times). False when the bytes hold no animation, or a canvas past
// `maxPixelBytes` (4 bytes a pixel), checked before anything is decoded.
bool forEachWebpFrame(const uint8_t* data, size_t size, const LoadOptions& options,
                      const std::function<bool(AnimationFrame&)>& use, int64_t* showings = nullptr,
                      int64_t maxPixelBytes = kMaxPixelBytes);

}  // namespace morvel
