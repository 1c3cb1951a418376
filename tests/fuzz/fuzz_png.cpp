// Fuzz target: the PNG reader, through a file as the programs use it, and on
// the same bytes in memory (pictures read from standard input): both ways
// give the same picture or both none, and the same reason for none; asked
// for colour, the reader gives the same gray picture and colour of its size.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/png_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace {
constexpr int64_t kFuzzPixelBytes = int64_t{4} << 20;
volatile uint32_t sink;

bool samePixels(const morvel::ImageRecord& a, const morvel::ImageRecord& b)
{
    return a.header.biWidth == b.header.biWidth && a.rowCount == b.rowCount &&
           std::memcmp(a.pixels, b.pixels,
                       static_cast<size_t>(morvel::imageRowPitch(a.header.biWidth, 8) * a.rowCount)) == 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using morvel::fuzz::fail;
    const std::string& path = morvel::fuzz::ScratchFile::instance().hold(data, size);
    morvel::ReadError fileError;
    morvel::ReadError memoryError;
    morvel::ImageHandle image = morvel::readPngFile(path, kFuzzPixelBytes, {}, nullptr, &fileError);
    morvel::ImageHandle fromMemory = morvel::decodePng(data, size, kFuzzPixelBytes, {}, nullptr, &memoryError);
    if (!image != !fromMemory)
        fail("file and memory readers disagree on whether there is a picture");
    if (!image) {
        if (!fileError || fileError.failure != memoryError.failure)
            fail("file and memory readers give different reasons for no picture");
        return 0;
    }
    if (!samePixels(*image, *fromMemory))
        fail("file and memory readers give different pictures");
    sink = morvel::fuzz::checkPicture(*image);
    morvel::LoadOptions withColour;
    withColour.colour = true;
    morvel::ImageHandle colour;
    morvel::ImageHandle gray = morvel::decodePng(data, size, kFuzzPixelBytes, withColour, &colour);
    if (!gray || !samePixels(*image, *gray))
        fail("asking for colour changed the gray picture");
    if (colour && (colour->header.biBitCount != 24 || colour->header.biWidth != image->header.biWidth ||
                   colour->rowCount != image->rowCount))
        fail("colour of another size than the gray picture");
    return 0;
}
