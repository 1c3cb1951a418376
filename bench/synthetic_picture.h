// Photo-like test pictures for the benchmarks: smooth light falling across
// the frame, soft round shapes, hard edges and fine grain, made from a seed
// so every run times the same pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "image/image_record.h"

namespace morvel::bench {

// An 8-bit gray picture.
ImageHandle photoLikeGray(int32_t width, int32_t height, uint32_t seed = 1);

// The same scene in colour, as interleaved RGB bytes (width x height x 3).
std::vector<uint8_t> photoLikeRgb(int32_t width, int32_t height, uint32_t seed = 1);

// The picture as a baseline JPEG (colour, 4:2:0, `quality`) in memory.
std::vector<uint8_t> encodeJpeg(const std::vector<uint8_t>& rgb, int32_t width, int32_t height, int quality = 88);

}  // namespace morvel::bench
