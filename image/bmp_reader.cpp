#include "image/bmp_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "image/byte_order.h"
#include "image/row_sink.h"

namespace morvel {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiAlphaBitfields = 6;

bool knownHeaderSize(uint32_t size)
{
    return size == kCoreHeaderSize || size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

// One colour channel stored under a bit mask.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;  // the mask's largest value, shifted down

    explicit Channel(uint32_t m = 0) : mask(m)
    {
        if (m != 0) {
            shift = std::countr_zero(m);
            max = m >> shift;
        }
    }
    uint8_t of(uint32_t value) const
    {
        if (max == 0)
            return 0;
        const uint64_t v = (value & mask) >> shift;
        return static_cast<uint8_t>((v * 255 + max / 2) / max);
    }
};

// What the headers say, checked against the bytes given.
struct BmpLayout {
    int32_t width = 0;
    int32_t height = 0;  // rows, top-down or not
    bool topDown = false;
    uint32_t bitCount = 0;
    uint32_t compression = kBiRgb;
    Channel red, green, blue, alpha;
    std::vector<uint8_t> palette;  // entries of blue, green, red (3 bytes each), 256
    size_t pixels = 0;             // where the pixel data begins
    size_t stride = 0;             // bytes a stored row (uncompressed)
};

// Reads and checks the headers; the reason for refusing in `error`.
std::optional<BmpLayout> readLayout(const uint8_t* data, size_t size, ReadError* error)
{
    BmpLayout layout;
    const uint32_t headerSize = littleEndian32(data + kFileHeaderSize);
    if (size < kFileHeaderSize + headerSize) {
        fail(error, ReadFailure::Damaged, PictureFormat::Bmp, "file ends early");
        return std::nullopt;
    }
    const uint8_t* h = data + kFileHeaderSize;
    int64_t height;
    if (headerSize == kCoreHeaderSize) {
        layout.width = static_cast<int32_t>(littleEndian16(h + 4));
        height = littleEndian16(h + 6);
        layout.bitCount = littleEndian16(h + 10);
    } else {
        layout.width = static_cast<int32_t>(littleEndian32(h + 4));
        height = static_cast<int32_t>(littleEndian32(h + 8));
        layout.bitCount = littleEndian16(h + 14);
        layout.compression = littleEndian32(h + 16);
    }
    layout.topDown = height < 0;
    height = height < 0 ? -height : height;
    if (layout.width < 1 || height < 1 || height > INT32_MAX) {
        fail(error, ReadFailure::Damaged, PictureFormat::Bmp, "no picture size");
        return std::nullopt;
    }
    layout.height = static_cast<int32_t>(height);
    const uint32_t bits = layout.bitCount;
    const uint32_t comp = layout.compression;
    const bool masked = comp == kBiBitfields || comp == kBiAlphaBitfields;
    const bool valid = (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32) &&
                       (comp == kBiRgb || (comp == kBiRle8 && bits == 8) || (comp == kBiRle4 && bits == 4) ||
                        (masked && (bits == 16 || bits == 32))) &&
                       !(layout.topDown && (comp == kBiRle8 || comp == kBiRle4));
    if (!valid) {
        fail(error, ReadFailure::Unsupported, PictureFormat::Bmp, "bit count or compression");
        return std::nullopt;
    }
    // Masks: inside the longer headers, or after the info header.
    size_t at = kFileHeaderSize + headerSize;
    if (masked) {
        const size_t count = comp == kBiAlphaBitfields ? 4 : 3;
        const uint8_t* m = h + 40;
        if (headerSize == 40) {
            if (size - at < count * 4) {
                fail(error, ReadFailure::Damaged, PictureFormat::Bmp, "file ends early");
                return std::nullopt;
            }
            m = data + at;
            at += count * 4;
        }
        layout.red = Channel(littleEndian32(m));
        layout.green = Channel(littleEndian32(m + 4));
        layout.blue = Channel(littleEndian32(m + 8));
        if (count == 4 || headerSize >= 56)
            layout.alpha = Channel(littleEndian32(m + 12));
    } else if (bits == 16) {
        layout.red = Channel(0x7C00);
        layout.green = Channel(0x03E0);
        layout.blue = Channel(0x001F);
    }
    if (bits <= 8) {
        const size_t entrySize = headerSize == kCoreHeaderSize ? 3 : 4;
        const uint32_t used = headerSize == kCoreHeaderSize ? 0 : littleEndian32(h + 32);
        const size_t count = std::min<size_t>(used == 0 || used > (1u << bits) ? (1u << bits) : used, 256);
        layout.palette.assign(256 * 3, 0);
        const size_t available = std::min(count, (size - std::min(size, at)) / entrySize);
        for (size_t i = 0; i < available; ++i)
            std::memcpy(layout.palette.data() + 3 * i, data + at + entrySize * i, 3);
    }
    layout.pixels = littleEndian32(data + 10);
    layout.stride = static_cast<size_t>((uint64_t{static_cast<uint32_t>(layout.width)} * bits + 31) / 32 * 4);
    if (layout.pixels > size) {
        fail(error, ReadFailure::Damaged, PictureFormat::Bmp, "file ends early");
        return std::nullopt;
    }
    return layout;
}

// One stored row (uncompressed) as RGB or RGBA into `out`.
void convertRow(const BmpLayout& layout, const uint8_t* row, uint8_t* out)
{
    const auto width = static_cast<size_t>(layout.width);
    const uint32_t bits = layout.bitCount;
    const bool alpha = layout.alpha.max != 0;
    const size_t step = alpha ? 4 : 3;
    for (size_t x = 0; x < width; ++x) {
        uint8_t* px = out + step * x;
        if (bits <= 8) {
            const size_t perByte = 8 / bits;
            const unsigned shift = static_cast<unsigned>(8 - bits * (1 + x % perByte));
            const unsigned index = (row[x / perByte] >> shift) & ((1u << bits) - 1);
            const uint8_t* entry = layout.palette.data() + 3 * index;
            px[0] = entry[2];
            px[1] = entry[1];
            px[2] = entry[0];
        } else if (bits == 24 && layout.red.mask == 0) {
            px[0] = row[3 * x + 2];
            px[1] = row[3 * x + 1];
            px[2] = row[3 * x];
        } else if (bits == 32 && layout.red.mask == 0) {
            px[0] = row[4 * x + 2];
            px[1] = row[4 * x + 1];
            px[2] = row[4 * x];
        } else {
            const uint32_t v = bits == 16 ? littleEndian16(row + 2 * x) : littleEndian32(row + 4 * x);
            px[0] = layout.red.of(v);
            px[1] = layout.green.of(v);
            px[2] = layout.blue.of(v);
            if (alpha)
                px[3] = layout.alpha.of(v);
        }
    }
}

// Expands RLE8 or RLE4 data into one palette index a pixel, bottom row
// first as stored. Pixels the data skips or never reaches keep index 0.
// False when the data ends without its end-of-picture code.
bool expandRle(const BmpLayout& layout, const uint8_t* data, size_t size, std::vector<uint8_t>& indices)
{
    const auto width = static_cast<size_t>(layout.width);
    const auto height = static_cast<size_t>(layout.height);
    const bool four = layout.compression == kBiRle4;
    size_t at = layout.pixels, x = 0, y = 0;
    const auto put = [&](uint8_t index) {
        if (x < width && y < height)
            indices[y * width + x] = index;
        ++x;
    };
    while (size - at >= 2) {
        const uint8_t count = data[at], value = data[at + 1];
        at += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; ++i)
                put(four ? static_cast<uint8_t>(i % 2 == 0 ? value >> 4 : value & 15) : value);
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            return true;
        } else if (value == 2) {
            if (size - at < 2)
                return false;
            x += data[at];
            y += data[at + 1];
            at += 2;
        } else {
            // `value` literal pixels, padded to a whole 16-bit word.
            const size_t bytes = four ? (value + 1u) / 2 : value;
            if (size - at < bytes)
                return false;
            for (unsigned i = 0; i < value; ++i) {
                const uint8_t b = data[at + (four ? i / 2 : i)];
                put(four ? static_cast<uint8_t>(i % 2 == 0 ? b >> 4 : b & 15) : b);
            }
            // The padding byte may be missing at the very end.
            at = std::min(size, at + ((bytes + 1) & ~size_t{1}));
        }
        if (y >= height)
            return true;
    }
    return false;
}

