// PNG files written with libspng: 8-bit gray or 24-bit colour records as
// they are, rows unfiltered, no chunks beyond the image.
#pragma once

#include <optional>
#include <string>

#include "image/image_record.h"

namespace morvel {

// The PNG file of an 8-bit gray (gray ramp) or 24-bit (red, green, blue)
// record; none for another record or when encoding fails.
std::optional<std::string> encodePng(const ImageRecord& picture);

}  // namespace morvel
