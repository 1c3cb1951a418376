// Fuzz target: the JPEG reader, through a file as the programs use it, and
// on the same bytes in memory (pictures read from standard input): both ways
// must give the same picture or both none; asked for colour, the reader
// gives the same gray picture and, when it gives colour, at its size.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/jpeg_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace {
constexpr int64_t kFuzzPixelBytes = int64_t{4} << 20;
volatile uint32_t sink;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = morvel::fuzz::ScratchFile::instance().hold(data, size);
    morvel::ImageHandle image = morvel::readJpegFile(path, kFuzzPixelBytes);
    morvel::ImageHandle fromMemory = morvel::decodeJpeg(data, size, kFuzzPixelBytes);
    if (!image != !fromMemory)
        morvel::fuzz::fail("file and memory readers disagree on whether there is a picture");
    if (!image)
        return 0;
    if (image->header.biWidth != fromMemory->header.biWidth || image->rowCount != fromMemory->rowCount ||
        std::memcmp(image->pixels, fromMemory->pixels,
                    static_cast<size_t>(morvel::imageRowPitch(image->header.biWidth, 8) * image->rowCount)) != 0)
        morvel::fuzz::fail("file and memory readers give different pictures");
    sink = morvel::fuzz::checkPicture(*image);
    morvel::LoadOptions withColour;
    withColour.colour = true;
    morvel::ImageHandle both;
    morvel::ImageHandle bothGray = morvel::decodeJpeg(data, size, kFuzzPixelBytes, nullptr, withColour, &both);
    if (!bothGray || bothGray->header.biWidth != image->header.biWidth || bothGray->rowCount != image->rowCount ||
        std::memcmp(image->pixels, bothGray->pixels,
                    static_cast<size_t>(morvel::imageRowPitch(image->header.biWidth, 8) * image->rowCount)) != 0)
        morvel::fuzz::fail("asking for colour changed the gray picture");
    if (both && (both->header.biBitCount != 24 || both->header.biWidth != image->header.biWidth ||
                 both->rowCount != image->rowCount))
        morvel::fuzz::fail("colour from the gray decode of another size than the gray one");
    for (int32_t y = 0; both && y < both->rowCount; ++y)
        for (int32_t x = 0; x < both->header.biWidth * 3; ++x)
            sink = sink + both->rows[y][x];
    // Every JPEG picture arrives gray with the gray colour table.
    for (int i = 0; i < 256; ++i) {
        const morvel::RgbQuad& c = image->colors[i];
        if (c.rgbRed != i || c.rgbGreen != i || c.rgbBlue != i)
            morvel::fuzz::fail("JPEG picture without the gray colour table");
    }
    return 0;
}
