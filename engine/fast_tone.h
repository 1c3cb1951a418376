// The tone walk of one band from running sums: the band's columns are summed
// through the tone curve once, their running totals give every cell's sum in
// one subtraction per distinct candidate width, and the choice is then the
// reference walk's own (chooseTone), so the text is the same byte for byte.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/tone_match.h"
#include "image/image_record.h"

namespace morvel {

// Working buffers of one thread; the walk grows them to the picture's width.
struct ToneScratch {
    std::vector<int64_t> before;  // before[x]: the band's columns 0 .. x-1 summed through the curve
    std::vector<int64_t> means;   // per distinct candidate width: the cell's mean
};

// Walks the band whose top row is `y` (y + h rows inside `picture`, an 8-bit
// picture) left to right as generateToneText does; writes its characters to
// `out` (room for lineCharactersUpperBound of them) and returns their count.
int32_t walkToneBand(const ImageRecord& picture, const ToneSetup& setup, int32_t y, ToneScratch& scratch, char* out);

}  // namespace morvel
