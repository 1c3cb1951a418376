// WebP reader on libwebp: the picture (the first frame of an animation)
// arrives as 8-bit gray, colour through the luminance weights, transparent
// parts over the background.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image_record.h"
#include "image/load_picture.h"
#include "image/read_error.h"

namespace morvel {

// True when `size` bytes at `data` begin as a WebP file: "RIFF", a length,
// "WEBP".
bool hasWebpSignature(const uint8_t* data, size_t size);

// Decodes `size` bytes at `data` (only read). The picture's size is checked
// against `maxPixelBytes` (at most kMaxPixelBytes counts) before any pixel
// is decoded; so is the library's own output block. A picture wanted smaller
// (a `fit` in `options`) is scaled by the library while it decodes, so that
// only the smaller picture is ever held. With `colour` given and colour
// asked for, it receives the colour from the same decode. With no picture,
// `error` (when given) receives why: NotAPicture, Damaged (the library's
// word for it), Unsupported, TooLarge or NoMemory.
ImageHandle decodeWebp(const uint8_t* data, size_t size, int64_t maxPixelBytes = kMaxPixelBytes,
                       ReadError* error = nullptr, const LoadOptions& options = {}, ImageHandle* colour = nullptr);

}  // namespace morvel
