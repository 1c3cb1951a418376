// Turns an 8-bit palette record into an 8-bit gray one in place.
#pragma once

#include <cstdint>

namespace morvel {

struct ImageRecord;
struct RgbQuad;

// The gray level grayFromPalette gives each of the 256 entries of `colors`.
void grayLevelsOfPalette(const RgbQuad* colors, uint8_t* levels);

// Gray level of each colour = its RGB vector length, stretched so that the
// darkest of all 256 table entries becomes 0 and the brightest 255. Records
// that are not 8-bit are left alone.
void grayFromPalette(ImageRecord* record);

}  // namespace morvel
