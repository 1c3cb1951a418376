// The frames of an animated GIF as they are shown: each image laid on the
// logical screen over what the images before it left there, by their
// disposal methods and transparent colours, as browsers show them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "image/gif_decoder.h"
#include "image/image_record.h"
#include "image/load_picture.h"

namespace morvel {

// The logical screen of an animation, drawn on frame after frame. It
// starts transparent; before a frame is laid on it, the frame before is
// disposed of as it asked (1 or none: kept; 2: its area cleared to
// transparent, the background browsers show; 3: its area restored to what
// it was before it was drawn). A frame's pixels cover the screen except
// where they hold its transparent index; what lies outside the screen is
// dropped. Holds the screen and, for a frame that restores, its area once.
class GifCompositor {
public:
    // A screen of `width` x `height`; a side of 0 takes the first frame's
    // extent instead. A screen of more than `maxBytes` (4 bytes a pixel) is
    // refused.
    GifCompositor(int32_t width, int32_t height, int64_t maxBytes = kMaxPixelBytes);

    // Disposes of the frame before as it asked, then lays `frame` on the
    // screen. False when the screen cannot be had (past the picture limit,
    // or no memory).
    bool add(const GifFrame& frame);

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    // Red, green, blue and alpha (0 or 255) of each pixel, rows top-down.
    const std::vector<uint8_t>& rgba() const { return canvas_; }

private:
    struct Area {
        int32_t left = 0;
        int32_t top = 0;
        int32_t right = 0;  // exclusive; the area clipped to the screen
        int32_t bottom = 0;
    };
    bool shape(const GifFrame& frame);
    void dispose();
    void copyArea(const Area& area, bool save);

    int32_t width_;
    int32_t height_;
    int64_t maxBytes_;
    std::vector<uint8_t> canvas_;
    std::vector<uint8_t> saved_;  // the area of a frame that restores, before it was drawn
    Area last_;
    int lastDisposal_ = 0;
};

// The screen laid over white, as an 8-bit gray picture (the luminance
// weights of colour PNG pictures) and, with `colour`, a 24-bit one beside
// it. None when memory runs out.
ImageHandle grayOfScreen(const GifCompositor& screen);
ImageHandle colourOfScreen(const GifCompositor& screen);

// One frame of an animation, ready to convert.
struct AnimationFrame {
    LoadResult picture;  // gray (and colour when asked) at the size the load's fit asks for
    int delayMs = 0;     // milliseconds it stays, as stored
    int index = 0;       // counted from 1
};

// Hands `use` each frame of the animated GIF in the `size` bytes at `data`,
// composed and brought to the size `options`' fit asks for (colour beside
// when asked; GIF carries no orientation). `use` returns false to stop.
// `showings`, when given, receives how many times the file asks the
// animation to be shown: its NETSCAPE2.0 loop count N says N repeats after
// the first showing, 0 for ever (0 here too); without one, once.
// False when the bytes hold no frame. Frames and screens past
// `maxPixelBytes` are refused (the fuzz target passes less).
bool forEachGifFrame(const uint8_t* data, size_t size, const LoadOptions& options,
                     const std::function<bool(AnimationFrame&)>& use, int64_t* showings = nullptr,
                     int64_t maxPixelBytes = kMaxPixelBytes);

}  // namespace morvel
