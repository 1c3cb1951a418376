#include "image/png_reader.h"

#include <spng.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "image/file_bytes.h"

namespace morvel {
namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// Limits on the chunks besides the image data, which the library keeps in
// memory although the reader needs none of them: one may hold 16 MiB, all
// together 64 MiB (the library wants the total at least the single limit).
// The image data chunks are decompressed as they come, whatever their size.
constexpr size_t kMaxChunkBytes = size_t{16} << 20;
constexpr size_t kMaxChunkCache = size_t{64} << 20;

// Luminance weights of the JPEG library: FIX(x) = x * 65536 rounded.
constexpr uint32_t kRedWeight = 19595;    // 0.29900
constexpr uint32_t kGreenWeight = 38470;  // 0.58700
constexpr uint32_t kBlueWeight = 7471;    // 0.11400
static_assert(kRedWeight + kGreenWeight + kBlueWeight == 65536);

struct SpngContextDeleter {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using SpngContext = std::unique_ptr<spng_ctx, SpngContextDeleter>;

// A sample of `maxValue` full scale composed over white with `alpha` of the
// same scale: c a + max (max - a), divided by max, rounded.
uint64_t overWhite(uint64_t sample, uint64_t alpha, uint64_t maxValue)
{
    return (sample * alpha + maxValue * (maxValue - alpha) + maxValue / 2) / maxValue;
}

// A 16-bit sample rounded to 8 bits: v x 255 / 65535 to the nearest.
uint8_t to8Bits(uint64_t sample16)
{
    return static_cast<uint8_t>((sample16 * 255 + 32767) / 65535);
}

// Adam7: the first column and the column step of each of the seven passes;
// a non-interlaced picture is one pass over every column.
struct PassColumns {
    uint32_t first;
    uint32_t step;
};
constexpr PassColumns kAdam7Columns[7] = {{0, 8}, {4, 8}, {0, 4}, {2, 4}, {0, 2}, {1, 2}, {0, 1}};

// Gray pixels of the decoded RGBA row `rgba` (8 or 16 bits a sample, host
// order) at the columns of `columns`, written into `gray`.
void grayRow(const uint8_t* rgba, bool sixteenBit, uint32_t width, PassColumns columns, uint8_t* gray)
{
    for (uint32_t x = columns.first; x < width; x += columns.step) {
        uint8_t rgb[3];
        if (sixteenBit) {
            uint16_t px[4];
            std::memcpy(px, rgba + size_t{x} * 8, sizeof px);
            for (int c = 0; c < 3; ++c)
                rgb[c] = to8Bits(overWhite(px[c], px[3], 65535));
        } else {
            const uint8_t* px = rgba + size_t{x} * 4;
            for (int c = 0; c < 3; ++c)
                rgb[c] = static_cast<uint8_t>(overWhite(px[c], px[3], 255));
        }
        gray[x] = grayOfRgb(rgb[0], rgb[1], rgb[2]);
    }
}

// The PNG bytes as the library sees them: only the chunks that carry the
// picture (header, palette, transparency, image data, end, and any critical
// chunk it must refuse). Text, EXIF, colour profiles and every other
// ancillary chunk are stepped over unread, so damage in them (a bad
// checksum, a huge compressed text, hundreds of thousands of chunks) never
// costs the picture, as in other viewers.
class ImageChunkStream {
public:
    ImageChunkStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // The library's read function: exactly `length` bytes, or end of input.
    static int read(spng_ctx*, void* user, void* destination, size_t length)
    {
        return static_cast<ImageChunkStream*>(user)->copy(static_cast<uint8_t*>(destination), length);
    }

private:
    static bool isKept(const uint8_t* type)
    {
        const bool critical = (type[0] & 0x20) == 0;
        return critical || std::memcmp(type, "tRNS", 4) == 0;
    }

    // At a chunk boundary: steps over ancillary chunks and makes the next
    // kept chunk (length, type, data, checksum) the one being read. A chunk
    // that runs past the end is handed on as it is, for the library to find
    // it cut short.
    void nextChunk()
    {
        while (at_ + 8 <= size_) {
            const uint64_t length = uint64_t{data_[at_]} << 24 | uint64_t{data_[at_ + 1]} << 16 |
                                    uint64_t{data_[at_ + 2]} << 8 | data_[at_ + 3];
            const uint64_t whole = length + 12;
            if (isKept(data_ + at_ + 4) || whole > size_ - at_) {
                left_ = static_cast<size_t>(std::min<uint64_t>(whole, size_ - at_));
                return;
            }
            at_ += static_cast<size_t>(whole);
        }
        left_ = size_ - at_;
    }

