// BMP reader: Windows and OS/2 bitmaps (the core, info, V4 and V5 headers),
// 1, 4 and 8 bits a pixel through their colour table, 16, 24 and 32 bits
// as stored or through their bit masks, RLE8 and RLE4, bottom-up and
// top-down. The picture arrives as 8-bit gray, colour through the luminance
// weights; an alpha mask (V4 and V5 headers, or the alpha bit fields) lays
// the picture over the background. Only the bytes given are read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image_record.h"
#include "image/load_picture.h"
#include "image/read_error.h"

namespace morvel {

// True when `size` bytes at `data` begin as a BMP file: "BM" and a header
// size that one of the headers has.
bool hasBmpSignature(const uint8_t* data, size_t size);

// Decodes `size` bytes at `data`, as decodeWebp says: the size checked
// against `maxPixelBytes` before any pixel is decoded, the reason for no
// picture in `error`, the colour from the same decode into `colour` when
// asked. A picture wanted smaller is shrunk row by row (RowShrinker).
ImageHandle decodeBmp(const uint8_t* data, size_t size, int64_t maxPixelBytes = kMaxPixelBytes,
                      ReadError* error = nullptr, const LoadOptions& options = {}, ImageHandle* colour = nullptr);

}  // namespace morvel
