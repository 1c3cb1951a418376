// GIF pictures in gray at the size a load asks for: an image that is shrunk
// has its rows turned gray and averaged into the result as the decoder makes
// them (an interlaced one's, coming in pass order, summed by AreaSum), so the
// image is never held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "image/image_record.h"
#include "image/load_picture.h"
#include "image/read_error.h"

namespace morvel {

// The gray picture of the GIF file at `path` (or of `size` bytes at `data`),
// at the size `options`' fit asks for (natural without one): grayFromPalette's
// levels, shrunk by RowShrinker or AreaSum (the same bytes) or, when decoded
// whole, resized by resizeGray. Nullopt when the file holds no GIF picture; none inside when it
// does but the picture cannot be made at that size. With `colour` given and
// colour asked for in `options`, it receives the palette colours of the same
// decode at the gray picture's size, shrunk alike (none when not had).
// Without a picture, `error` (when given) says why (see decodeGif).
// `warning`, when given, receives endsEarlyWarning's words for an image
// whose code stream stopped before its last pixel, else nothing.
std::optional<ImageHandle> readGifGray(const std::string& path, const LoadOptions& options,
                                       ImageHandle* colour = nullptr, ReadError* error = nullptr,
                                       std::string* warning = nullptr);
std::optional<ImageHandle> decodeGifGray(const uint8_t* data, size_t size, const LoadOptions& options,
                                         ImageHandle* colour = nullptr, ReadError* error = nullptr,
                                         std::string* warning = nullptr);

// A picture decoded whole, brought to the size `options`' fit asks for.
ImageHandle fitWhole(ImageHandle picture, const LoadOptions& options);

}  // namespace morvel
