#include "image/row_sink.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "image/colour_picture.h"
#include "image/picture_transform.h"
#include "image/png_reader.h"

namespace morvel {

std::optional<PictureSize> wantedSize(const LoadOptions& options, int32_t width, int32_t height)
{
    if (!options.fit)
        return std::nullopt;
    const std::optional<PictureSize> target = options.fit(width, height);
    if (!target || target->width < 1 || target->height < 1)
        return std::nullopt;
    return target;
}

uint8_t overBackground(uint8_t value, uint8_t alpha, uint8_t background, bool premultiplied)
{
    const uint32_t under = uint32_t{background} * (255u - alpha);
    if (premultiplied)
        return static_cast<uint8_t>(std::min<uint32_t>(255, value + (under + 127) / 255));
    return static_cast<uint8_t>((uint32_t{value} * alpha + under + 127) / 255);
}

RowSink::RowSink(int32_t sourceWidth, int32_t sourceHeight, std::optional<PictureSize> target, bool colour,
                 int64_t maxPixelBytes, const RgbColour& background)
    : sourceWidth_(sourceWidth), sourceHeight_(sourceHeight),
      target_(target), background_{background.red, background.green, background.blue}
{
    if (sourceWidth < 1 || sourceHeight < 1)
        return;
    if (target_ && target_->width == sourceWidth && target_->height == sourceHeight)
        target_.reset();
    const bool shrink = target_ && target_->width <= sourceWidth && target_->height <= sourceHeight;
    const int32_t width = shrink ? target_->width : sourceWidth;
    const int32_t height = shrink ? target_->height : sourceHeight;
    const int64_t limit = std::min(maxPixelBytes, kMaxPixelBytes);
    if (imageRowPitch(width, 8) * static_cast<int64_t>(height) > limit) {
        tooLarge_ = true;
        return;
    }
    ImageHandle gray = makeGrayImage(width, height);
    if (!gray)
        return;
    clearRowFill(*gray);
    if (colour && imageRowPitch(width, 24) * static_cast<int64_t>(height) <= limit)
        colour_ = makeColourImage(width, height);
    try {
        if (shrink) {
            grayShrinker_.emplace(sourceWidth, sourceHeight, width, height, 1, gray->rows);
            if (!grayShrinker_->ready())
                return;
            grayLine_.resize(static_cast<size_t>(sourceWidth));
            if (colour_) {
                colourShrinker_.emplace(sourceWidth, sourceHeight, width, height, 3, colour_->rows);
                colourLine_.resize(size_t{3} * static_cast<size_t>(sourceWidth));
                if (!colourShrinker_->ready())
                    colour_.reset();
            }
        }
    } catch (const std::bad_alloc&) {
        return;
    }
    gray_ = std::move(gray);
}

void RowSink::addRow(const uint8_t* row, RowLayout layout)
{
    if (!gray_ || row_ >= sourceHeight_)
        return;
    uint8_t* const gray = grayShrinker_ ? grayLine_.data() : gray_->rows[row_];
    uint8_t* const colour = !colour_ ? nullptr : colourShrinker_ ? colourLine_.data() : colour_->rows[row_];
    const auto width = static_cast<size_t>(sourceWidth_);
    if (layout == RowLayout::Gray) {
        std::memcpy(gray, row, width);
        for (size_t x = 0; colour != nullptr && x < width; ++x)
            std::memset(colour + 3 * x, row[x], 3);
    } else {
        const bool alpha = layout == RowLayout::Rgba || layout == RowLayout::Bgra || layout == RowLayout::PremultRgba;
        const bool bgr = layout == RowLayout::Bgr || layout == RowLayout::Bgra;
        const bool premultiplied = layout == RowLayout::PremultRgba;
        const size_t step = alpha ? 4 : 3;
        for (size_t x = 0; x < width; ++x) {
            const uint8_t* px = row + step * x;
            uint8_t rgb[3] = {px[bgr ? 2 : 0], px[1], px[bgr ? 0 : 2]};
            if (alpha && px[3] != 255) {
                for (int c = 0; c < 3; ++c)
                    rgb[c] = overBackground(rgb[c], px[3], background_[c], premultiplied);
            }
            gray[x] = grayOfRgb(rgb[0], rgb[1], rgb[2]);
            if (colour != nullptr)
                std::memcpy(colour + 3 * x, rgb, 3);
        }
    }
    if (grayShrinker_) {
        grayShrinker_->addRow(gray);
        if (colour != nullptr)
            colourShrinker_->addRow(colour);
    }
    ++row_;
}

ImageHandle RowSink::finish(ImageHandle* colour)
{
    if (!gray_ || row_ < sourceHeight_)
        return nullptr;
    ImageHandle picture = std::move(gray_);
    ImageHandle picked = std::move(colour_);
    if (target_ && (picture->header.biWidth != target_->width || picture->rowCount != target_->height)) {
        picture = resizeGray(*picture, target_->width, target_->height);
        if (picture && picked)
            picked = fitColour(std::move(picked), target_->width, target_->height);
    }
    if (colour != nullptr)
        *colour = picture ? std::move(picked) : nullptr;
    return picture;
}

}  // namespace morvel
