#include "image/picture_transform.h"

#include <algorithm>
#include <cstring>

#include "image/row_shrinker.h"

namespace morvel {

namespace {

bool isGrayPicture(const ImageRecord& picture)
{
    return picture.header.biBitCount == 8 && picture.rows != nullptr && picture.header.biWidth >= 1 &&
           picture.rowCount >= 1;
}

// Fills `picture` outside its top-left width x height corner: the columns
// right of it repeat the corner's last column, the rows below its last row.
void repeatEdges(ImageRecord& picture, int32_t width, int32_t height)
{
    const int32_t fullWidth = picture.header.biWidth;
    for (int32_t y = 0; y < picture.rowCount; ++y) {
        uint8_t* row = picture.rows[y];
        if (y >= height)
            std::memcpy(row, picture.rows[height - 1], static_cast<size_t>(fullWidth));
        else
            std::memset(row + width, row[width - 1], static_cast<size_t>(fullWidth - width));
    }
}

}  // namespace

ImageHandle resizeGray(const ImageRecord& source, int32_t width, int32_t height)
{
    return fitGray(source, width, height, width, height);
}

ImageHandle extendGray(const ImageRecord& source, int32_t width, int32_t height)
{
    const int32_t sourceWidth = source.header.biWidth;
    const int32_t sourceHeight = source.rowCount;
    if (!isGrayPicture(source) || width < sourceWidth || height < sourceHeight)
        return nullptr;
    ImageHandle extended = makeGrayImage(width, height);
    if (!extended)
        return nullptr;
    for (int32_t y = 0; y < sourceHeight; ++y)
        std::memcpy(extended->rows[y], source.rows[y], static_cast<size_t>(sourceWidth));
    repeatEdges(*extended, sourceWidth, sourceHeight);
    clearRowFill(*extended);
    return extended;
}

ImageHandle fitGray(const ImageRecord& source, int32_t width, int32_t height, int32_t canvasWidth, int32_t canvasHeight)
{
    if (width == source.header.biWidth && height == source.rowCount)
        return extendGray(source, canvasWidth, canvasHeight);
    FittedRows rows(source, width, height, canvasWidth, canvasHeight);
    if (!rows.ready())
        return nullptr;
    ImageHandle canvas = makeGrayImage(canvasWidth, canvasHeight);
    if (!canvas)
        return nullptr;
    rows.fill(0, *canvas);
    clearRowFill(*canvas);
    return canvas;
}

FittedRows::FittedRows(const ImageRecord& source, int32_t width, int32_t height, int32_t canvasWidth,
                       int32_t canvasHeight)
    : width_(width), height_(height), canvasWidth_(canvasWidth), canvasHeight_(canvasHeight)
{
    if (!isGrayPicture(source) || width < 1 || height < 1 || canvasWidth < width || canvasHeight < height)
        return;
    const int32_t sourceWidth = source.header.biWidth;
    const int32_t sourceHeight = source.rowCount;
    // The directions that shrink are shrunk first, by area averaging: the
    // averaging that the loaders apply while they decode, so a picture
    // shrunk whole and one shrunk row by row come out byte for byte the same.
    const int32_t shrunkWidth = std::min(width, sourceWidth);
    const int32_t shrunkHeight = std::min(height, sourceHeight);
    kept_ = &source;
    if (shrunkWidth != sourceWidth || shrunkHeight != sourceHeight) {
        shrunk_ = makeGrayImage(shrunkWidth, shrunkHeight);
        if (!shrunk_)
            return;
        RowShrinker shrinker(sourceWidth, sourceHeight, shrunkWidth, shrunkHeight, 1, shrunk_->rows);
        if (!shrinker.ready())
            return;
        for (int32_t y = 0; y < sourceHeight; ++y)
            shrinker.addRow(source.rows[y]);
        kept_ = shrunk_.get();
    }
    enlarger_.emplace(kept_->rows, shrunkWidth, shrunkHeight, width, height, 1);
}

void FittedRows::fill(int32_t first, ImageRecord& band)
{
    if (!ready() || band.header.biBitCount != 8 || band.header.biWidth != canvasWidth_ || band.rows == nullptr)
        return;
    for (int32_t r = 0; r < band.rowCount && first + r < canvasHeight_; ++r) {
        uint8_t* row = band.rows[r];
        // The rows below the picture repeat its last row, the columns right
        // of it its last column.
        const int32_t y = std::min(first + r, height_ - 1);
        if (kept_->header.biWidth == width_ && kept_->rowCount == height_)
            std::memcpy(row, kept_->rows[y], static_cast<size_t>(width_));  // nothing grows
        else
            enlarger_->row(y, row);
        std::memset(row + width_, row[width_ - 1], static_cast<size_t>(canvasWidth_ - width_));
    }
}

void invertGray(ImageRecord& picture)
{
    if (picture.header.biBitCount != 8 || picture.rows == nullptr)
        return;
    const int32_t width = picture.header.biWidth;
    for (int32_t y = 0; y < picture.rowCount; ++y) {
        uint8_t* row = picture.rows[y];
        for (int32_t x = 0; x < width; ++x)
            row[x] = static_cast<uint8_t>(255 - row[x]);
    }
}

}  // namespace morvel
