// JPEG reader on libjpeg: every accepted file arrives as 8-bit gray with the
// gray colour table (CMYK and YCCK files through RGB). Library errors give no
// picture; nothing is printed, the reason is handed back instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/image_record.h"
#include "image/load_picture.h"
#include "image/read_error.h"

namespace morvel {

// Memory the library may use for its own whole-image buffers (the coefficient
// store of progressive and multi-scan files). A progressive 4:2:0 colour photo
// needs about 3 bytes per pixel there, so 256 MiB covers pictures of some 85
// megapixels, while a small file declaring a huge progressive picture is
// refused instead of taking gigabytes.
// See readJpegFile: the library's words for a file that ends early.
inline constexpr const char* kJpegEndsEarly = "Premature end of JPEG file";
inline constexpr uint8_t kJpegFillLevel = 128;

inline constexpr long kJpegLibraryMemory = 256L * 1024 * 1024;

// The scale, in eighths (1 to 8), at which the reader has the library decode
// a picture of `natural` size that is wanted at `target`: the smallest M
// whose output, natural x M / 8 rounded up each way, still covers the target
// both ways; 8 (the natural size) when none smaller does.
int jpegScaleEighths(PictureSize natural, PictureSize target);

// The picture in the JPEG file at `path`, or none. A picture whose pixel block
// would pass `maxPixelBytes` (at most kMaxPixelBytes counts) is refused before
// decoding starts; the fuzz targets pass a smaller limit to keep their runs
// short. `error`, when given, receives why there is no picture (Damaged with
// the library's message, TooLarge, DecoderLimit when the library's own
// memory would not do, Unsupported, NoMemory, or CannotOpen with the
// system's words); with a picture, no failure and as its detail
// kJpegEndsEarly when the data ended before the picture (the library fills
// the rest with gray level kJpegFillLevel), else the library's first warning
// about damage it decoded past, or nothing.
//
// With a `fit` in `options`, the picture comes at the size it asks for
// (given the stored size): the library decodes at jpegScaleEighths of it and
// each decoded row goes straight into the area averaging (RowShrinker), so
// memory never holds the picture at the decoded size; a picture to be
// enlarged is decoded whole and resized (resizeGray). The size limit then
// applies to the size asked for.
//
// With `colour` given and colour asked for in `options`, a YCbCr, CMYK/YCCK
// or gray file also gives its colour (RGB, 24-bit) from the same decode, at
// the gray picture's size: decoded as YCbCr, Y is the gray (the very bytes
// of gray output) and the three components convert to RGB (rgbOfYcc), each
// channel shrunk alike. Other files (stored as RGB) leave `colour` none.
ImageHandle readJpegFile(const std::string& path, int64_t maxPixelBytes = kMaxPixelBytes, ReadError* error = nullptr,
                         const LoadOptions& options = {}, ImageHandle* colour = nullptr);

// The same reader on `size` bytes at `data` (only read), for pictures that
// arrive in memory, such as on standard input. At most kMaxFileBytes.
ImageHandle decodeJpeg(const uint8_t* data, size_t size, int64_t maxPixelBytes = kMaxPixelBytes,
                       ReadError* error = nullptr, const LoadOptions& options = {}, ImageHandle* colour = nullptr);

// The whole picture decoded at `scaleEighths` / 8 of its size (1 to 8), as
// the library delivers it: what a fitted read shrinks while it decodes.
ImageHandle decodeJpegAtScale(const uint8_t* data, size_t size, int scaleEighths);

}  // namespace morvel
