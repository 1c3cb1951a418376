#include "image/png_reader.h"

#include <spng.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "image/area_sum.h"
#include "image/colour_picture.h"
#include "image/file_bytes.h"
#include "image/picture_transform.h"
#include "image/row_shrinker.h"

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

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileStream = std::unique_ptr<std::FILE, FileCloser>;

// A sample of `maxValue` full scale composed over the background sample
// `ground` with `alpha`, all of the same scale: c a + g (max - a), divided
// by max, rounded.
uint64_t over(uint64_t sample, uint64_t alpha, uint64_t ground, uint64_t maxValue)
{
    return (sample * alpha + ground * (maxValue - alpha) + maxValue / 2) / maxValue;
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

// How the library is asked to deliver rows: 8-bit gray pictures without
// transparency as they are stored, everything else as RGBA of 8 or 16 bits.
enum class RowFormat {
    Gray8,
    Rgba8,
    Rgba16
};

// Gray pixels of the decoded row `decoded` (16-bit samples in host order) at
// the columns of `columns`, written into `gray`, and with `colour` their
// colours (red, green, blue over `ground`) into it.
void grayRow(const uint8_t* decoded, RowFormat format, uint32_t width, PassColumns columns, const RgbColour& ground,
             uint8_t* gray, uint8_t* colour = nullptr)
{
    const uint8_t groundRgb[3] = {ground.red, ground.green, ground.blue};
    if (format == RowFormat::Gray8) {
        // The samples are the gray levels (an RGBA row of them would give
        // the same: grayOfRgb keeps a gray colour's level).
        if (colour != nullptr) {
            for (uint32_t x = columns.first; x < width; x += columns.step)
                std::memset(colour + size_t{3} * x, decoded[x], 3);
        }
        if (columns.step == 1) {
            std::memcpy(gray, decoded, width);
            return;
        }
        for (uint32_t x = columns.first; x < width; x += columns.step)
            gray[x] = decoded[x];
        return;
    }
    const bool sixteenBit = format == RowFormat::Rgba16;
    const uint8_t* rgba = decoded;
    for (uint32_t x = columns.first; x < width; x += columns.step) {
        uint8_t rgb[3];
        if (sixteenBit) {
            uint16_t px[4];
            std::memcpy(px, rgba + size_t{x} * 8, sizeof px);
            for (int c = 0; c < 3; ++c)
                rgb[c] = to8Bits(over(px[c], px[3], groundRgb[c] * 257u, 65535));
        } else {
            const uint8_t* px = rgba + size_t{x} * 4;
            if (px[3] == 255) {
                // Opaque (every pixel of a picture without transparency):
                // composing keeps the samples.
                gray[x] = grayOfRgb(px[0], px[1], px[2]);
                if (colour != nullptr)
                    std::memcpy(colour + size_t{3} * x, px, 3);
                continue;
            }
            for (int c = 0; c < 3; ++c)
                rgb[c] = static_cast<uint8_t>(over(px[c], px[3], groundRgb[c], 255));
        }
        gray[x] = grayOfRgb(rgb[0], rgb[1], rgb[2]);
        if (colour != nullptr)
            std::memcpy(colour + size_t{3} * x, rgb, 3);
    }
}

// The PNG bytes as the library sees them: only the chunks that carry the
// picture (header, palette, transparency, image data, end, and any critical
// chunk it must refuse). Text, EXIF, colour profiles and every other
// ancillary chunk are stepped over unread, so damage in them (a bad
// checksum, a huge compressed text, hundreds of thousands of chunks) never
// costs the picture, as in other viewers. The bytes come from memory or
// from a file, read as the library asks for them.
class ImageChunkStream {
public:
    ImageChunkStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    // `size` is the file's size; reading starts at its beginning.
    ImageChunkStream(std::FILE* file, uint64_t size) : file_(file), size_(size) {}

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

    // The `count` bytes at the current position, which moves past them;
    // false when a file gives fewer.
    bool fetch(uint8_t* destination, size_t count)
    {
        if (file_ != nullptr) {
            if (std::fread(destination, 1, count, file_) != count)
                return false;
        } else {
            std::memcpy(destination, data_ + at_, count);
        }
        at_ += count;
        return true;
    }

    bool moveTo(uint64_t position)
    {
        if (file_ != nullptr && std::fseek(file_, static_cast<long>(position), SEEK_SET) != 0)
            return false;
        at_ = position;
        return true;
    }

    // At a chunk boundary: steps over ancillary chunks and makes the next
    // kept chunk (length, type, data, checksum) the one being read. A chunk
    // that runs past the end is handed on as it is, for the library to find
    // it cut short.
    void nextChunk()
    {
        while (at_ + 8 <= size_) {
            const uint64_t start = at_;
            if (!fetch(head_, 8))
                return;
            const uint64_t length =
                uint64_t{head_[0]} << 24 | uint64_t{head_[1]} << 16 | uint64_t{head_[2]} << 8 | head_[3];
            const uint64_t whole = length + 12;
            if (isKept(head_ + 4) || whole > size_ - start) {
                headLeft_ = 8;
                left_ = std::min<uint64_t>(whole, size_ - start) - 8;
                return;
            }
            if (!moveTo(start + whole))
                return;
        }
        left_ = size_ - at_;
    }

    int copy(uint8_t* destination, size_t length)
    {
        while (length > 0) {
            if (headLeft_ == 0 && left_ == 0) {
                if (at_ < kSignatureSize) {
                    left_ = std::min<uint64_t>(kSignatureSize, size_) - at_;
                } else {
                    nextChunk();
                }
                if (headLeft_ == 0 && left_ == 0)
                    return SPNG_IO_EOF;
            }
            size_t part;
            if (headLeft_ > 0) {
                part = std::min<size_t>(headLeft_, length);
                std::memcpy(destination, head_ + (8 - headLeft_), part);
                headLeft_ -= part;
            } else {
                part = static_cast<size_t>(std::min<uint64_t>(left_, length));
                if (!fetch(destination, part))
                    return SPNG_IO_EOF;
                left_ -= part;
            }
            destination += part;
            length -= part;
        }
        return 0;
    }

    static constexpr uint64_t kSignatureSize = 8;
    const uint8_t* data_ = nullptr;
    std::FILE* file_ = nullptr;
    uint64_t size_;
    uint64_t at_ = 0;
    uint8_t head_[8] = {};
    size_t headLeft_ = 0;  // bytes of head_ still to hand on
    uint64_t left_ = 0;    // bytes of the kept chunk (after its head) still to hand on
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

namespace {

// A context with the reader's limits, or none.
SpngContext newContext()
{
    SpngContext ctx(spng_ctx_new(0));
    if (!ctx || spng_set_image_limits(ctx.get(), kMaxPngSide, kMaxPngSide) != 0 ||
        spng_set_chunk_limits(ctx.get(), kMaxChunkBytes, kMaxChunkCache) != 0)
        return nullptr;
    return ctx;
}

// The failure a libspng error code stands for: the reader's side limits
// refuse a picture (libspng's own width and height limits are set to them),
// running out of memory is not damage, and every other code is.
ReadFailure failureOf(int code)
{
    switch (code) {
    case SPNG_EUSER_WIDTH:
    case SPNG_EUSER_HEIGHT:
        return ReadFailure::Unsupported;
    case SPNG_EMEM:
        return ReadFailure::NoMemory;
    default:
        return ReadFailure::Damaged;
    }
}

// Records the failure for libspng's `code` in `error`; none for a picture.
ImageHandle failPng(ReadError* error, int code)
{
    const ReadFailure failure = failureOf(code);
    fail(error, failure, PictureFormat::Png,
         failure == ReadFailure::Unsupported ? "size (a side over 65535 pixels)" : "");
    return nullptr;
}

ImageHandle failPng(ReadError* error, ReadFailure failure)
{
    fail(error, failure, PictureFormat::Png);
    return nullptr;
}

// What a decode settled on once the header was read.
struct PngPlan {
    spng_ihdr ihdr{};
    std::optional<PictureSize> target;  // the size the fit asks for, if any
    bool summed = false;                // an interlaced picture summed as its passes come
    bool shrink = false;                // rows averaged into the result as they come
    int32_t width = 0;                  // the size decoded into
    int32_t height = 0;
    RowFormat rowFormat = RowFormat::Rgba8;
    bool colour = false;  // colour carried along (a gray picture's is made from its gray)
};

// The plan for the picture whose header `ctx` holds, or none with the
// reason in `error`. The size check comes before any pixel memory is taken.
std::optional<PngPlan> planPng(spng_ctx* ctx, int64_t maxPixelBytes, const LoadOptions& options, bool wantColour,
                               ReadError* error)
{
    PngPlan plan;
    spng_ihdr& ihdr = plan.ihdr;
    if (const int code = spng_get_ihdr(ctx, &ihdr); code != 0)
        return failPng(error, code), std::nullopt;
    if (ihdr.width == 0 || ihdr.height == 0 || ihdr.width > kMaxPngSide || ihdr.height > kMaxPngSide)
        return failPng(error, SPNG_EUSER_WIDTH), std::nullopt;
    const auto naturalWidth = static_cast<int32_t>(ihdr.width);
    const auto naturalHeight = static_cast<int32_t>(ihdr.height);

    // The size wanted; rows are averaged as they come when that is a shrink
    // and they come in order.
    if (options.fit) {
        plan.target = options.fit(naturalWidth, naturalHeight);
        if (plan.target && (plan.target->width < 1 || plan.target->height < 1))
            plan.target.reset();
    }
    const std::optional<PictureSize>& target = plan.target;
    const bool smaller = target && target->width <= naturalWidth && target->height <= naturalHeight &&
                         (target->width < naturalWidth || target->height < naturalHeight);
    // An interlaced picture arrives pass by pass: its pixels are summed as
    // they come, unless the sums would take more than the picture itself.
    const bool interlaced = ihdr.interlace_method != 0;
    plan.summed = smaller && interlaced &&
                  AreaSum::bytesFor(target->width, target->height, 1) <= int64_t{naturalWidth} * naturalHeight;
    plan.shrink = smaller && (!interlaced || plan.summed);
    plan.width = plan.shrink ? target->width : naturalWidth;
    plan.height = plan.shrink ? target->height : naturalHeight;
    const int64_t limit = std::min(maxPixelBytes, kMaxPixelBytes);
    if (imageRowPitch(plan.width, 8) * static_cast<int64_t>(plan.height) > limit)
        return failPng(error, ReadFailure::TooLarge), std::nullopt;

    spng_trns trns{};
    const bool plainGray = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE && ihdr.bit_depth == 8 &&
                           spng_get_trns(ctx, &trns) == SPNG_ECHUNKAVAIL;
    plan.rowFormat = plainGray ? RowFormat::Gray8 : ihdr.bit_depth == 16 ? RowFormat::Rgba16 : RowFormat::Rgba8;
    // The colour, when asked for and its block is within the limit, comes
    // from the same rows, shrunk alike. A gray picture's colour is its gray
    // in all three channels: made from the gray result (each channel would
    // be averaged alike) rather than carried along.
    plan.colour =
        wantColour && !plainGray && imageRowPitch(plan.width, 24) * static_cast<int64_t>(plan.height) <= limit;
    return plan;
}

// Takes the decoded rows of a plan (in any order for a summed picture,
// top to bottom otherwise) into the gray picture and its colour.
class PngRowTaker {
public:
    PngRowTaker(const PngPlan& plan, const RgbColour& background) : plan_(plan), background_(background) {}

    // The records, shrinkers and sums; false when memory runs out for the
    // gray picture (colour is left out when memory runs out for it).
    bool ready()
    {
        picture_ = makeGrayImage(plan_.width, plan_.height);
        if (!picture_)
            return false;
        clearRowFill(*picture_);
        if (plan_.colour)
            colour_ = makeColourImage(plan_.width, plan_.height);
        if (!plan_.shrink)
            return true;
        const auto naturalWidth = static_cast<int32_t>(plan_.ihdr.width);
        const auto naturalHeight = static_cast<int32_t>(plan_.ihdr.height);
        grayLine_.resize(plan_.ihdr.width);
        if (colour_)
            colourLine_.resize(size_t{plan_.ihdr.width} * 3);
        if (plan_.summed) {
            sums_.emplace(naturalWidth, naturalHeight, plan_.width, plan_.height, 1);
            if (colour_ && !colourSums_.emplace(naturalWidth, naturalHeight, plan_.width, plan_.height, 3).ready())
                colour_.reset();
            return sums_->ready();
        }
        shrinker_.emplace(naturalWidth, naturalHeight, plan_.width, plan_.height, 1, picture_->rows);
        if (colour_ &&
            !colourShrinker_.emplace(naturalWidth, naturalHeight, plan_.width, plan_.height, 3, colour_->rows).ready())
            colour_.reset();
        return shrinker_->ready();
    }

    // Row `y` as decoded in pass `pass` (6 for a non-interlaced picture);
    // false when rows that must come in order do not.
    bool take(const uint8_t* decoded, uint32_t y, int pass)
    {
        const PassColumns columns = kAdam7Columns[pass];
        const uint32_t width = plan_.ihdr.width;
        uint8_t* const colourLine = colour_ ? colourLine_.data() : nullptr;
        if (plan_.summed) {
            grayRow(decoded, plan_.rowFormat, width, columns, background_, grayLine_.data(), colourLine);
            const auto first = static_cast<int32_t>(columns.first);
            const auto step = static_cast<int32_t>(columns.step);
            sums_->addPixels(static_cast<int32_t>(y), grayLine_.data(), first, step);
            if (colour_)
                colourSums_->addPixels(static_cast<int32_t>(y), colourLine, first, step);
        } else if (plan_.shrink) {
            // Rows of a non-interlaced picture come once each, in order.
            if (y != expectedRow_++)
                return false;
            grayRow(decoded, plan_.rowFormat, width, columns, background_, grayLine_.data(), colourLine);
            shrinker_->addRow(grayLine_.data());
            if (colour_)
                colourShrinker_->addRow(colourLine);
        } else {
            grayRow(decoded, plan_.rowFormat, width, columns, background_, picture_->rows[y],
                    colour_ ? colour_->rows[y] : nullptr);
        }
        return true;
    }

    // After the last row: the sums made into pixels; false when rows are
    // missing.
    bool finish()
    {
        if (plan_.summed) {
            sums_->finish(picture_->rows);
            if (colour_)
                colourSums_->finish(colour_->rows);
            return true;
        }
        return !plan_.shrink || shrinker_->done();
    }

    ImageHandle takePicture() { return std::move(picture_); }
    ImageHandle takeColour() { return std::move(colour_); }

private:
    const PngPlan& plan_;
    const RgbColour& background_;
    ImageHandle picture_;
    ImageHandle colour_;
    std::optional<RowShrinker> shrinker_;
    std::optional<RowShrinker> colourShrinker_;
    std::optional<AreaSum> sums_;
    std::optional<AreaSum> colourSums_;
    std::vector<uint8_t> grayLine_;
    std::vector<uint8_t> colourLine_;
    uint32_t expectedRow_ = 0;
};

// Decodes every row of the plan into `taker`, then the chunks after the
// image data up to the end marker (a file cut off or damaged there is
// damaged all the same). False, with the reason in `error`, on damage.
bool decodeRows(spng_ctx* ctx, const PngPlan& plan, PngRowTaker& taker, ReadError* error)
{
    const int format = plan.rowFormat == RowFormat::Gray8    ? SPNG_FMT_G8
                       : plan.rowFormat == RowFormat::Rgba16 ? SPNG_FMT_RGBA16
                                                             : SPNG_FMT_RGBA8;
    if (const int code = spng_decode_image(ctx, nullptr, 0, format, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE))
        return failPng(error, code), false;
    // One decoded row at a time: an interlaced picture arrives pass by pass,
    // each call filling only that pass's columns of the row it names.
    const size_t bytesPerPixel = plan.rowFormat == RowFormat::Gray8 ? 1 : plan.rowFormat == RowFormat::Rgba16 ? 8 : 4;
    std::vector<uint8_t> row(size_t{plan.ihdr.width} * bytesPerPixel);
    for (;;) {
        // The end shows either on the last row's decoding or, after some
        // interlaced pictures, only when the next row is asked for.
        spng_row_info info{};
        const int infoStatus = spng_get_row_info(ctx, &info);
        if (infoStatus == SPNG_EOI)
            break;
        if (infoStatus != 0)
            return failPng(error, infoStatus), false;
        const int status = spng_decode_row(ctx, row.data(), row.size());
        if (status != 0 && status != SPNG_EOI)
            return failPng(error, status), false;
        const int pass = plan.ihdr.interlace_method != 0 ? info.pass : 6;
        if (info.row_num >= plan.ihdr.height || pass < 0 || pass > 6 || !taker.take(row.data(), info.row_num, pass))
            return failPng(error, ReadFailure::Damaged), false;
        if (status == SPNG_EOI)
            break;
    }
    if (!taker.finish())
        return failPng(error, ReadFailure::Damaged), false;
    if (const int code = spng_decode_chunks(ctx))
        return failPng(error, code), false;
    return true;
}

// Decodes the picture whose bytes `ctx` has been given, as decodePng says.
ImageHandle decodeContext(spng_ctx* ctx, int64_t maxPixelBytes, const LoadOptions& options, ImageHandle* colourOut,
                          ReadError* error)
{
    const bool wantColour = colourOut != nullptr && options.colour;
    const std::optional<PngPlan> plan = planPng(ctx, maxPixelBytes, options, wantColour, error);
    if (!plan)
        return nullptr;
    PngRowTaker taker(*plan, options.background);
    if (!taker.ready())
        return failPng(error, ReadFailure::NoMemory);
    if (!decodeRows(ctx, *plan, taker, error))
        return nullptr;
    ImageHandle picture = taker.takePicture();
    ImageHandle colour = taker.takeColour();
    const std::optional<PictureSize>& target = plan->target;
    if (target && (picture->header.biWidth != target->width || picture->rowCount != target->height)) {
        picture = resizeGray(*picture, target->width, target->height);
        if (!picture)
            return failPng(error, ReadFailure::NoMemory);
        if (colour)
            colour = fitColour(std::move(colour), target->width, target->height);
    }
    if (wantColour && plan->rowFormat == RowFormat::Gray8)
        colour = colourFromGray(*picture);
    if (colourOut != nullptr)
        *colourOut = std::move(colour);
    return picture;
}

}  // namespace

ImageHandle decodePng(const uint8_t* data, size_t size, int64_t maxPixelBytes, const LoadOptions& options,
                      ImageHandle* colour, ReadError* error)
{
    if (!hasPngSignature(data, size))
        return failPng(error, ReadFailure::NotAPicture);
    SpngContext ctx = newContext();
    ImageChunkStream stream(data, size);
    if (!ctx || spng_set_png_stream(ctx.get(), ImageChunkStream::read, &stream) != 0)
        return failPng(error, ReadFailure::NoMemory);
    return decodeContext(ctx.get(), maxPixelBytes, options, colour, error);
}

ImageHandle readPngFile(const std::string& path, int64_t maxPixelBytes, const LoadOptions& options, ImageHandle* colour,
                        ReadError* error)
{
    // Checked on the open descriptor: a pipe or device in the file's place
    // is not read.
    std::string why;
    FileStream file(openRegularFileStream(path, &why));
    if (!file) {
        fail(error, ReadFailure::CannotOpen, PictureFormat::Png, why);
        return nullptr;
    }
    uint8_t head[8];
    if (std::fread(head, 1, sizeof head, file.get()) != sizeof head || !hasPngSignature(head, sizeof head))
        return failPng(error, ReadFailure::NotAPicture);
    if (std::fseek(file.get(), 0, SEEK_END) != 0)
        return failPng(error, ReadFailure::CannotOpen);
    const long size = std::ftell(file.get());
    if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0)
        return failPng(error, ReadFailure::CannotOpen);
    SpngContext ctx = newContext();
    ImageChunkStream stream(file.get(), static_cast<uint64_t>(size));
    if (!ctx || spng_set_png_stream(ctx.get(), ImageChunkStream::read, &stream) != 0)
        return failPng(error, ReadFailure::NoMemory);
    return decodeContext(ctx.get(), maxPixelBytes, options, colour, error);
}

}  // namespace morvel
