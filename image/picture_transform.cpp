#include "image/picture_transform.h"

// The resampler is stb_image_resize (public domain, header only), compiled
// here with internal linkage so that no other object can clash with it.
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STB_IMAGE_RESIZE_STATIC
#include <stb_image_resize.h>

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

// Scales `source` to width x height into the top-left corner of `target`,
// which is at least that large. Both blocks are below kMaxPixelBytes (1 GiB),
// so their pitches and the offsets the resampler forms from them fit its int
// arguments.
bool resizeInto(const ImageRecord& source, ImageRecord& target, int32_t width, int32_t height)
{
    const int32_t sourceWidth = source.header.biWidth;
    const int32_t sourceHeight = source.rowCount;
    // Smaller (or equal) both ways: the area averaging that the loaders also
    // apply while they decode, so a picture shrunk whole and one shrunk row
    // by row come out byte for byte the same.
    if (width <= sourceWidth && height <= sourceHeight) {
        RowShrinker shrinker(sourceWidth, sourceHeight, width, height, 1, target.rows);
        if (!shrinker.ready())
            return false;
        for (int32_t y = 0; y < sourceHeight; ++y)
            shrinker.addRow(source.rows[y]);
        return true;
    }
    const bool shrinking = static_cast<int64_t>(width) * height < static_cast<int64_t>(sourceWidth) * sourceHeight;
    return stbir_resize_uint8_generic(
               source.rows[0], sourceWidth, sourceHeight, static_cast<int>(recordPitch(source)), target.rows[0], width,
               height, static_cast<int>(recordPitch(target)), 1, STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP,
               shrinking ? STBIR_FILTER_BOX : STBIR_FILTER_TRIANGLE, STBIR_COLORSPACE_LINEAR, nullptr) != 0;
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
    if (!isGrayPicture(source) || width < 1 || height < 1)
        return nullptr;
    ImageHandle scaled = makeGrayImage(width, height);
    if (!scaled || !resizeInto(source, *scaled, width, height))
        return nullptr;
    clearRowFill(*scaled);
    return scaled;
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
    if (!isGrayPicture(source) || width < 1 || height < 1 || canvasWidth < width || canvasHeight < height)
        return nullptr;
    ImageHandle canvas = makeGrayImage(canvasWidth, canvasHeight);
    if (!canvas || !resizeInto(source, *canvas, width, height))
        return nullptr;
    repeatEdges(*canvas, width, height);
    clearRowFill(*canvas);
    return canvas;
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
