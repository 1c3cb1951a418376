// GIF87a / GIF89a decoder: the first image of a file as an 8-bit palette
// record whose colour table comes from the file. Reads only inside the bytes
// it is given; any damage gives no picture, never a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/image_record.h"
#include "image/read_error.h"

namespace morvel {

// Takes the rows of a non-interlaced image as the decoder makes them, instead
// of the decoder storing the image (see decodeGif).
class GifRowSink {
public:
    virtual ~GifRowSink() = default;
    // The image about to be decoded, with its colour table as the record
    // would carry it (256 entries, the local colours in place). True to take
    // its rows; false to have it decoded whole as usual.
    virtual bool begin(int32_t width, int32_t height, const RgbQuad* colors) = 0;
    // The next row of colour-table indices (width bytes), top to bottom;
    // rows the code stream did not reach come as index 0.
    virtual void row(const uint8_t* indices) = 0;
    // The picture made from the rows; none when it could not be made.
    virtual ImageHandle finish() = 0;
};

// Reads the whole file and decodes it. None for a file that cannot be read
// (missing, not a regular file) or does not hold a decodable image; then
// `error` (when given) says why, as for decodeGif, or CannotOpen.
ImageHandle readGifFile(const std::string& path, GifRowSink* sink = nullptr, ReadError* error = nullptr);

// Decodes `size` bytes at `data`; the bytes are only read. An image whose
// pixel block would pass `maxPixelBytes` (at most kMaxPixelBytes counts) is
// given up like a damaged one; the fuzz targets pass a smaller limit so that
// their time goes into the parser rather than into clearing large blocks.
// With a `sink` that takes the image, the image is not stored: its rows go
// to the sink as they are decoded (one row and the longest LZW string are
// held), and the result is the sink's finish(). With no picture, `error`
// (when given) receives why: the reason the last image was given up for
// (TooLarge, NoMemory, Damaged), or Damaged when the file holds no image.
ImageHandle decodeGif(const uint8_t* data, size_t size, int64_t maxPixelBytes = kMaxPixelBytes,
                      GifRowSink* sink = nullptr, ReadError* error = nullptr);

}  // namespace morvel