// Every row, top first, into `sink`. The reason for failing in `error`.
bool readRows(const BmpLayout& layout, const uint8_t* data, size_t size, RowSink& sink, ReadError* error)
{
    const auto width = static_cast<size_t>(layout.width);
    const auto height = static_cast<size_t>(layout.height);
    const bool rle = layout.compression == kBiRle8 || layout.compression == kBiRle4;
    std::vector<uint8_t> out, indices;
    try {
        out.resize(width * 4);
        if (rle)
            indices.assign(width * height, 0);
    } catch (const std::bad_alloc&) {
        return fail(error, ReadFailure::NoMemory, PictureFormat::Bmp);
    }
    if (rle && !expandRle(layout, data, size, indices))
        return fail(error, ReadFailure::Damaged, PictureFormat::Bmp, "file ends early");
    if (!rle && (size - layout.pixels) / layout.stride < height)
        return fail(error, ReadFailure::Damaged, PictureFormat::Bmp, "file ends early");
    BmpLayout expanded;
    if (rle) {
        expanded = layout;
        expanded.bitCount = 8;
    }
    const RowLayout rowLayout = layout.alpha.max != 0 ? RowLayout::Rgba : RowLayout::Rgb;
    for (size_t y = 0; y < height; ++y) {
        const size_t stored = layout.topDown ? y : height - 1 - y;
        if (rle)
            convertRow(expanded, indices.data() + stored * width, out.data());
        else
            convertRow(layout, data + layout.pixels + stored * layout.stride, out.data());
        sink.addRow(out.data(), rowLayout);
    }
    return true;
}

}  // namespace

