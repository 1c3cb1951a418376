// JPEG reader on libjpeg: every accepted file arrives as 8-bit gray with the
// gray colour table. Library errors give no picture; warnings go to stderr.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/image_record.h"

namespace morvel {

// The picture in the JPEG file at `path`, or none. A picture whose pixel block
// would pass `maxPixelBytes` (at most kMaxPixelBytes counts) is refused before
// decoding starts; the fuzz targets pass a smaller limit to keep their runs
// short. With `colour`, a colour (YCbCr) picture's colours are given there
// too, from the same decode, at the same size; other pictures leave it none.
// The gray picture is the same either way.
ImageHandle readJpegFile(const std::string& path, int64_t maxPixelBytes = kMaxPixelBytes,
                         ImageHandle* colour = nullptr);

// The same reader on `size` bytes at `data` (only read), for pictures that
// arrive in memory, such as on standard input. At most kMaxFileBytes.
ImageHandle decodeJpeg(const uint8_t* data, size_t size, int64_t maxPixelBytes = kMaxPixelBytes,
                       ImageHandle* colour = nullptr);

}  // namespace morvel
