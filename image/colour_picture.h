// Colour pictures beside the gray one: 24-bit records whose pixels are three
// bytes each, red, green, blue in that order, rows top-down like every
// record. They carry no colour table; only the converter's colour output
// reads them.
#pragma once

#include <cstdint>

#include "image/image_record.h"

namespace morvel {

// The colours of an 8-bit palette picture (as the GIF decoder gives it,
// before its conversion to gray): each pixel becomes its table entry. None
// for a picture that is not 8-bit, or no memory.
ImageHandle colourFromPalette(const ImageRecord& palettePicture);

// An 8-bit gray picture as colour: every pixel's level in all three bytes.
// None for a picture that is not 8-bit, or no memory.
ImageHandle colourFromGray(const ImageRecord& gray);

// A shaped 24-bit record of width x rowCount with its fill bytes cleared
// (pixels not), or none.
ImageHandle makeColourImage(int32_t width, int32_t rowCount);

}  // namespace morvel
