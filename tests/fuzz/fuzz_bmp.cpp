// Fuzz target: the BMP reader on bytes in memory, plain, with colour and
// shrinking while it decodes (checkStillReader).
#include <cstddef>
#include <cstdint>

#include "image/bmp_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace {
volatile uint32_t sink;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    sink = morvel::fuzz::checkStillReader(morvel::decodeBmp, data, size);
    return 0;
}