    int copy(uint8_t* destination, size_t length)
    {
        while (length > 0) {
            if (left_ == 0) {
                if (at_ < kSignatureSize) {
                    left_ = std::min(kSignatureSize, size_) - at_;
                } else {
                    nextChunk();
                }
                if (left_ == 0)
                    return SPNG_IO_EOF;
            }
            const size_t part = std::min(left_, length);
            std::memcpy(destination, data_ + at_, part);
            destination += part;
            length -= part;
            at_ += part;
            left_ -= part;
        }
        return 0;
    }

    static constexpr size_t kSignatureSize = 8;
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    size_t left_ = 0;
};

}  // namespace

bool hasPngSignature(const uint8_t* data, size_t size)
{
    return data != nullptr && size >= sizeof kPngSignature &&
           std::memcmp(data, kPngSignature, sizeof kPngSignature) == 0;
}

uint8_t grayOfRgb(uint8_t red, uint8_t green, uint8_t blue)
{
    return static_cast<uint8_t>((kRedWeight * red + kGreenWeight * green + kBlueWeight * blue + 32768) >> 16);
}

ImageHandle decodePng(const uint8_t* data, size_t size, int64_t maxPixelBytes)
{
    if (!hasPngSignature(data, size))
        return nullptr;
    SpngContext ctx(spng_ctx_new(0));
    if (!ctx)
        return nullptr;
    ImageChunkStream stream(data, size);
    if (spng_set_image_limits(ctx.get(), kMaxPngSide, kMaxPngSide) != 0 ||
        spng_set_chunk_limits(ctx.get(), kMaxChunkBytes, kMaxChunkCache) != 0 ||
        spng_set_png_stream(ctx.get(), ImageChunkStream::read, &stream) != 0)
        return nullptr;

    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx.get(), &ihdr) != 0 || ihdr.width == 0 || ihdr.height == 0 ||
        ihdr.width > kMaxPngSide || ihdr.height > kMaxPngSide)
        return nullptr;
    // The size check comes before any pixel memory is taken.
    const int64_t limit = std::min(maxPixelBytes, kMaxPixelBytes);
    if (imageRowPitch(ihdr.width, 8) * static_cast<int64_t>(ihdr.height) > limit)
        return nullptr;

    const bool sixteenBit = ihdr.bit_depth == 16;
    const int format = sixteenBit ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
    if (spng_decode_image(ctx.get(), nullptr, 0, format, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE) != 0)
        return nullptr;

    const auto width = static_cast<int32_t>(ihdr.width);
    const auto height = static_cast<int32_t>(ihdr.height);
    ImageHandle picture = makeGrayImage(width, height);
    if (!picture)
        return nullptr;
    clearRowFill(*picture);

    // One decoded row at a time: an interlaced picture arrives pass by pass,
    // each call filling only that pass's columns of the row it names.
    std::vector<uint8_t> row(size_t{ihdr.width} * (sixteenBit ? 8 : 4));
    for (;;) {
        // The end shows either on the last row's decoding or, after some
        // interlaced pictures, only when the next row is asked for.
        spng_row_info info{};
        const int infoStatus = spng_get_row_info(ctx.get(), &info);
        if (infoStatus == SPNG_EOI)
            break;
        if (infoStatus != 0)
            return nullptr;
        const int status = spng_decode_row(ctx.get(), row.data(), row.size());
        if (status != 0 && status != SPNG_EOI)
            return nullptr;
        if (info.row_num >= ihdr.height)
            return nullptr;
        const int pass = ihdr.interlace_method != 0 ? info.pass : 6;
        if (pass < 0 || pass > 6)
            return nullptr;
        grayRow(row.data(), sixteenBit, ihdr.width, kAdam7Columns[pass], picture->rows[info.row_num]);
        if (status == SPNG_EOI)
            break;
    }
    // The chunks after the image data up to the end marker: a file cut off
    // or damaged there is damaged all the same.
    if (spng_decode_chunks(ctx.get()) != 0)
        return nullptr;
    return picture;
}

ImageHandle readPngFile(const std::string& path, int64_t maxPixelBytes)
{
    const auto bytes = readFileBytes(path);
    if (!bytes)
        return nullptr;
    return decodePng(bytes->data(), bytes->size(), maxPixelBytes);
}

}  // namespace morvel
