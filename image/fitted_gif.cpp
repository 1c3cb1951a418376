#include "image/fitted_gif.h"

#include <cstring>
#include <vector>

#include "image/area_sum.h"
#include "image/colour_picture.h"
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
    // With `colour`, the palette colours are shrunk alike into a picture of
    // their own.
    ShrinkingGraySink(const LoadOptions& options, bool colour) : options_(options), wantColour_(colour) {}

    bool begin(int32_t width, int32_t height, const RgbQuad* colors, bool interlaced) override
    {
        picture_.reset();
        shrinker_.reset();
        sums_.reset();
        colour_.reset();
        colourShrinker_.reset();
        colourSums_.reset();
        took_ = false;
        uint8_t levels[256];
        grayLevelsOfPalette(colors, levels);
        fillLevel_ = levels[0];
        if (!options_.fit)
            return false;
        const std::optional<PictureSize> wanted = options_.fit(width, height);
        if (!wanted || wanted->width < 1 || wanted->height < 1 || wanted->width > width || wanted->height > height ||
            (wanted->width == width && wanted->height == height))
            return false;  // decoded whole: kept, or enlarged afterwards
        // The rows of an interlaced image come in pass order: they are summed
        // as they come, unless the sums would take more than the image.
        const bool summed = interlaced;
        if (summed && AreaSum::bytesFor(wanted->width, wanted->height, 1) > int64_t{width} * height)
            return false;
        picture_ = makeGrayImage(wanted->width, wanted->height);
        if (!picture_)
            return false;
        clearRowFill(*picture_);
        if (summed)
            sums_.emplace(width, height, wanted->width, wanted->height, 1);
        else
            shrinker_.emplace(width, height, wanted->width, wanted->height, 1, picture_->rows);
        if (summed ? !sums_->ready() : !shrinker_->ready()) {
            picture_.reset();
            return false;
        }
        grayLevelsOfPalette(colors, levels_);
        line_.resize(static_cast<size_t>(width));
        if (wantColour_ && (colour_ = makeColourImage(wanted->width, wanted->height))) {
            if (summed)
                colourSums_.emplace(width, height, wanted->width, wanted->height, 3);
            else
                colourShrinker_.emplace(width, height, wanted->width, wanted->height, 3, colour_->rows);
            if (summed ? colourSums_->ready() : colourShrinker_->ready()) {
                for (int i = 0; i < 256; ++i) {
                    palette_[3 * i] = colors[i].rgbRed;
                    palette_[3 * i + 1] = colors[i].rgbGreen;
                    palette_[3 * i + 2] = colors[i].rgbBlue;
                }
                colourLine_.resize(static_cast<size_t>(width) * 3);
            } else {
                colour_.reset();
            }
        }
        took_ = true;
        return true;
    }

    // The gray level of colour index 0, which fills what the code stream
    // did not reach, in the last image begun.
    uint8_t fillLevel() const { return fillLevel_; }
    // The colour of the image taken row by row, when asked for and made.
    ImageHandle takeColour() { return std::move(colour_); }

    // True when the last image begun was taken row by row.
    bool took() const { return took_; }

    void row(int32_t y, const uint8_t* indices) override
    {
        for (size_t x = 0; x < line_.size(); ++x)
            line_[x] = levels_[indices[x]];
        if (sums_)
            sums_->addPixels(y, line_.data());
        else
            shrinker_->addRow(line_.data());
        if (colour_) {
            for (size_t x = 0; x < line_.size(); ++x)
                std::memcpy(&colourLine_[3 * x], &palette_[3 * size_t{indices[x]}], 3);
            if (colourSums_)
                colourSums_->addPixels(y, colourLine_.data());
            else
                colourShrinker_->addRow(colourLine_.data());
        }
    }

    ImageHandle finish() override
    {
        if (sums_ && picture_) {
            // The decoder hands over every row, reached by the code stream or not.
            sums_->finish(picture_->rows);
            if (colour_)
                colourSums_->finish(colour_->rows);
            return std::move(picture_);
        }
        if (!shrinker_ || !shrinker_->done())
            return nullptr;
        return std::move(picture_);
    }

private:
    const LoadOptions& options_;
    bool wantColour_;
    ImageHandle picture_;
    std::optional<RowShrinker> shrinker_;
    std::optional<AreaSum> sums_;  // in place of the shrinker for an interlaced image
    uint8_t levels_[256] = {};
    std::vector<uint8_t> line_;
    ImageHandle colour_;
    std::optional<RowShrinker> colourShrinker_;
    std::optional<AreaSum> colourSums_;
    uint8_t palette_[3 * 256] = {};
    std::vector<uint8_t> colourLine_;
    bool took_ = false;
    uint8_t fillLevel_ = 0;
};

// The decoder's result as gray at the asked size: a streamed result is that
// already (its sink made it, and its colour); a whole one is converted and
// resized, its colour (when `colour` is given) taken from its palette first.
std::optional<ImageHandle> grayAtSize(ImageHandle decoded, ShrinkingGraySink& sink, const LoadOptions& options,
                                      ImageHandle* colour, ReadError* error, bool endsEarly, std::string* warning)
{
    if (warning != nullptr && decoded && endsEarly) {
        uint8_t levels[256];
        grayLevelsOfPalette(decoded->colors, levels);
        *warning = endsEarlyWarning(sink.took() ? sink.fillLevel() : levels[0]);
    }
    if (sink.took()) {
        if (colour != nullptr && decoded)
            *colour = sink.takeColour();
        return decoded;
    }
    if (!decoded)
        return std::nullopt;
    ImageHandle palette = colour != nullptr ? colourFromPalette(*decoded) : nullptr;
    grayFromPalette(decoded.get());
    ImageHandle gray = fitWhole(std::move(decoded), options);
    if (!gray)
        fail(error, ReadFailure::NoMemory, PictureFormat::Gif);
    if (colour != nullptr && gray && palette)
        *colour = fitColour(std::move(palette), gray->header.biWidth, gray->rowCount);
    return gray;
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

std::optional<ImageHandle> readGifGray(const std::string& path, const LoadOptions& options, ImageHandle* colour,
                                       ReadError* error, std::string* warning)
{
    ShrinkingGraySink sink(options, colour != nullptr && options.colour);
    bool endsEarly = false;
    ImageHandle decoded = readGifFile(path, &sink, error, &endsEarly);
    return grayAtSize(std::move(decoded), sink, options, options.colour ? colour : nullptr, error, endsEarly, warning);
}

std::optional<ImageHandle> decodeGifGray(const uint8_t* data, size_t size, const LoadOptions& options,
                                         ImageHandle* colour, ReadError* error, std::string* warning)
{
    ShrinkingGraySink sink(options, colour != nullptr && options.colour);
    bool endsEarly = false;
    ImageHandle decoded = decodeGif(data, size, kMaxPixelBytes, &sink, error, &endsEarly);
    return grayAtSize(std::move(decoded), sink, options, options.colour ? colour : nullptr, error, endsEarly, warning);
}

}  // namespace morvel
