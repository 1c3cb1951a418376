// The load sequence for a picture: GIF first (then converted to gray), then
// PNG for data that begins with the PNG signature and JPEG for any other
// (both gray already).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/image_record.h"

namespace morvel {

// An 8-bit gray picture, or none when no decoder reads the file.
ImageHandle loadPicture(const std::string& path);

// The same sequence on `size` bytes in memory (a picture read from standard
// input); the bytes are only read.
ImageHandle loadPictureFromBytes(const uint8_t* data, size_t size);

// The path's last component ('/' separates); the whole path when it has none.
std::string displayNameOf(const std::string& path);

}  // namespace morvel
