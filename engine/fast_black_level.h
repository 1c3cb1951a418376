// The black-level stretch through a lookup table: the working image of
// stretchToBlackLevel, byte for byte, in one pass for the lowest and highest
// level and one table lookup per pixel instead of a division.
#pragma once

#include <cstdint>

#include "image/image_record.h"

namespace morvel {

// Same contract and result as stretchToBlackLevel (fill bytes past the width
// included): none for a level outside 0..255, a source that is not 8-bit, or
// when memory runs out.
ImageHandle stretchToBlackLevelFast(const ImageRecord& source, int32_t level);

}  // namespace morvel
