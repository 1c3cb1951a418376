#include "image/row_enlarger.h"

#include <new>

namespace morvel {

namespace {

constexpr uint32_t kShareOne = 256;

}  // namespace

RowEnlarger::RowEnlarger(const uint8_t* const* sourceRows, int32_t sourceWidth, int32_t sourceHeight, int32_t width,
                         int32_t height, int32_t channels)
    : sourceRows_(sourceRows), sourceWidth_(sourceWidth), sourceHeight_(sourceHeight), width_(width), height_(height),
      channels_(channels)
{
    if (sourceRows == nullptr || sourceWidth < 1 || sourceHeight < 1 || width < sourceWidth || height < sourceHeight ||
        channels < 1 || channels > 4)
        return;
    const size_t samples = static_cast<size_t>(width) * static_cast<size_t>(channels);
    columns_.reset(new (std::nothrow) Tap[static_cast<size_t>(width)]);
    rows_.reset(new (std::nothrow) Tap[static_cast<size_t>(height)]);
    cache_[0].reset(new (std::nothrow) uint32_t[samples]);
    cache_[1].reset(new (std::nothrow) uint32_t[samples]);
    if (!columns_ || !rows_ || !cache_[0] || !cache_[1])
        return;
    placeTaps(columns_.get(), sourceWidth, width);
    placeTaps(rows_.get(), sourceHeight, height);
    ready_ = true;
}

// New pixel i sits at u = ((2i + 1) s - n) / 2n in source pixels; its share
// of the next source pixel is u's fraction in 256ths, rounded half up.
void RowEnlarger::placeTaps(Tap* taps, int32_t source, int32_t size)
{
    const int64_t denominator = int64_t{2} * size;
    for (int32_t i = 0; i < size; ++i) {
        const int64_t numerator = (int64_t{2} * i + 1) * source - size;
        Tap& tap = taps[i];
        tap = {0, 0};
        if (numerator <= 0)
            continue;
        const int64_t first = numerator / denominator;
        if (first >= source - 1) {
            tap.first = source - 1;
            continue;
        }
        const int64_t fraction = numerator - first * denominator;
        tap.first = static_cast<int32_t>(first);
        tap.share = static_cast<uint32_t>((fraction * kShareOne + denominator / 2) / denominator);
    }
}

void RowEnlarger::interpolateAcross(int32_t sourceY, uint32_t* across) const
{
    const uint8_t* source = sourceRows_[sourceY];
    const auto channels = static_cast<size_t>(channels_);
    const size_t lastSample = static_cast<size_t>(sourceWidth_ - 1) * channels;
    for (int32_t x = 0; x < width_; ++x) {
        const Tap tap = columns_[static_cast<size_t>(x)];
        const uint8_t* left = source + static_cast<size_t>(tap.first) * channels;
        const uint8_t* right = static_cast<size_t>(tap.first) * channels < lastSample ? left + channels : left;
        uint32_t* out = across + static_cast<size_t>(x) * channels;
        for (size_t c = 0; c < channels; ++c)
            out[c] = left[c] * (kShareOne - tap.share) + right[c] * tap.share;
    }
}

const uint32_t* RowEnlarger::acrossRow(int32_t sourceY)
{
    for (int slot = 0; slot < 2; ++slot) {
        if (cached_[slot] == sourceY) {
            older_ = 1 - slot;
            return cache_[slot].get();
        }
    }
    const int slot = older_;
    interpolateAcross(sourceY, cache_[slot].get());
    cached_[slot] = sourceY;
    older_ = 1 - slot;
    return cache_[slot].get();
}

void RowEnlarger::row(int32_t y, uint8_t* out)
{
    if (!ready_ || y < 0 || y >= height_)
        return;
    const Tap tap = rows_[static_cast<size_t>(y)];
    const size_t samples = static_cast<size_t>(width_) * static_cast<size_t>(channels_);
    const uint32_t* upper = acrossRow(tap.first);
    if (tap.share == 0) {
        for (size_t k = 0; k < samples; ++k)
            out[k] = static_cast<uint8_t>((upper[k] + kShareOne / 2) / kShareOne);
        return;
    }
    // The upper row was used last, so making the lower one keeps it.
    const uint32_t* lower = acrossRow(tap.first + 1);
    const uint32_t keep = kShareOne - tap.share;
    for (size_t k = 0; k < samples; ++k)
        out[k] = static_cast<uint8_t>((upper[k] * keep + lower[k] * tap.share + kShareOne * kShareOne / 2) /
                                      (kShareOne * kShareOne));
}

}  // namespace morvel
