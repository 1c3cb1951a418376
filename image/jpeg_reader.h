// JPEG reader on libjpeg: every accepted file arrives as 8-bit gray with the
// gray colour table (CMYK and YCCK files through RGB). Library errors give no
// picture; nothing is printed, the reason is handed back instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/image_record.h"

namespace morvel {

// The picture in the JPEG file at `path`, or none. A picture whose pixel block
// would pass `maxPixelBytes` (at most kMaxPixelBytes counts) is refused before
// decoding starts; the fuzz targets pass a smaller limit to keep their runs
// short. `why`, when given, receives the reason for no picture in a few words
// ("damaged JPEG data (<the library's message>)", kTooLargeReason, or the
// system's word for a file that cannot be opened); with a picture, the
// library's first warning about damage it decoded past, or nothing.
ImageHandle readJpegFile(const std::string& path, int64_t maxPixelBytes = kMaxPixelBytes,
                         std::string* why = nullptr);

// The same reader on `size` bytes at `data` (only read), for pictures that
// arrive in memory, such as on standard input. At most kMaxFileBytes.
ImageHandle decodeJpeg(const uint8_t* data, size_t size, int64_t maxPixelBytes = kMaxPixelBytes,
                       std::string* why = nullptr);

}  // namespace morvel
