// The load sequence for a picture file: GIF first (then converted to gray),
// otherwise JPEG (gray already).
#pragma once

#include <string>

#include "image/image_record.h"

namespace morvel {

// An 8-bit gray picture, or none when neither decoder reads the file.
ImageHandle loadPicture(const std::string& path);

// The path's last component ('/' separates); the whole path when it has none.
std::string displayNameOf(const std::string& path);

}  // namespace morvel
