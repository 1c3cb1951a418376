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

// One image of a GIF as the file stores it, with what the graphic control
// extension before it says about showing it.
struct GifFrame {
    int32_t left = 0;  // its place on the logical screen
    int32_t top = 0;
    const ImageRecord* image = nullptr;  // palette indices; colors: global, then local in place
    int disposal = 0;                    // 0 none, 1 keep, 2 clear to background, 3 restore previous
    int transparent = -1;                // the transparent colour index, or -1
    int delay = 0;                       // hundredths of a second, as stored
    bool endsEarly = false;              // its code stream stopped before its last pixel
};

// What the file says about the animation as a whole.
struct GifScreen {
    int32_t width = 0;  // logical screen
    int32_t height = 0;
    int loops = -1;  // NETSCAPE2.0 loop count: 0 for ever; -1 when absent (shown once)
};

// Takes the images of decodeGifFrames one at a time.
class GifFrameSink {
public:
    virtual ~GifFrameSink() = default;
    // Called before the first image with the screen (the loop count as far
    // as the blocks before the first image tell it).
    virtual void screen(const GifScreen& screen) = 0;
    // The next image; false stops the decode.
    virtual bool frame(const GifFrame& frame) = 0;
};

// Decodes every image of the `size` bytes at `data` in turn and hands each
// to `sink` while it is held (one image at a time: memory does not grow
// with their number). Images that cannot be decoded are stepped over, as
// for decodeGif. False when the bytes are no GIF or hold no decodable
// image before the sink stopped.
bool decodeGifFrames(const uint8_t* data, size_t size, GifFrameSink& sink, int64_t maxPixelBytes = kMaxPixelBytes);

// The number of image descriptors in the GIF at `data`, counted without
// decoding, up to `limit`; 0 for bytes that are no GIF.
int countGifImages(const uint8_t* data, size_t size, int limit);

// Reads the whole file and decodes it. None for a file that cannot be read
// (missing, not a regular file) or does not hold a decodable image; then
// `error` (when given) says why, as for decodeGif, or CannotOpen.
// `endsEarly` as for decodeGif.
ImageHandle readGifFile(const std::string& path, GifRowSink* sink = nullptr, ReadError* error = nullptr,
                        bool* endsEarly = nullptr);

// Decodes `size` bytes at `data`; the bytes are only read. An image whose
// pixel block would pass `maxPixelBytes` (at most kMaxPixelBytes counts) is
// given up like a damaged one; the fuzz targets pass a smaller limit so that
// their time goes into the parser rather than into clearing large blocks.
// With a `sink` that takes the image, the image is not stored: its rows go
// to the sink as they are decoded (one row and the longest LZW string are
// held), and the result is the sink's finish(). With no picture, `error`
// (when given) receives why: the reason the last image was given up for
// (TooLarge, NoMemory, Damaged), or Damaged when the file holds no image.
// `endsEarly`, when given, is set when the image's code stream stopped
// before its last pixel (the pixels not reached are index 0).
ImageHandle decodeGif(const uint8_t* data, size_t size, int64_t maxPixelBytes = kMaxPixelBytes,
                      GifRowSink* sink = nullptr, ReadError* error = nullptr, bool* endsEarly = nullptr);

}  // namespace morvel
