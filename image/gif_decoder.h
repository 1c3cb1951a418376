// GIF87a / GIF89a decoder: the first image of a file as an 8-bit palette
// record whose colour table comes from the file. Reads only inside the bytes
// it is given; any damage gives no picture, never a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/image_record.h"

namespace morvel {

// Reads the whole file and decodes it. None for a file that cannot be read
// (missing, not a regular file) or does not hold a decodable image.
ImageHandle readGifFile(const std::string& path);

// Decodes `size` bytes at `data`; the bytes are only read. An image whose
// pixel block would pass `maxPixelBytes` (at most kMaxPixelBytes counts) is
// given up like a damaged one; the fuzz targets pass a smaller limit so that
// their time goes into the parser rather than into clearing large blocks.
ImageHandle decodeGif(const uint8_t* data, size_t size, int64_t maxPixelBytes = kMaxPixelBytes);

}  // namespace morvel