bool hasBmpSignature(const uint8_t* data, size_t size)
{
    return data != nullptr && size >= kFileHeaderSize + 4 && data[0] == 'B' && data[1] == 'M' &&
           knownHeaderSize(littleEndian32(data + kFileHeaderSize));
}

ImageHandle decodeBmp(const uint8_t* data, size_t size, int64_t maxPixelBytes, ReadError* error,
                      const LoadOptions& options, ImageHandle* colour)
{
    if (!hasBmpSignature(data, size)) {
        fail(error, ReadFailure::NotAPicture, PictureFormat::Bmp);
        return nullptr;
    }
    const std::optional<BmpLayout> layout = readLayout(data, size, error);
    if (!layout)
        return nullptr;
    const bool rle = layout->compression == kBiRle8 || layout->compression == kBiRle4;
    const int64_t limit = std::min(maxPixelBytes, kMaxPixelBytes);
    const bool wantColour = colour != nullptr && options.colour;
    RowSink sink(layout->width, layout->height, wantedSize(options, layout->width, layout->height), wantColour, limit,
                 options.background);
    // An RLE picture is expanded whole (one byte a pixel) before its rows go
    // to the sink: that block counts against the limit as well.
    if (sink.tooLarge() || (rle && int64_t{layout->width} * layout->height > limit)) {
        fail(error, ReadFailure::TooLarge, PictureFormat::Bmp);
        return nullptr;
    }
    if (!sink.ready()) {
        fail(error, ReadFailure::NoMemory, PictureFormat::Bmp);
        return nullptr;
    }
    if (!readRows(*layout, data, size, sink, error))
        return nullptr;
    ImageHandle picture = sink.finish(colour);
    if (!picture)
        fail(error, ReadFailure::NoMemory, PictureFormat::Bmp);
    return picture;
}

}  // namespace morvel
