// HEIF reader on libheif (opened on the first HEIF picture, see
// image/heif_library.h): HEIC (HEVC) and AVIF (AV1) pictures, the primary
// image, turned and mirrored by the library as the file says (its irot and
// imir boxes; the EXIF orientation is not applied again). It arrives as
// 8-bit gray, colour through the luminance weights, transparent parts over
// the background.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image_record.h"
#include "image/load_picture.h"
#include "image/read_error.h"

namespace morvel {

// True when `size` bytes at `data` begin with an ISO file-type box ("ftyp")
// naming a HEIF brand (HEIC, AVIF or the generic image brands) as its major
// brand or a compatible one. Needs no library.
bool hasHeifSignature(const uint8_t* data, size_t size);

// Decodes `size` bytes at `data` (only read), as decodeWebp says: the size
// checked against `maxPixelBytes` before decoding, the reason for no picture
// in `error` (the library's message as the detail; NotInstalled when
// libheif cannot be loaded), the colour from the same
// decode into `colour` when asked. The
// library decodes at the stored size; a picture wanted smaller is shrunk
// row by row (RowShrinker) as it is converted.
ImageHandle decodeHeif(const uint8_t* data, size_t size, int64_t maxPixelBytes = kMaxPixelBytes,
                       ReadError* error = nullptr, const LoadOptions& options = {}, ImageHandle* colour = nullptr);

}  // namespace morvel
