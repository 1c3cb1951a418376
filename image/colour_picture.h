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

// `colour` (24-bit) brought to width x height as resizeGray brings gray,
// each channel on its own: the directions that shrink by area averaging
// (RowShrinker), then those that grow by linear interpolation (RowEnlarger). The same picture at its own size; none when it cannot be made.
ImageHandle fitColour(ImageHandle colour, int32_t width, int32_t height);

// The red, green and blue of a JFIF YCbCr sample (ITU-R BT.601 full range):
// R = Y + 1.402 (Cr - 128), G = Y - 0.34414 (Cb - 128) - 0.71414 (Cr - 128),
// B = Y + 1.772 (Cb - 128), in 16-bit fixed point, rounded half up and
// clamped to 0..255 (as the JPEG library converts for its RGB output).
void rgbOfYcc(uint8_t y, uint8_t cb, uint8_t cr, uint8_t* rgb);

// The red, green and blue of four CMYK ink samples: each colour is what its
// ink leaves of white times what the black ink leaves, rounded. Adobe's
// files store the samples `inverted` (255 is no ink).
void rgbOfInks(const uint8_t* inks, bool inverted, uint8_t* rgb);

// A shaped 24-bit record of width x rowCount with its fill bytes cleared
// (pixels not), or none.
ImageHandle makeColourImage(int32_t width, int32_t rowCount);

}  // namespace morvel
