#include "image/area_sum.h"

#include <cstring>
#include <new>

#include "image/image_record.h"

namespace morvel {

// Lengths are counted as RowShrinker counts them: across, a source pixel is
// `width` units long and a new pixel `sourceWidth`; down, a source row is
// `height` units and a new row `sourceHeight`. A source pixel, being no
// longer than a new one, lies in at most two of them.
AreaSum::AreaSum(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height, int32_t channels)
    : sourceWidth_(sourceWidth), sourceHeight_(sourceHeight), width_(width), height_(height), channels_(channels)
{
    if (width < 1 || height < 1 || width > sourceWidth || height > sourceHeight || channels < 1 || channels > 4 ||
        static_cast<int64_t>(sourceWidth) * channels > int64_t{UINT32_MAX / 255} ||
        bytesFor(width, height, channels) > kMaxPixelBytes * 8)
        return;
    const size_t samples = static_cast<size_t>(width) * static_cast<size_t>(channels);
    columns_.reset(new (std::nothrow) Split[static_cast<size_t>(sourceWidth)]);
    rows_.reset(new (std::nothrow) Split[static_cast<size_t>(sourceHeight)]);
    spans_.reset(new (std::nothrow) Span[static_cast<size_t>(width)]);
    across_.reset(new (std::nothrow) uint32_t[samples]);
    sums_.reset(new (std::nothrow) uint64_t[samples * static_cast<size_t>(height)]());
    if (!columns_ || !rows_ || !spans_ || !across_ || !sums_)
        return;
    placeSplits(columns_.get(), sourceWidth, width);
    for (int32_t x = sourceWidth; x-- > 0;) {
        const Split split = columns_[static_cast<size_t>(x)];
        Span& span = spans_[static_cast<size_t>(split.target)];
        span.first = x;
        span.firstWeight = split.weight;
        if (split.weight < static_cast<uint32_t>(width) || x + 1 == sourceWidth ||
            columns_[static_cast<size_t>(x) + 1].target != split.target) {
            // The last pixel of its column, wholly or with its first part.
            span.last = x;
            span.lastWeight = split.weight;
        }
        if (x + 1 < sourceWidth && split.weight < static_cast<uint32_t>(width)) {
            // Its rest starts the next column.
            Span& next = spans_[static_cast<size_t>(split.target) + 1];
            next.first = x;
            next.firstWeight = static_cast<uint32_t>(width) - split.weight;
        }
    }
    placeSplits(rows_.get(), sourceHeight, height);
    ready_ = true;
}

int64_t AreaSum::bytesFor(int32_t width, int32_t height, int32_t channels)
{
    return int64_t{width} * height * channels * int64_t{sizeof(uint64_t)};
}

void AreaSum::placeSplits(Split* splits, int32_t source, int32_t size)
{
    const int64_t unit = size;          // a source pixel's length
    const int64_t targetUnit = source;  // a new pixel's length
    for (int32_t i = 0; i < source; ++i) {
        const int64_t start = i * unit;
        const int64_t target = start / targetUnit;
        const int64_t boundary = (target + 1) * targetUnit;
        splits[i].target = static_cast<int32_t>(target);
        splits[i].weight = static_cast<uint32_t>((start + unit <= boundary ? unit : boundary - start));
    }
}

void AreaSum::sumWholeRow(const uint8_t* row)
{
    const auto channels = static_cast<size_t>(channels_);
    const auto unit = static_cast<uint32_t>(width_);
    uint32_t* across = across_.get();
    for (int32_t i = 0; i < width_; ++i) {
        const Span& span = spans_[static_cast<size_t>(i)];
        uint32_t* sums = across + static_cast<size_t>(i) * channels;
        for (size_t c = 0; c < channels; ++c) {
            const uint8_t* first = row + static_cast<size_t>(span.first) * channels + c;
            if (span.first == span.last) {
                sums[c] = *first * span.firstWeight;
                continue;
            }
            uint32_t inner = 0;
            const auto count = static_cast<size_t>(span.last - span.first - 1);
            for (size_t k = 1; k <= count; ++k)
                inner += first[k * channels];
            const uint8_t last = first[static_cast<size_t>(span.last - span.first) * channels];
            sums[c] = *first * span.firstWeight + inner * unit + last * span.lastWeight;
        }
    }
}

void AreaSum::sumPixels(const uint8_t* row, int32_t first, int32_t step)
{
    const auto channels = static_cast<size_t>(channels_);
    const auto unit = static_cast<uint32_t>(width_);
    uint32_t* across = across_.get();
    std::memset(across, 0, static_cast<size_t>(width_) * channels * sizeof(uint32_t));
    for (int32_t x = first; x < sourceWidth_; x += step) {
        const Split split = columns_[static_cast<size_t>(x)];
        const uint8_t* pixel = row + static_cast<size_t>(x) * channels;
        uint32_t* sum = across + static_cast<size_t>(split.target) * channels;
        for (size_t c = 0; c < channels; ++c)
            sum[c] += pixel[c] * split.weight;
        if (split.weight < unit)
            for (size_t c = 0; c < channels; ++c)
                sum[channels + c] += pixel[c] * (unit - split.weight);
    }
}

void AreaSum::addPixels(int32_t y, const uint8_t* row, int32_t first, int32_t step)
{
    if (!ready_ || y < 0 || y >= sourceHeight_ || first < 0 || step < 1)
        return;
    if (first == 0 && step == 1)
        sumWholeRow(row);
    else
        sumPixels(row, first, step);
    const size_t samples = static_cast<size_t>(width_) * static_cast<size_t>(channels_);
    const uint32_t* across = across_.get();
    const Split down = rows_[static_cast<size_t>(y)];
    uint64_t* sums = sums_.get() + static_cast<size_t>(down.target) * samples;
    for (size_t k = 0; k < samples; ++k)
        sums[k] += uint64_t{across[k]} * down.weight;
    const uint32_t rest = static_cast<uint32_t>(height_) - down.weight;
    if (rest > 0) {
        sums += samples;
        for (size_t k = 0; k < samples; ++k)
            sums[k] += uint64_t{across[k]} * rest;
    }
}

void AreaSum::finish(uint8_t* const* targetRows) const
{
    if (!ready_)
        return;
    const size_t samples = static_cast<size_t>(width_) * static_cast<size_t>(channels_);
    const uint64_t divisor = static_cast<uint64_t>(sourceWidth_) * static_cast<uint64_t>(sourceHeight_);
    const uint64_t half = divisor / 2;
    for (int32_t y = 0; y < height_; ++y) {
        const uint64_t* sums = sums_.get() + static_cast<size_t>(y) * samples;
        uint8_t* out = targetRows[y];
        for (size_t k = 0; k < samples; ++k)
            out[k] = static_cast<uint8_t>((sums[k] + half) / divisor);
    }
}

}  // namespace morvel
