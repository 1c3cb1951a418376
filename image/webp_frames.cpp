#include "image/webp_frames.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <cstring>
#include <memory>

#include "image/colour_picture.h"
#include "image/fitted_gif.h"
#include "image/png_reader.h"

namespace morvel {
namespace {

struct AnimDecoderDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

// The canvas (red, green, blue, alpha) laid over white: gray by the PNG
// weights, and the colour when `colour` is given.
ImageHandle grayOverWhite(const uint8_t* rgba, int32_t width, int32_t height, ImageHandle* colour)
{
    ImageHandle gray = makeGrayImage(width, height);
    if (!gray)
        return nullptr;
    clearRowFill(*gray);
    if (colour != nullptr)
        *colour = makeColourImage(width, height);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* rgb = colour != nullptr && *colour ? (*colour)->rows[y] : nullptr;
        for (int32_t x = 0; x < width; ++x, rgba += 4) {
            uint8_t over[3];
            for (int c = 0; c < 3; ++c)
                over[c] = static_cast<uint8_t>((rgba[c] * rgba[3] + 255 * (255 - rgba[3]) + 127) / 255);
            gray->rows[y][x] = grayOfRgb(over[0], over[1], over[2]);
            if (rgb != nullptr) {
                std::memcpy(rgb, over, 3);
                rgb += 3;
            }
        }
    }
    return gray;
}

}  // namespace

bool isAnimatedWebp(const uint8_t* data, size_t size)
{
    // RIFF size WEBP, then a VP8X chunk whose flags carry the animation bit.
    return data != nullptr && size >= 21 && std::memcmp(data, "RIFF", 4) == 0 &&
           std::memcmp(data + 8, "WEBPVP8X", 8) == 0 && (data[20] & 0x02) != 0;
}

bool forEachWebpFrame(const uint8_t* data, size_t size, const LoadOptions& options,
                      const std::function<bool(AnimationFrame&)>& use, int64_t* showings, int64_t maxPixelBytes)
{
    WebPBitstreamFeatures features;
    if (!isAnimatedWebp(data, size) || WebPGetFeatures(data, size, &features) != VP8_STATUS_OK || features.width <= 0 ||
        features.height <= 0 || int64_t{features.width} * features.height * 4 > std::min(maxPixelBytes, kMaxPixelBytes))
        return false;
    WebPAnimDecoderOptions decoderOptions;
    if (!WebPAnimDecoderOptionsInit(&decoderOptions))
        return false;
    decoderOptions.color_mode = MODE_RGBA;
    decoderOptions.use_threads = 0;
    const WebPData bytes{data, size};
    std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter> decoder(WebPAnimDecoderNew(&bytes, &decoderOptions));
    WebPAnimInfo info;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info))
        return false;
    if (showings != nullptr)
        *showings = info.loop_count;
    const auto width = static_cast<int32_t>(info.canvas_width);
    const auto height = static_cast<int32_t>(info.canvas_height);
    int count = 0;
    int previousEnd = 0;
    while (WebPAnimDecoderHasMoreFrames(decoder.get())) {
        uint8_t* canvas = nullptr;
        int end = 0;
        if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &end))
            break;
        AnimationFrame frame;
        frame.index = ++count;
        frame.delayMs = end - previousEnd;
        previousEnd = end;
        ImageHandle colour;
        frame.picture.gray =
            fitWhole(grayOverWhite(canvas, width, height, options.colour ? &colour : nullptr), options);
        if (!frame.picture.gray)
            frame.picture.error = "out of memory";
        else if (colour)
            frame.picture.colour =
                fitColour(std::move(colour), frame.picture.gray->header.biWidth, frame.picture.gray->rowCount);
        if (!use(frame))
            break;
    }
    return count > 0;
}

}  // namespace morvel
