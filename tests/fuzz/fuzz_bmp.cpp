// Fuzz target: the BMP reader on bytes in memory, plain, with colour and
// shrinking while it decodes (checkStillReader).
#include <cstddef>
#include <cstdint>

#include "image/bmp_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace {
constexpr int64_t kFuzzPixelBytes = int64_t{4} << 20;
volatile uint32_t sink;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    sink = morvel::fuzz::checkStillReader(
        [](const uint8_t* bytes, size_t length, const morvel::LoadOptions& options, morvel::ImageHandle* colour,
           morvel::ReadError* why) { return morvel::decodeBmp(bytes, length, kFuzzPixelBytes, why, options, colour); },
        data, size);
    return 0;
}
