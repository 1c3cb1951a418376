// GIF87a / GIF89a decoder: the first image of a file as an 8-bit palette
// record whose colour table comes from the file. Reads only inside the bytes
// it is given; any damage gives no picture, never a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/image_record.h"

namespace morvel {

// Takes the rows of an image as the decoder makes them, instead of the
// decoder storing the image (see decodeGif).
class GifRowSink {
public:
    virtual ~GifRowSink() = default;
    // The image about to be decoded, with its colour table as the record
    // would carry it (256 entries, the local colours in place). True to take
    // its rows; false to have it decoded whole as usual. The rows of an
    // `interlaced` image come in pass order, those of the others top to
    // bottom.
    virtual bool begin(int32_t width, int32_t height, const RgbQuad* colors, bool interlaced) = 0;
    // Row `y` of colour-table indices (width bytes), each row once; rows
    // the code stream did not reach come as index 0.
    virtual void row(int32_t y, const uint8_t* indices) = 0;
    // The picture made from the rows; none when it could not be made.
    virtual ImageHandle finish() = 0;
};

// Reads the whole file and decodes it. None for a file that cannot be read
// (missing, not a regular file) or does not hold a decodable image.
ImageHandle readGifFile(const std::string& path, GifRowSink* sink = nullptr);

// Decodes `size` bytes at `data`; the bytes are only read. An image whose
// pixel block would pass `maxPixelBytes` (at most kMaxPixelBytes counts) is
// given up like a damaged one; the fuzz targets pass a smaller limit so that
// their time goes into the parser rather than into clearing large blocks.
// With a `sink` that takes the image, the image is not stored: its rows go
// to the sink as they are decoded (one row and the longest LZW string are
// held), and the result is the sink's finish().
ImageHandle decodeGif(const uint8_t* data, size_t size, int64_t maxPixelBytes = kMaxPixelBytes,
                      GifRowSink* sink = nullptr);

}  // namespace morvel
