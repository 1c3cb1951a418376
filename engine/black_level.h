// The black level: the slider's range from the darkest glyph cell, and the
// working image made by stretching the source picture to level .. 255.
#pragma once

#include <cstdint>

#include "engine/glyph_atlas.h"
#include "image/image_record.h"

namespace morvel {

// Mean gray level (rounded down) of the darkest glyph cell; 255 when every
// cell is blank or there is no atlas.
int32_t darkestCellMean(const AtlasView& glyphs);

// A copy of `source` with its gray levels stretched so that its darkest pixel
// becomes `level` and its lightest 255 (a uniform picture is copied as it is).
// None for a level outside 0..255, a source that is not 8-bit gray, or when
// memory runs out.
ImageHandle stretchToBlackLevel(const ImageRecord& source, int32_t level);

}  // namespace morvel
