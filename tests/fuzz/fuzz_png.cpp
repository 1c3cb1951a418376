// Fuzz target: the PNG reader (on the input with its chunk checksums made
// right when its last byte is odd), through a file as the programs use it,
// and on the same bytes in memory (pictures read from standard input): both ways
// give the same picture or both none, and the same reason for none; asked
// for colour, the reader gives the same gray picture and colour of its size.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "image/png_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace {
constexpr int64_t kFuzzPixelBytes = int64_t{4} << 20;
volatile uint32_t sink;

// The CRC-32 of PNG chunks (ISO 3309, the polynomial reflected).
uint32_t crc32(const uint8_t* data, size_t size)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

// The input with every whole chunk's checksum made right, so that mutations
// reach the chunk parsers and the decompressor instead of stopping at the
// checksum test. Only every other input is mended: broken checksums are
// fuzzed too.
std::vector<uint8_t> withChecksums(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> bytes(data, data + size);
    for (size_t at = 8; at + 12 <= bytes.size();) {
        const uint64_t length =
            uint64_t{bytes[at]} << 24 | uint64_t{bytes[at + 1]} << 16 | uint64_t{bytes[at + 2]} << 8 | bytes[at + 3];
        if (length > bytes.size() - at - 12)
            break;
        const uint32_t crc = crc32(bytes.data() + at + 4, static_cast<size_t>(length) + 4);
        uint8_t* field = bytes.data() + at + 8 + length;
        field[0] = static_cast<uint8_t>(crc >> 24);
        field[1] = static_cast<uint8_t>(crc >> 16);
        field[2] = static_cast<uint8_t>(crc >> 8);
        field[3] = static_cast<uint8_t>(crc);
        at += 12 + static_cast<size_t>(length);
    }
    return bytes;
}

bool samePixels(const morvel::ImageRecord& a, const morvel::ImageRecord& b)
{
    return a.header.biWidth == b.header.biWidth && a.rowCount == b.rowCount &&
           std::memcmp(a.pixels, b.pixels,
                       static_cast<size_t>(morvel::imageRowPitch(a.header.biWidth, 8) * a.rowCount)) == 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize)
{
    using morvel::fuzz::fail;
    // The last byte (when there is one) chooses whether checksums are mended.
    const bool mend = inputSize > 0 && (input[inputSize - 1] & 1) != 0;
    const std::vector<uint8_t> mended = mend ? withChecksums(input, inputSize) : std::vector<uint8_t>();
    const uint8_t* data = mend ? mended.data() : input;
    const size_t size = inputSize;
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
