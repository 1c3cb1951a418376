// Fuzz target: the HEIF (HEIC, AVIF) reader on bytes in memory, plain, with
// colour and shrinking while it decodes (checkStillReader; the pixels of a
// damaged picture may differ from decode to decode, see there).
#include <cstddef>
#include <cstdint>

#include "image/heif_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace {
volatile uint32_t sink;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    sink = morvel::fuzz::checkStillReader(morvel::decodeHeif, data, size, false);
    return 0;
}
