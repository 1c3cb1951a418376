#include "image/gif_frames.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

#include "image/colour_picture.h"
#include "image/fitted_gif.h"
#include "image/png_reader.h"

namespace morvel {

GifCompositor::GifCompositor(int32_t width, int32_t height, int64_t maxBytes)
    : width_(width), height_(height), maxBytes_(std::min(maxBytes, kMaxPixelBytes))
{}

// Makes the screen on the first frame: transparent, of the screen's size
// or, for a screen without one, the first frame's extent.
bool GifCompositor::shape(const GifFrame& frame)
{
    if (width_ <= 0 || height_ <= 0) {
        width_ = frame.left + frame.image->header.biWidth;
        height_ = frame.top + frame.image->rowCount;
    }
    const int64_t bytes = int64_t{width_} * height_ * 4;
    if (width_ <= 0 || height_ <= 0 || bytes > maxBytes_)
        return false;
    try {
        canvas_.assign(static_cast<size_t>(bytes), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Saves the screen's pixels of `area` into saved_, or puts them back.
void GifCompositor::copyArea(const Area& area, bool save)
{
    const size_t rowBytes = static_cast<size_t>(area.right - area.left) * 4;
    for (int32_t y = area.top; y < area.bottom; ++y) {
        uint8_t* const screen =
            canvas_.data() +
            (static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(area.left)) * 4;
        uint8_t* const kept = saved_.data() + static_cast<size_t>(y - area.top) * rowBytes;
        if (save)
            std::memcpy(kept, screen, rowBytes);
        else
            std::memcpy(screen, kept, rowBytes);
    }
}

void GifCompositor::dispose()
{
    if (lastDisposal_ == 2) {
        const size_t rowBytes = static_cast<size_t>(last_.right - last_.left) * 4;
        for (int32_t y = last_.top; y < last_.bottom; ++y)
            std::memset(canvas_.data() +
                            (static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(last_.left)) *
                                4,
                        0, rowBytes);
    } else if (lastDisposal_ == 3 && !saved_.empty()) {
        copyArea(last_, false);
    }
    lastDisposal_ = 0;
}

bool GifCompositor::add(const GifFrame& frame)
{
    if (frame.image == nullptr || (canvas_.empty() && !shape(frame)))
        return false;
    dispose();
    const ImageRecord& image = *frame.image;
    Area area;
    area.left = std::min(frame.left, width_);
    area.top = std::min(frame.top, height_);
    area.right = std::min(frame.left + image.header.biWidth, width_);
    area.bottom = std::min(frame.top + image.rowCount, height_);
    if (frame.disposal == 3) {
        try {
            saved_.resize(static_cast<size_t>(area.right - area.left) * static_cast<size_t>(area.bottom - area.top) *
                          4);
        } catch (const std::bad_alloc&) {
            saved_.clear();  // nothing to restore: the frame stays
        }
        if (!saved_.empty())
            copyArea(area, true);
    }
    for (int32_t y = area.top; y < area.bottom; ++y) {
        const uint8_t* const indices = image.rows[y - frame.top];
        uint8_t* out = canvas_.data() +
                       (static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(area.left)) * 4;
        for (int32_t x = area.left; x < area.right; ++x, out += 4) {
            const int index = indices[x - frame.left];
            if (index == frame.transparent)
                continue;
            const RgbQuad& c = image.colors[index];
            out[0] = c.rgbRed;
            out[1] = c.rgbGreen;
            out[2] = c.rgbBlue;
            out[3] = 255;
        }
    }
    last_ = area;
    lastDisposal_ = frame.disposal;
    return true;
}

namespace {

// The colour of a screen pixel laid over white.
inline void overWhite(const uint8_t* rgba, uint8_t* rgb)
{
    const bool shown = rgba[3] != 0;
    rgb[0] = shown ? rgba[0] : 255;
    rgb[1] = shown ? rgba[1] : 255;
    rgb[2] = shown ? rgba[2] : 255;
}

}  // namespace

ImageHandle grayOfScreen(const GifCompositor& screen)
{
    ImageHandle gray = makeGrayImage(screen.width(), screen.height());
    if (!gray)
        return nullptr;
    clearRowFill(*gray);
    const uint8_t* in = screen.rgba().data();
    for (int32_t y = 0; y < screen.height(); ++y) {
        uint8_t* const row = gray->rows[y];
        for (int32_t x = 0; x < screen.width(); ++x, in += 4) {
            uint8_t rgb[3];
            overWhite(in, rgb);
            row[x] = grayOfRgb(rgb[0], rgb[1], rgb[2]);
        }
    }
    return gray;
}

ImageHandle colourOfScreen(const GifCompositor& screen)
{
    ImageHandle colour = makeColourImage(screen.width(), screen.height());
    if (!colour)
        return nullptr;
    const uint8_t* in = screen.rgba().data();
    for (int32_t y = 0; y < screen.height(); ++y) {
        uint8_t* row = colour->rows[y];
        for (int32_t x = 0; x < screen.width(); ++x, in += 4, row += 3)
            overWhite(in, row);
    }
    return colour;
}

namespace {

// Composes each decoded image and hands the frame, at its size, to the
// caller's function.
class FrameComposer : public GifFrameSink {
public:
    FrameComposer(const LoadOptions& options, const std::function<bool(AnimationFrame&)>& use, int64_t maxBytes)
        : options_(options), use_(use), maxBytes_(maxBytes)
    {}
    void screen(const GifScreen& screen) override
    {
        compositor_.emplace(screen.width, screen.height, maxBytes_);
        loops_ = screen.loops;
    }
    bool frame(const GifFrame& frame) override
    {
        if (!compositor_ || !compositor_->add(frame))
            return false;
        AnimationFrame shown;
        shown.index = ++count_;
        shown.delayMs = frame.delay * 10;
        shown.picture.gray = fitWhole(grayOfScreen(*compositor_), options_);
        if (!shown.picture.gray) {
            shown.picture.error = "out of memory";
        } else {
            if (options_.colour)
                shown.picture.colour = fitColour(colourOfScreen(*compositor_), shown.picture.gray->header.biWidth,
                                                 shown.picture.gray->rowCount);
            if (frame.endsEarly) {
                // What the code stream did not reach is colour index 0.
                const RgbQuad& c = frame.image->colors[0];
                shown.picture.warning = endsEarlyWarning(
                    frame.transparent == 0 ? uint8_t{255} : grayOfRgb(c.rgbRed, c.rgbGreen, c.rgbBlue));
            }
        }
        return use_(shown);
    }
    int loops() const { return loops_; }
    int count() const { return count_; }

private:
    const LoadOptions& options_;
    const std::function<bool(AnimationFrame&)>& use_;
    int64_t maxBytes_;
    std::optional<GifCompositor> compositor_;
    int loops_ = -1;
    int count_ = 0;
};

}  // namespace

bool forEachGifFrame(const uint8_t* data, size_t size, const LoadOptions& options,
                     const std::function<bool(AnimationFrame&)>& use, int64_t* showings, int64_t maxPixelBytes)
{
    FrameComposer composer(options, use, maxPixelBytes);
    const bool decoded = decodeGifFrames(data, size, composer, maxPixelBytes);
    if (showings != nullptr) {
        const int loops = composer.loops();
        *showings = loops < 0 ? 1 : loops == 0 ? 0 : int64_t{loops} + 1;
    }
    return decoded && composer.count() > 0;
}

}  // namespace morvel
