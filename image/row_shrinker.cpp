#include "image/row_shrinker.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace morvel {

// Lengths are counted in units that make both pixel sizes whole: across, a
// source pixel is `width` units long and a target pixel `sourceWidth`; down,
// a source row is `height` units and a target row `sourceHeight`. A target
// pixel's weights thus add up to sourceWidth x sourceHeight.
RowShrinker::RowShrinker(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height, int32_t channels,
                         uint8_t* const* targetRows)
    : sourceWidth_(sourceWidth), sourceHeight_(sourceHeight), width_(width), height_(height), channels_(channels),
      targetRows_(targetRows)
{
    // A row's weighted sum is at most 255 x sourceWidth per sample.
    if (width < 1 || height < 1 || width > sourceWidth || height > sourceHeight || channels < 1 || channels > 4 ||
        targetRows == nullptr || static_cast<int64_t>(sourceWidth) * channels > int64_t{UINT32_MAX / 255}) {
        return;
    }
    const size_t samples = static_cast<size_t>(width) * static_cast<size_t>(channels);
    spans_.reset(new (std::nothrow) Span[static_cast<size_t>(width)]);
    rowSums_.reset(new (std::nothrow) uint32_t[samples]);
    open_.reset(new (std::nothrow) uint64_t[samples]());
    next_.reset(new (std::nothrow) uint64_t[samples]());
    if (!spans_ || !rowSums_ || !open_ || !next_) {
        return;
    }
    const int64_t sourceUnit = width;
    const int64_t targetUnit = sourceWidth;
    for (int32_t i = 0; i < width; ++i) {
        const int64_t start = i * targetUnit;
        const int64_t end = start + targetUnit;
        Span& span = spans_[static_cast<size_t>(i)];
        span.first = static_cast<int32_t>(start / sourceUnit);
        span.last = static_cast<int32_t>((end - 1) / sourceUnit);
        span.firstWeight = static_cast<uint32_t>(std::min(end, (span.first + 1) * sourceUnit) - start);
        span.lastWeight = static_cast<uint32_t>(end - span.last * sourceUnit);
    }
    divisor_ = static_cast<uint64_t>(sourceWidth) * static_cast<uint64_t>(sourceHeight);
    ready_ = true;
}

void RowShrinker::sumRow(const uint8_t* row)
{
    const auto unit = static_cast<uint32_t>(width_);
    const int32_t channels = channels_;
    for (int32_t i = 0; i < width_; ++i) {
        const Span& span = spans_[static_cast<size_t>(i)];
        uint32_t* sums = rowSums_.get() + static_cast<size_t>(i) * static_cast<size_t>(channels);
        for (int32_t c = 0; c < channels; ++c) {
            const uint8_t* first = row + static_cast<size_t>(span.first) * static_cast<size_t>(channels) + c;
            if (span.first == span.last) {
                sums[c] = *first * span.firstWeight;
                continue;
            }
            // The pixels between the two ends weigh a whole source pixel.
            uint32_t inner = 0;
            const int32_t count = span.last - span.first - 1;
            const uint8_t* p = first + channels;
            if (channels == 1) {
                for (int32_t k = 0; k < count; ++k)
                    inner += p[k];
            } else {
                for (int32_t k = 0; k < count; ++k)
                    inner += p[static_cast<size_t>(k) * static_cast<size_t>(channels)];
            }
            const uint8_t last = first[static_cast<size_t>(span.last - span.first) * static_cast<size_t>(channels)];
            sums[c] = *first * span.firstWeight + inner * unit + last * span.lastWeight;
        }
    }
}

void RowShrinker::emit(int32_t targetRow, const uint64_t* sums)
{
    uint8_t* out = targetRows_[targetRow];
    const size_t samples = static_cast<size_t>(width_) * static_cast<size_t>(channels_);
    const uint64_t half = divisor_ / 2;
    for (size_t k = 0; k < samples; ++k)
        out[k] = static_cast<uint8_t>((sums[k] + half) / divisor_);
}

void RowShrinker::addRow(const uint8_t* row)
{
    if (!ready_ || sourceRow_ >= sourceHeight_)
        return;
    sumRow(row);
    const size_t samples = static_cast<size_t>(width_) * static_cast<size_t>(channels_);
    const int64_t sourceUnit = height_;
    const int64_t targetUnit = sourceHeight_;
    const int64_t start = sourceRow_ * sourceUnit;
    const int64_t end = start + sourceUnit;
    const int64_t openEnd = (openRow_ + int64_t{1}) * targetUnit;
    const auto inOpen = static_cast<uint64_t>(std::min(end, openEnd) - start);
    const uint32_t* sums = rowSums_.get();
    uint64_t* open = open_.get();
    for (size_t k = 0; k < samples; ++k)
        open[k] += uint64_t{sums[k]} * inOpen;
    if (end >= openEnd) {
        // The open target row has all its source rows: write it, and carry
        // on in the next, which takes the rest of this source row.
        const auto inNext = static_cast<uint64_t>(end - openEnd);
        uint64_t* next = next_.get();
        if (inNext > 0)
            for (size_t k = 0; k < samples; ++k)
                next[k] += uint64_t{sums[k]} * inNext;
        emit(openRow_, open);
        std::memset(open, 0, samples * sizeof(uint64_t));
        std::swap(open_, next_);
        ++openRow_;
    }
    ++sourceRow_;
}

}  // namespace morvel
