// The colour of a picture decoded on its own at its stored size: what the
// load sequence falls back on when the gray picture's own decode gave no
// colour (a JPEG stored as RGB, a colour block past the limit), bringing it
// to the gray picture's size afterwards. A JPEG comes as the library's RGB
// output (what djpeg writes for it), CMYK and YCCK through the RGB of their
// inks; a PNG as its samples laid over the background given; a GIF as its
// palette colours.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/image_record.h"
#include "image/load_picture.h"

namespace morvel {

// The 24-bit colour picture of the GIF, PNG or JPEG picture in `size` bytes
// at `data` (only read), or none (damaged, too large, no memory).
ImageHandle decodeColour(const uint8_t* data, size_t size, const RgbColour& background = {});

// The same for the regular file at `path` (read whole, kMaxFileBytes at most).
ImageHandle readColour(const std::string& path, const RgbColour& background = {});

}  // namespace morvel
