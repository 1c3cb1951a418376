// Turns an 8-bit palette record into an 8-bit gray one in place.
#pragma once

namespace morvel {

struct ImageRecord;

// Gray level of each colour = its RGB vector length, stretched so that the
// darkest of all 256 table entries becomes 0 and the brightest 255. Records
// that are not 8-bit are left alone.
void grayFromPalette(ImageRecord* record);

}  // namespace morvel
