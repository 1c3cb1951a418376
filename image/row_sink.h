// The common end of the readers whose libraries hand over colour rows (WebP,
// HEIF, TIFF, BMP): each decoded row becomes gray by the luminance weights
// (grayOfRgb), transparent pixels laid over the background (each channel
// over the background's, the gray made from the result, as for PNG), the colour kept
// beside it when asked, and the rows shrunk as they come when the picture is
// wanted smaller.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "image/image_record.h"
#include "image/load_picture.h"
#include "image/row_shrinker.h"

namespace morvel {

// How the samples of a row are laid out, 8 bits each.
enum class RowLayout {
    Gray,         // one level per pixel
    Rgb,          // red, green, blue
    Bgr,          // blue, green, red
    Rgba,         // red, green, blue, alpha (colour not multiplied by alpha)
    Bgra,         // blue, green, red, alpha (colour not multiplied by alpha)
    PremultRgba,  // red, green, blue already multiplied by alpha, then alpha
};

// The size `options` asks for a picture of `width` x `height`, or none (no
// fit, or a size below 1).
std::optional<PictureSize> wantedSize(const LoadOptions& options, int32_t width, int32_t height);

// A sample `value` of alpha `alpha` laid over `background`: v a + b (255 - a),
// divided by 255, rounded; with `premultiplied`, v + b (255 - a) / 255
// rounded, at most 255.
uint8_t overBackground(uint8_t value, uint8_t alpha, uint8_t background, bool premultiplied);

class RowSink {
public:
    // Rows of `sourceWidth` x `sourceHeight` arrive top to bottom; the result
    // is `target` (the source size when none). A shrink on both sides is
    // made while the rows arrive (RowShrinker); any other change of size is
    // made on the whole picture at the end. The gray block held (and the
    // colour's, when `colour`) must stay within `maxPixelBytes`: the check is
    // made here, before the caller decodes any pixel.
    RowSink(int32_t sourceWidth, int32_t sourceHeight, std::optional<PictureSize> target, bool colour,
            int64_t maxPixelBytes, const RgbColour& background);

    // False when the picture would pass the limit (tooLarge) or memory ran
    // out; addRow then does nothing and finish gives none.
    bool ready() const { return gray_ != nullptr; }
    bool tooLarge() const { return tooLarge_; }

    // The next source row, sourceWidth pixels of `layout`.
    void addRow(const uint8_t* row, RowLayout layout);

    // The gray picture at the target size once every row is in, and into
    // `colour` (when given and asked for) its colour, or none.
    ImageHandle finish(ImageHandle* colour);

private:
    int32_t sourceWidth_;
    int32_t sourceHeight_;
    std::optional<PictureSize> target_;
    uint8_t background_[3];  // red, green, blue
    bool tooLarge_ = false;
    int32_t row_ = 0;
    ImageHandle gray_;
    ImageHandle colour_;
    std::optional<RowShrinker> grayShrinker_;
    std::optional<RowShrinker> colourShrinker_;
    std::vector<uint8_t> grayLine_;
    std::vector<uint8_t> colourLine_;
};

}  // namespace morvel
