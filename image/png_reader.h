// PNG reader on libspng: every accepted picture arrives as 8-bit gray with the
// gray colour table, whatever its colour type and bit depth. Any damage (a bad
// checksum, a cut-off file, a broken compressed stream) gives no picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/image_record.h"
#include "image/load_picture.h"
#include "image/read_error.h"

namespace morvel {

// Largest width and height taken from a PNG header. GIF sizes are 16-bit and
// the JPEG library stops at 65500, so no format gives wider pictures; the cap
// also bounds the one decoded row the reader keeps (8 bytes a pixel at most).
inline constexpr uint32_t kMaxPngSide = 65535;

// True when `size` bytes at `data` begin with the 8-byte PNG signature.
bool hasPngSignature(const uint8_t* data, size_t size);

// The gray level of a colour, as the JPEG library computes luminance:
// Y = 0.299 R + 0.587 G + 0.114 B in 16-bit fixed point, rounded half up.
// The three weights sum to exactly 1, so a gray colour keeps its level.
uint8_t grayOfRgb(uint8_t red, uint8_t green, uint8_t blue);

// Decodes `size` bytes at `data` (only read). Colour becomes gray by
// grayOfRgb; transparency (an alpha channel or a tRNS chunk) is composed over
// the options' background; 16-bit samples are rounded to 8 bits; samples are taken as stored
// (no gamma correction, as for GIF and JPEG). A picture whose pixel block
// would pass `maxPixelBytes` (at most kMaxPixelBytes counts) is refused before
// any pixel is decoded.
//
// With a `fit` in `options`, the picture comes at the size it asks for. A
// non-interlaced picture to be shrunk has each decoded row averaged into the
// result at once (RowShrinker), so memory holds the result and one row; an
// interlaced one has the pixels of each pass summed as they come (AreaSum,
// the same bytes), unless the sums (8 bytes a pixel of the result) would
// take more than the whole picture. A picture to be enlarged, or that one,
// is decoded whole and resized (resizeGray). The size limit then applies to
// what is held.
//
// With `colour` given and colour asked for in `options`, it receives the
// picture's colour from the same rows (the samples over the background, as the gray
// is made), at the gray picture's size, shrunk alike; none when it could not
// be had.
//
// With no picture, `error` (when given) receives why: Damaged, TooLarge (the
// pixel block), Unsupported (a side past kMaxPngSide), NoMemory, NotAPicture
// (no PNG signature) or, for a file, CannotOpen.
ImageHandle decodePng(const uint8_t* data, size_t size, int64_t maxPixelBytes = kMaxPixelBytes,
                      const LoadOptions& options = {}, ImageHandle* colour = nullptr, ReadError* error = nullptr);

// Decodes the regular file at `path`, read as the decoder goes rather than
// whole. None for a file that cannot be read or does not hold a PNG picture.
ImageHandle readPngFile(const std::string& path, int64_t maxPixelBytes = kMaxPixelBytes,
                        const LoadOptions& options = {}, ImageHandle* colour = nullptr, ReadError* error = nullptr);

}  // namespace morvel
