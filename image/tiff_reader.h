// TIFF reader on libtiff: the first image of the file, through the library's
// RGBA interface (every photometric interpretation and sample layout it
// converts), as 8-bit gray, colour through the luminance weights,
// transparent parts over the background. The Orientation tag is left to the
// load sequence, like a JPEG's EXIF orientation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image_record.h"
#include "image/load_picture.h"
#include "image/read_error.h"

namespace morvel {

// True when `size` bytes at `data` begin with a TIFF or BigTIFF header
// ("II" or "MM" and the version 42 or 43).
bool hasTiffSignature(const uint8_t* data, size_t size);

// Decodes `size` bytes at `data` (only read), as decodeWebp says: the size
// checked against `maxPixelBytes` before any strip or tile is decoded, the
// reason for no picture in `error` (the library's first error), the colour
// from the same decode into `colour` when asked. The picture is decoded a
// band of strips or tiles at a time, each band shrunk as it comes when the
// picture is wanted smaller, so only the result and one band are held.
ImageHandle decodeTiff(const uint8_t* data, size_t size, int64_t maxPixelBytes = kMaxPixelBytes,
                       ReadError* error = nullptr, const LoadOptions& options = {}, ImageHandle* colour = nullptr);

}  // namespace morvel
