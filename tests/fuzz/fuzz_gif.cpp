// Fuzz target: the GIF decoder on raw bytes.
#include <cstddef>
#include <cstdint>

#include "image/gif_decoder.h"
#include "image/gif_frames.h"
#include "tests/fuzz/fuzz_support.h"

namespace {
// Pictures up to 4 MiB decode in full; larger declared sizes are refused the
// way 1 GiB is in the programs, so the fuzzer's time goes into parsing.
constexpr int64_t kFuzzPixelBytes = int64_t{4} << 20;
volatile uint32_t sink;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    morvel::ImageHandle image = morvel::decodeGif(data, size, kFuzzPixelBytes);
    if (image)
        sink = morvel::fuzz::checkPicture(*image);
    // Every frame, composed; at most a few, so one input stays quick.
    morvel::LoadOptions options;
    options.colour = true;
    morvel::forEachGifFrame(
        data, size, options,
        [](morvel::AnimationFrame& frame) {
            if (frame.picture.gray)
                sink = morvel::fuzz::checkPicture(*frame.picture.gray);
            return frame.index < 8;
        },
        nullptr, kFuzzPixelBytes);
    return 0;
}
