#include "image/fitted_gif.h"

#include <vector>

#include "image/gif_decoder.h"
#include "image/gray_conversion.h"
#include "image/picture_transform.h"
#include "image/row_shrinker.h"

namespace morvel {
namespace {

// Takes the rows of an image that is to be shrunk: each row's indices become
// gray levels and go straight into the shrinker.
class ShrinkingGraySink : public GifRowSink {
public:
    explicit ShrinkingGraySink(const LoadOptions& options) : options_(options) {}

    bool begin(int32_t width, int32_t height, const RgbQuad* colors) override
    {
        picture_.reset();
        shrinker_.reset();
        took_ = false;
        if (!options_.fit)
            return false;
        const std::optional<PictureSize> wanted = options_.fit(width, height);
        if (!wanted || wanted->width < 1 || wanted->height < 1 || wanted->width > width ||
            wanted->height > height || (wanted->width == width && wanted->height == height))
            return false;  // decoded whole: kept, or enlarged afterwards
        picture_ = makeGrayImage(wanted->width, wanted->height);
        if (!picture_)
            return false;
        clearRowFill(*picture_);
        shrinker_.emplace(width, height, wanted->width, wanted->height, 1, picture_->rows);
        if (!shrinker_->ready()) {
            picture_.reset();
            return false;
        }
        grayLevelsOfPalette(colors, levels_);
        line_.resize(static_cast<size_t>(width));
        took_ = true;
        return true;
    }

    // True when the last image begun was taken row by row.
    bool took() const { return took_; }

    void row(const uint8_t* indices) override
    {
        for (size_t x = 0; x < line_.size(); ++x)
            line_[x] = levels_[indices[x]];
        shrinker_->addRow(line_.data());
    }

    ImageHandle finish() override
    {
        if (!shrinker_ || !shrinker_->done())
            return nullptr;
        return std::move(picture_);
    }

private:
    const LoadOptions& options_;
    ImageHandle picture_;
    std::optional<RowShrinker> shrinker_;
    uint8_t levels_[256] = {};
    std::vector<uint8_t> line_;
    bool took_ = false;
};

// The decoder's result as gray at the asked size: a streamed result is that
// already (its sink made it); a whole one is converted and resized.
std::optional<ImageHandle> grayAtSize(ImageHandle decoded, bool streamed, const LoadOptions& options)
{
    if (streamed)
        return decoded;
    if (!decoded)
        return std::nullopt;
    grayFromPalette(decoded.get());
    return fitWhole(std::move(decoded), options);
}

}  // namespace

ImageHandle fitWhole(ImageHandle picture, const LoadOptions& options)
{
    if (!picture || !options.fit)
        return picture;
    const std::optional<PictureSize> wanted = options.fit(picture->header.biWidth, picture->rowCount);
    if (!wanted || wanted->width < 1 || wanted->height < 1 ||
        (wanted->width == picture->header.biWidth && wanted->height == picture->rowCount))
        return picture;
    return resizeGray(*picture, wanted->width, wanted->height);
}

std::optional<ImageHandle> readGifGray(const std::string& path, const LoadOptions& options)
{
    ShrinkingGraySink sink(options);
    ImageHandle decoded = readGifFile(path, &sink);
    return grayAtSize(std::move(decoded), sink.took(), options);
}

std::optional<ImageHandle> decodeGifGray(const uint8_t* data, size_t size, const LoadOptions& options)
{
    ShrinkingGraySink sink(options);
    ImageHandle decoded = decodeGif(data, size, kMaxPixelBytes, &sink);
    return grayAtSize(std::move(decoded), sink.took(), options);
}

}  // namespace morvel
