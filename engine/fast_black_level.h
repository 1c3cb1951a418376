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

// The stretch of `picture` at `level` as a table: stretchToBlackLevel turns
// every pixel v into table[v]. Returns false, leaving the table as it was,
// when the stretch changes nothing (a uniform picture, or one spanning 0 to
// 255 at level 0), and for a level outside 0..255 or a picture that is not
// 8-bit.
bool blackLevelTable(const ImageRecord& picture, int32_t level, uint8_t table[256]);

// The lowest and highest level of an 8-bit picture's pixels, folded into
// `lo` and `hi` (start them at 255 and 0): a picture made a band at a time
// has its range gathered band by band.
void foldLevelRange(const ImageRecord& picture, uint8_t& lo, uint8_t& hi);

// blackLevelTable of a picture whose pixels range from `lo` to `hi`.
bool blackLevelTableOfRange(uint8_t lo, uint8_t hi, int32_t level, uint8_t table[256]);

// stretchToBlackLevel done on `picture` itself, for a caller that no longer
// needs the unstretched picture: no copy. False (the picture untouched) for a
// level outside 0..255 or a picture that is not 8-bit.
bool stretchToBlackLevelInPlace(ImageRecord& picture, int32_t level);

}  // namespace morvel
