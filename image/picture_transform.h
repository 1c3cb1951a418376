// Whole-picture changes made to a loaded gray picture before it is matched:
// scaling to another size, extending its edges and inverting its levels.
#pragma once

#include <cstdint>

#include "image/image_record.h"

namespace morvel {

// A new 8-bit gray picture of width x height made from the 8-bit `source`.
// Shrinking averages the source pixels under each new pixel (a box filter:
// fine detail becomes its mean gray instead of aliasing; RowShrinker when
// neither direction grows); enlarging interpolates linearly. Levels are
// averaged as they are stored, the same way the blur and the cell means of
// the matcher treat them. None for a size
// below 1, a block above kMaxPixelBytes, a source that is not 8-bit, or no
// memory.
ImageHandle resizeGray(const ImageRecord& source, int32_t width, int32_t height);

// A new 8-bit gray picture of width x height with `source` in its top-left
// corner; the columns right of it repeat the source's last column and the
// rows below repeat its last row. None for a size smaller than the source's,
// a block above kMaxPixelBytes, a source that is not 8-bit, or no memory.
ImageHandle extendGray(const ImageRecord& source, int32_t width, int32_t height);

// extendGray(resizeGray(source, width, height), canvasWidth, canvasHeight),
// byte for byte, made in one block: the scaled picture is never held apart
// from the canvas. With width x height the source's own size, nothing is
// resampled. None for what either would refuse.
ImageHandle fitGray(const ImageRecord& source, int32_t width, int32_t height, int32_t canvasWidth,
                    int32_t canvasHeight);

// Every pixel p of an 8-bit picture becomes 255 - p (fill bytes are left).
void invertGray(ImageRecord& picture);

}  // namespace morvel
