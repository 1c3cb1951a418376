// Whole-picture changes made to a loaded gray picture before it is matched:
// scaling to another size, extending its edges and inverting its levels.
#pragma once

#include <cstdint>
#include <optional>

#include "image/image_record.h"
#include "image/row_enlarger.h"

namespace morvel {

// A new 8-bit gray picture of width x height made from the 8-bit `source`.
// Each direction that shrinks is shrunk first, by averaging the source
// pixels under each new pixel (RowShrinker: a box filter, so fine detail
// becomes its mean gray instead of aliasing); each direction that grows is
// then enlarged by linear interpolation (RowEnlarger). Levels are averaged
// as they are stored, the same way the blur and the cell means of the
// matcher treat them. None for a size below 1, a block above
// kMaxPixelBytes, a source that is not 8-bit, or no memory.
ImageHandle resizeGray(const ImageRecord& source, int32_t width, int32_t height);

// A new 8-bit gray picture of width x height with `source` in its top-left
// corner; the columns right of it repeat the source's last column and the
// rows below repeat its last row. None for a size smaller than the source's,
// a block above kMaxPixelBytes, a source that is not 8-bit, or no memory.
ImageHandle extendGray(const ImageRecord& source, int32_t width, int32_t height);

// extendGray(resizeGray(source, width, height), canvasWidth, canvasHeight),
// byte for byte, made in one block: the scaled picture is never held apart
// from the canvas. With width x height the source's own size, nothing is
// resampled. None for what either would refuse.
ImageHandle fitGray(const ImageRecord& source, int32_t width, int32_t height, int32_t canvasWidth,
                    int32_t canvasHeight);

// The canvas of fitGray made a band of rows at a time, so that a picture
// enlarged to a large canvas is never held whole: what it holds is the
// source shrunk in the directions that shrink (no larger than the source or
// the scaled size) and a few rows of the canvas's width.
class FittedRows {
public:
    // Keeps `source` (when nothing shrinks) or its shrunk copy; `source`
    // must outlive the object.
    FittedRows(const ImageRecord& source, int32_t width, int32_t height, int32_t canvasWidth, int32_t canvasHeight);

    // False for what fitGray refuses (the block limit aside: a band is
    // checked when it is made) or when memory ran out.
    bool ready() const { return enlarger_.has_value() && enlarger_->ready(); }
    int32_t canvasWidth() const { return canvasWidth_; }
    int32_t canvasHeight() const { return canvasHeight_; }

    // Writes canvas rows first .. first + band.rowCount - 1 into `band`, an
    // 8-bit picture of the canvas's width; rows past the canvas are not
    // written. Fill bytes are left as they are.
    void fill(int32_t first, ImageRecord& band);

private:
    const ImageRecord* kept_ = nullptr;  // the source, or shrunk_
    ImageHandle shrunk_;
    std::optional<RowEnlarger> enlarger_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t canvasWidth_ = 0;
    int32_t canvasHeight_ = 0;
};

// Every pixel p of an 8-bit picture becomes 255 - p (fill bytes are left).
void invertGray(ImageRecord& picture);

}  // namespace morvel
