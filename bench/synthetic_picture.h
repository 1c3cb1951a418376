// Photo-like test pictures for the benchmarks: smooth light falling across
// the frame, soft round shapes, hard edges and fine grain, made from a seed
// so every run times the same pixels.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "image/image_record.h"

namespace morvel::bench {

struct Scene;

// The scene row by row, top to bottom, for pictures too large to be held:
// the same pixels as photoLikeGray / photoLikeRgb, or without the grain (a
// smooth picture, which compresses far better).
class PhotoLikeRows {
public:
    PhotoLikeRows(int32_t width, int32_t height, uint32_t seed = 1, bool grain = true);
    ~PhotoLikeRows();
    // The next row: width gray bytes, or width x 3 RGB bytes.
    void nextGray(uint8_t* gray);
    void nextRgb(uint8_t* rgb);

private:
    std::unique_ptr<Scene> scene_;
    bool grain_;
    int32_t y_ = 0;
};

// An 8-bit gray picture.
ImageHandle photoLikeGray(int32_t width, int32_t height, uint32_t seed = 1);

// The same scene in colour, as interleaved RGB bytes (width x height x 3).
std::vector<uint8_t> photoLikeRgb(int32_t width, int32_t height, uint32_t seed = 1);

// The picture as a baseline JPEG (colour, 4:2:0, `quality`) in memory.
std::vector<uint8_t> encodeJpeg(const std::vector<uint8_t>& rgb, int32_t width, int32_t height, int quality = 88);

}  // namespace morvel::bench
