// JPEG reader on libjpeg: every accepted file arrives as 8-bit gray with the
// gray colour table. Library errors give no picture; warnings go to stderr.
#pragma once

#include <string>

#include "image/image_record.h"

namespace morvel {

ImageHandle readJpegFile(const std::string& path);

}  // namespace morvel
