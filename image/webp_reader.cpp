#include "image/webp_reader.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

#include "image/file_bytes.h"
#include "image/row_sink.h"

namespace morvel {
namespace {

// The library's words for a status, as the reason for no picture.
std::string damagedWebp(VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY:
        return "damaged WebP data (out of memory)";
    case VP8_STATUS_UNSUPPORTED_FEATURE:
        return "damaged WebP data (unsupported feature)";
    case VP8_STATUS_NOT_ENOUGH_DATA:
        return "damaged WebP data (file ends early)";
    case VP8_STATUS_BITSTREAM_ERROR:
        return "damaged WebP data (bitstream error)";
    default:
        return "damaged WebP data";
    }
}

struct AnimDecoderDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

// The first frame of an animation, composed on its canvas by the library
// (RGBA), handed to `sink` row by row.
bool firstFrame(const uint8_t* data, size_t size, RowSink& sink, std::string& why)
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
        why = "damaged WebP data (animation)";
        return false;
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

ImageHandle decodeWebp(const uint8_t* data, size_t size, int64_t maxPixelBytes, std::string* why,
                       const LoadOptions& options, ImageHandle* colour)
{
    std::string reason = "damaged WebP data";
    const auto fail = [why](const std::string& because) -> ImageHandle {
        if (why != nullptr)
            *why = because;
        return nullptr;
    };
    WebPDecoderConfig config;
    if (!hasWebpSignature(data, size) || !WebPInitDecoderConfig(&config))
        return fail(reason);
    const VP8StatusCode featured = WebPGetFeatures(data, size, &config.input);
    const int naturalWidth = config.input.width;
    const int naturalHeight = config.input.height;
    if (featured != VP8_STATUS_OK || naturalWidth < 1 || naturalHeight < 1)
        return fail(damagedWebp(featured));
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
    RowSink sink(width, height, target, wantColour, limit, backgroundLevel(options));
    if (sink.tooLarge() || int64_t{width} * (alpha ? 4 : 3) * height > kMaxPixelBytes)
        return fail(kTooLargeReason);
    if (!sink.ready())
        return fail(reason);
    if (config.input.has_animation) {
        if (!firstFrame(data, size, sink, reason))
            return fail(reason);
        return sink.finish(colour);
    }

    config.output.colorspace = alpha ? MODE_RGBA : MODE_RGB;
    if (scale) {
        config.options.use_scaling = 1;
        config.options.scaled_width = width;
        config.options.scaled_height = height;
    }
    const VP8StatusCode status = WebPDecode(data, size, &config);
    if (status != VP8_STATUS_OK || config.output.width != width || config.output.height != height) {
        WebPFreeDecBuffer(&config.output);
        return fail(damagedWebp(status));
    }
    const WebPRGBABuffer& rows = config.output.u.RGBA;
    for (int32_t y = 0; y < height; ++y)
        sink.addRow(rows.rgba + static_cast<size_t>(y) * static_cast<size_t>(rows.stride),
                    alpha ? RowLayout::Rgba : RowLayout::Rgb);
    WebPFreeDecBuffer(&config.output);
    ImageHandle picture = sink.finish(colour);
    if (!picture)
        return fail("damaged WebP data (out of memory)");
    return picture;
}

}  // namespace morvel
