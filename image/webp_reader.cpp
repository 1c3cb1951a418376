#include "image/webp_reader.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

#include "image/row_sink.h"

namespace morvel {
namespace {

// The failure a status stands for, with the library's word for it.
bool failWith(ReadError* error, VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY:
        return fail(error, ReadFailure::NoMemory, PictureFormat::Webp);
    case VP8_STATUS_UNSUPPORTED_FEATURE:
        return fail(error, ReadFailure::Unsupported, PictureFormat::Webp, "feature");
    case VP8_STATUS_NOT_ENOUGH_DATA:
        return fail(error, ReadFailure::Damaged, PictureFormat::Webp, "file ends early");
    case VP8_STATUS_BITSTREAM_ERROR:
        return fail(error, ReadFailure::Damaged, PictureFormat::Webp, "bitstream error");
    default:
        return fail(error, ReadFailure::Damaged, PictureFormat::Webp);
    }
}

struct AnimDecoderDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

// The first frame of an animation, composed on its canvas by the library
// (RGBA), handed to `sink` row by row.
bool firstFrame(const uint8_t* data, size_t size, RowSink& sink, ReadError* error)
{
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        return false;
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    const WebPData bytes{data, size};
    std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter> decoder(WebPAnimDecoderNew(&bytes, &options));
    WebPAnimInfo info{};
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info) ||
        !WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || canvas == nullptr) {
        return fail(error, ReadFailure::Damaged, PictureFormat::Webp, "animation");
    }
    for (uint32_t y = 0; y < info.canvas_height; ++y)
        sink.addRow(canvas + size_t{y} * info.canvas_width * 4, RowLayout::Rgba);
    return true;
}

}  // namespace

bool hasWebpSignature(const uint8_t* data, size_t size)
{
    return data != nullptr && size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0;
}

ImageHandle decodeWebp(const uint8_t* data, size_t size, int64_t maxPixelBytes, ReadError* error,
                       const LoadOptions& options, ImageHandle* colour)
{
    WebPDecoderConfig config;
    if (!hasWebpSignature(data, size) || !WebPInitDecoderConfig(&config)) {
        fail(error, ReadFailure::NotAPicture, PictureFormat::Webp);
        return nullptr;
    }
    const VP8StatusCode featured = WebPGetFeatures(data, size, &config.input);
    const int naturalWidth = config.input.width;
    const int naturalHeight = config.input.height;
    if (featured != VP8_STATUS_OK || naturalWidth < 1 || naturalHeight < 1) {
        failWith(error, featured);
        return nullptr;
    }
    const bool alpha = config.input.has_alpha != 0 || config.input.has_animation != 0;
    const int64_t limit = std::min(maxPixelBytes, kMaxPixelBytes);

    // A shrink is left to the library's scaling; the sink then takes the
    // picture at the size asked. The library's output block counts too.
    const std::optional<PictureSize> target = wantedSize(options, naturalWidth, naturalHeight);
    const bool scale = target && !config.input.has_animation && target->width <= naturalWidth &&
                       target->height <= naturalHeight &&
                       (target->width < naturalWidth || target->height < naturalHeight);
    const int32_t width = scale ? target->width : naturalWidth;
    const int32_t height = scale ? target->height : naturalHeight;
    const bool wantColour = colour != nullptr && options.colour;
    RowSink sink(width, height, target, wantColour, limit, options.background);
    if (sink.tooLarge() || int64_t{width} * (alpha ? 4 : 3) * height > kMaxPixelBytes) {
        fail(error, ReadFailure::TooLarge, PictureFormat::Webp);
        return nullptr;
    }
    if (!sink.ready()) {
        fail(error, ReadFailure::NoMemory, PictureFormat::Webp);
        return nullptr;
    }
    if (config.input.has_animation) {
        if (!firstFrame(data, size, sink, error))
            return nullptr;
    } else {
        config.output.colorspace = alpha ? MODE_RGBA : MODE_RGB;
        if (scale) {
            config.options.use_scaling = 1;
            config.options.scaled_width = width;
            config.options.scaled_height = height;
        }
        const VP8StatusCode status = WebPDecode(data, size, &config);
        if (status != VP8_STATUS_OK || config.output.width != width || config.output.height != height) {
            WebPFreeDecBuffer(&config.output);
            failWith(error, status);
            return nullptr;
        }
        const WebPRGBABuffer& rows = config.output.u.RGBA;
        for (int32_t y = 0; y < height; ++y)
            sink.addRow(rows.rgba + static_cast<size_t>(y) * static_cast<size_t>(rows.stride),
                        alpha ? RowLayout::Rgba : RowLayout::Rgb);
        WebPFreeDecBuffer(&config.output);
    }
    ImageHandle picture = sink.finish(colour);
    if (!picture)
        fail(error, ReadFailure::NoMemory, PictureFormat::Webp);
    return picture;
}

}  // namespace morvel
