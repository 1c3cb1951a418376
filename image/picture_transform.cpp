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

ImageHandle resizeGray(const ImageRecord& source, int32_t width, int32_t height)
{
    const int32_t sourceWidth = source.header.biWidth;
    const int32_t sourceHeight = source.rowCount;
    if (source.header.biBitCount != 8 || source.rows == nullptr || sourceWidth < 1 || sourceHeight < 1 ||
        width < 1 || height < 1)
        return nullptr;
    ImageHandle scaled = makeGrayImage(width, height);
    if (!scaled)
        return nullptr;
    // Smaller (or equal) both ways: the area averaging that the loaders also
    // apply while they decode, so a picture shrunk whole and one shrunk row
    // by row come out byte for byte the same.
    if (width <= sourceWidth && height <= sourceHeight) {
        RowShrinker shrinker(sourceWidth, sourceHeight, width, height, 1, scaled->rows);
        if (!shrinker.ready())
            return nullptr;
        for (int32_t y = 0; y < sourceHeight; ++y)
            shrinker.addRow(source.rows[y]);
        clearRowFill(*scaled);
        return scaled;
    }
    // Both blocks are below kMaxPixelBytes (1 GiB), so their pitches and the
    // offsets the resampler forms from them fit its int arguments.
    const int64_t sourcePitch = recordPitch(source);
    const int64_t scaledPitch = recordPitch(*scaled);
    const bool shrinking = static_cast<int64_t>(width) * height < static_cast<int64_t>(sourceWidth) * sourceHeight;
    const int ok = stbir_resize_uint8_generic(source.rows[0], sourceWidth, sourceHeight, static_cast<int>(sourcePitch),
                                              scaled->rows[0], width, height, static_cast<int>(scaledPitch), 1,
                                              STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP,
                                              shrinking ? STBIR_FILTER_BOX : STBIR_FILTER_TRIANGLE,
                                              STBIR_COLORSPACE_LINEAR, nullptr);
    if (!ok)
        return nullptr;
    clearRowFill(*scaled);
    return scaled;
}

ImageHandle extendGray(const ImageRecord& source, int32_t width, int32_t height)
{
    const int32_t sourceWidth = source.header.biWidth;
    const int32_t sourceHeight = source.rowCount;
    if (source.header.biBitCount != 8 || source.rows == nullptr || sourceWidth < 1 || sourceHeight < 1 ||
        width < sourceWidth || height < sourceHeight)
        return nullptr;
    ImageHandle extended = makeGrayImage(width, height);
    if (!extended)
        return nullptr;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* from = source.rows[std::min(y, sourceHeight - 1)];
        uint8_t* to = extended->rows[y];
        std::memcpy(to, from, static_cast<size_t>(sourceWidth));
        std::memset(to + sourceWidth, from[sourceWidth - 1], static_cast<size_t>(width - sourceWidth));
    }
    clearRowFill(*extended);
    return extended;
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
