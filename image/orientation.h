// The orientation a camera records in a picture's EXIF data, and turning a
// picture upright by it. The eight values are those of the TIFF Orientation
// tag: 1 upright, 2 mirrored left to right, 3 turned half round, 4 mirrored
// top to bottom, 5 to 8 the same four with rows and columns exchanged (6: the
// stored picture must be turned a quarter clockwise to stand upright).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/image_record.h"

namespace morvel {

// The orientation stored in the `size` bytes at `data`, the whole or the
// beginning of a JPEG file (an APP1 "Exif" segment before the image data), a
// PNG file (an eXIf chunk), a WebP file (an EXIF chunk) or a TIFF file (the
// first image's Orientation tag). 1 when there is none or it cannot be read; only
// the bytes given are read, whatever the file's size fields say.
int readOrientation(const uint8_t* data, size_t size);

// The same for the regular file at `path`, walked through in place (only the
// segment or chunk heads and the EXIF block are read), so that a file gives
// the orientation its bytes give in memory. 1 for anything else.
int readFileOrientation(const std::string& path);

// True for the orientations (5 to 8) whose upright picture is as wide as the
// stored one is high.
bool swapsSides(int orientation);

// A new picture: the 8- or 24-bit `picture` turned upright from
// `orientation` (2 to 8), with its colour table. None for orientation 1 or
// any other value, another bit count, or no memory.
ImageHandle turnUpright(const ImageRecord& picture, int orientation);

}  // namespace morvel
