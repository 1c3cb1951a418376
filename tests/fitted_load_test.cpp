// Loading a picture at the size a caller asks for: the JPEG scale chosen,
// and rows shrunk while they are decoded giving exactly the picture decoded
// whole and shrunk afterwards.

#include <gtest/gtest.h>

#include <spng.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STB_IMAGE_RESIZE_STATIC
#include <stb_image_resize.h>

#include "image/colour_picture.h"
#include "image/jpeg_reader.h"
#include "image/load_picture.h"
#include "image/orientation.h"
#include "image/picture_transform.h"
#include "jpeg_writer.h"
#include "test_files.h"

using namespace morvel;

namespace {

using Bytes = std::vector<uint8_t>;

// A detailed sample: every level, in no smooth order, so any pixel landing
// in the wrong place or with the wrong weight shows.
uint8_t detail(int x, int y, int c)
{
    return static_cast<uint8_t>((x * 37 + y * 101 + c * 59 + (x * y) % 13 * 7) & 0xFF);
}

// A TIFF structure (little-endian) whose one image directory holds the
// Orientation tag, as an EXIF block carries it.
Bytes exifOrientation(int orientation)
{
    return {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, static_cast<uint8_t>(orientation),
            0,   0,   0,  0, 0, 0, 0};
}

Bytes png(int width, int height, uint8_t colorType, uint8_t bitDepth, bool interlaced, int orientation = 1)
{
    const int channels = colorType == SPNG_COLOR_TYPE_TRUECOLOR         ? 3
                         : colorType == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ? 2
                                                                        : 1;
    const int bytes = bitDepth / 8;
    Bytes samples;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                for (int b = 0; b < bytes; ++b)
                    samples.push_back(detail(x + b, y, c));
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = static_cast<uint32_t>(width);
    ihdr.height = static_cast<uint32_t>(height);
    ihdr.bit_depth = bitDepth;
    ihdr.color_type = colorType;
    ihdr.interlace_method = interlaced ? SPNG_INTERLACE_ADAM7 : SPNG_INTERLACE_NONE;
    spng_set_ihdr(ctx, &ihdr);
    Bytes tiff = exifOrientation(orientation);
    if (orientation != 1) {
        spng_exif exif{};
        exif.length = tiff.size();
        exif.data = reinterpret_cast<char*>(tiff.data());
        EXPECT_EQ(spng_set_exif(ctx, &exif), 0);
    }
    EXPECT_EQ(spng_encode_image(ctx, samples.data(), samples.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE), 0);
    size_t length = 0;
    int error = 0;
    auto* buffer = static_cast<uint8_t*>(spng_get_png_buffer(ctx, &length, &error));
    Bytes out(buffer, buffer + length);
    std::free(buffer);
    spng_ctx_free(ctx);
    return out;
}

// A GIF of four gray levels in groups of four pixels a b a b, the last two
// decoded from one two-pixel string (clear, a, b, then the code of "ab"),
// so that strings run across row ends. That code widens the codes to 4 bits,
// and the next clear code, sent at that width, narrows them again. An
// `interlaced` one stores its rows in pass order.
Bytes gif(int width, int height, bool interlaced = false)
{
    Bytes out = {'G',
                 'I',
                 'F',
                 '8',
                 '9',
                 'a',
                 static_cast<uint8_t>(width),
                 static_cast<uint8_t>(width >> 8),
                 static_cast<uint8_t>(height),
                 static_cast<uint8_t>(height >> 8),
                 0x81,
                 0,
                 0,
                 0,
                 0,
                 0,
                 90,
                 90,
                 90,
                 170,
                 170,
                 170,
                 255,
                 255,
                 255,
                 0x2C,
                 0,
                 0,
                 0,
                 0,
                 static_cast<uint8_t>(width),
                 static_cast<uint8_t>(width >> 8),
                 static_cast<uint8_t>(height),
                 static_cast<uint8_t>(height >> 8),
                 static_cast<uint8_t>(interlaced ? 0x40 : 0),
                 2};
    Bytes data;
    uint32_t acc = 0;
    int bits = 0;
    auto put = [&](int code, int codeWidth) {
        acc |= static_cast<uint32_t>(code) << bits;
        for (bits += codeWidth; bits >= 8; bits -= 8, acc >>= 8)
            data.push_back(static_cast<uint8_t>(acc));
    };
    int clearWidth = 3;
    for (int i = 0; i < width * height; i += 4) {
        put(4, clearWidth);
        put(detail(i % width, i / width, 0) & 3, 3);
        put(detail(i % width, i / width, 1) & 3, 3);
        put(6, 3);
        clearWidth = 4;
    }
    put(5, clearWidth);
    if (bits > 0)
        data.push_back(static_cast<uint8_t>(acc));
    for (size_t at = 0; at < data.size(); at += 255) {
        const size_t n = std::min<size_t>(255, data.size() - at);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
    }
    out.push_back(0);
    out.push_back(0x3B);
    return out;
}

Bytes jpeg(int width, int height, int components, bool progressive, int orientation = 1)
{
    morvel::testing::JpegParams params;
    params.width = width;
    params.height = height;
    params.components = components;
    params.input = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    params.quality = 90;
    params.progressive = progressive;
    params.sample = detail;
    const Bytes plain = morvel::testing::makeJpeg(params);
    if (orientation == 1)
        return plain;
    // An APP1 Exif segment right after the start of image.
    const Bytes tiff = exifOrientation(orientation);
    const size_t length = 2 + 6 + tiff.size();
    Bytes out = {0xFF, 0xD8, 0xFF, 0xE1, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), 'E', 'x',
                 'i',  'f',  0,    0};
    out.insert(out.end(), tiff.begin(), tiff.end());
    out.insert(out.end(), plain.begin() + 2, plain.end());
    return out;
}

// Options whose fit asks for `target`, noting the size it is given.
LoadOptions fitTo(PictureSize target, PictureSize* given)
{
    LoadOptions options;
    options.fit = [target, given](int32_t width, int32_t height) {
        *given = {width, height};
        return std::optional<PictureSize>(target);
    };
    return options;
}

std::vector<uint8_t> pixelsOf(const ImageRecord& image)
{
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < image.rowCount; ++y)
        out.insert(out.end(), image.rows[y], image.rows[y] + image.header.biWidth);
    return out;
}

}  // namespace

TEST(FittedLoad, EqualsTheWholePictureShrunk)
{
    // Each picture loaded at the target size, from memory and from a file,
    // against the whole picture (for JPEG at the scale the fitted load
    // chose) resized afterwards; that in turn within one level of a
    // floating-point box filter, the area averaging's plain reference. The
    // fit is given the upright size; a picture stored on its side is shrunk
    // and then turned, which gives the same bytes as turning it first.
    struct Case {
        const char* name;
        Bytes bytes;
        PictureSize natural, target;  // upright
        int orientation = 1;
    };
    const Case cases[] = {
        {"gray jpeg, scale 3/8", jpeg(333, 251, 1, false), {333, 251}, {100, 75}},
        {"colour jpeg, scale 1/8 exactly", jpeg(640, 480, 3, false), {640, 480}, {80, 60}},
        {"colour jpeg, scale 1/8 and shrunk", jpeg(640, 480, 3, false), {640, 480}, {79, 59}},
        {"colour jpeg, natural size shrunk", jpeg(160, 120, 3, false), {160, 120}, {150, 113}},
        {"progressive jpeg", jpeg(500, 300, 3, true), {500, 300}, {123, 74}},
        {"jpeg enlarged", jpeg(50, 40, 1, false), {50, 40}, {200, 160}},
        {"gray png", png(301, 199, SPNG_COLOR_TYPE_GRAYSCALE, 8, false), {301, 199}, {97, 64}},
        {"16-bit colour png", png(120, 90, SPNG_COLOR_TYPE_TRUECOLOR, 16, false), {120, 90}, {37, 28}},
        {"gray png, one direction", png(200, 50, SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, 8, false), {200, 50}, {61, 50}},
        {"interlaced png", png(64, 64, SPNG_COLOR_TYPE_GRAYSCALE, 8, true), {64, 64}, {20, 21}},
        {"interlaced 16-bit colour png", png(75, 50, SPNG_COLOR_TYPE_TRUECOLOR, 16, true), {75, 50}, {23, 17}},
        {"gif", gif(91, 70), {91, 70}, {31, 24}},
        {"interlaced gif", gif(91, 70, true), {91, 70}, {31, 24}},
        {"interlaced gif, one direction", gif(40, 33, true), {40, 33}, {40, 10}},
        {"jpeg on its side", jpeg(320, 200, 3, false, 6), {200, 320}, {53, 85}, 6},
        {"png on its side", png(90, 61, SPNG_COLOR_TYPE_TRUECOLOR, 8, false, 8), {61, 90}, {20, 29}, 8},
    };
    morvel::testing::TempDir dir("morvel-fitted");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageHandle whole;
        if (std::string(c.name).find("jpeg") != std::string::npos) {
            whole = decodeJpegAtScale(c.bytes.data(), c.bytes.size(), jpegScaleEighths(c.natural, c.target));
            if (c.orientation != 1)
                whole = turnUpright(*whole, c.orientation);
        } else {
            whole = loadPictureFromBytes(c.bytes.data(), c.bytes.size());
        }
        ASSERT_TRUE(whole);
        ImageHandle expected = resizeGray(*whole, c.target.width, c.target.height);
        ASSERT_TRUE(expected);

        PictureSize given;
        const LoadOptions options = fitTo(c.target, &given);
        const ImageHandle fromBytes = readPictureFromBytes(c.bytes.data(), c.bytes.size(), options).gray;
        EXPECT_EQ(given.width, c.natural.width);
        EXPECT_EQ(given.height, c.natural.height);
        const ImageHandle fromFile = readPicture(dir.write("picture", c.bytes), options).gray;
        for (const ImageHandle* fitted : {&fromBytes, &fromFile}) {
            ASSERT_TRUE(*fitted);
            EXPECT_EQ((*fitted)->header.biWidth, c.target.width);
            EXPECT_EQ((*fitted)->rowCount, c.target.height);
            EXPECT_EQ(pixelsOf(**fitted), pixelsOf(*expected));
        }
        // Asked for colour too: the very same gray, and the colour at its size.
        LoadOptions withColour = options;
        withColour.colour = true;
        const LoadResult both = readPictureFromBytes(c.bytes.data(), c.bytes.size(), withColour);
        ASSERT_TRUE(both.gray && both.colour);
        EXPECT_EQ(pixelsOf(*both.gray), pixelsOf(*expected));
        EXPECT_EQ(both.colour->header.biWidth, c.target.width);
        EXPECT_EQ(both.colour->rowCount, c.target.height);
        if (std::string(c.name).find("jpeg") == std::string::npos) {
            // The colour shrunk alike: the whole picture's colour resized.
            LoadOptions colourOnly;
            colourOnly.colour = true;
            ImageHandle wholeColour = readPictureFromBytes(c.bytes.data(), c.bytes.size(), colourOnly).colour;
            wholeColour = fitColour(std::move(wholeColour), c.target.width, c.target.height);
            ASSERT_TRUE(wholeColour);
            for (int32_t y = 0; y < c.target.height; ++y)
                ASSERT_EQ(std::memcmp(wholeColour->rows[y], both.colour->rows[y],
                                      size_t{3} * static_cast<size_t>(c.target.width)),
                          0)
                    << "colour row " << y;
        }

        if (c.target.width > whole->header.biWidth)
            continue;  // enlarged: interpolated, not averaged
        std::vector<uint8_t> reference(static_cast<size_t>(c.target.width) * static_cast<size_t>(c.target.height));
        ASSERT_TRUE(stbir_resize_uint8_generic(whole->rows[0], whole->header.biWidth, whole->rowCount,
                                               static_cast<int>(recordPitch(*whole)), reference.data(), c.target.width,
                                               c.target.height, c.target.width, 1, STBIR_ALPHA_CHANNEL_NONE, 0,
                                               STBIR_EDGE_CLAMP, STBIR_FILTER_BOX, STBIR_COLORSPACE_LINEAR, nullptr));
        const std::vector<uint8_t> got = pixelsOf(*expected);
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_LE(std::abs(got[i] - reference[i]), 1) << "pixel " << i;
    }
}

TEST(FittedLoad, ColourOfAFlatPictureSurvivesTheFit)
{
    // One flat colour, fitted from every kind of file and turned upright:
    // every colour pixel keeps it (JPEG through YCbCr and its chroma
    // subsampling within a few levels).
    const uint8_t flat[3] = {200, 30, 60};
    morvel::testing::JpegParams params;
    params.width = 300;
    params.height = 200;
    params.components = 3;
    params.input = JCS_RGB;
    params.sample = [&flat](int, int, int c) { return flat[c]; };
    Bytes rgb;
    for (int i = 0; i < 90 * 60; ++i)
        rgb.insert(rgb.end(), flat, flat + 3);
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = 90;
    ihdr.height = 60;
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(ctx, &ihdr);
    EXPECT_EQ(spng_encode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE), 0);
    size_t length = 0;
    int error = 0;
    auto* buffer = static_cast<uint8_t*>(spng_get_png_buffer(ctx, &length, &error));
    const Bytes pngBytes(buffer, buffer + length);
    std::free(buffer);
    spng_ctx_free(ctx);
    Bytes gifBytes = gif(50, 30);
    std::memcpy(gifBytes.data() + 13, flat, 3);
    std::memcpy(gifBytes.data() + 16, flat, 3);
    std::memcpy(gifBytes.data() + 19, flat, 3);
    std::memcpy(gifBytes.data() + 22, flat, 3);

    const std::pair<const char*, Bytes> files[] = {
        {"jpeg", morvel::testing::makeJpeg(params)}, {"png", pngBytes}, {"gif", gifBytes}};
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        PictureSize given;
        LoadOptions options = fitTo({37, 23}, &given);
        options.colour = true;
        const LoadResult loaded = readPictureFromBytes(bytes.data(), bytes.size(), options);
        ASSERT_TRUE(loaded.gray && loaded.colour);
        ASSERT_EQ(loaded.colour->header.biWidth, loaded.gray->header.biWidth);
        ASSERT_EQ(loaded.colour->rowCount, loaded.gray->rowCount);
        for (int32_t y = 0; y < loaded.colour->rowCount; ++y)
            for (int32_t x = 0; x < loaded.colour->header.biWidth * 3; ++x)
                ASSERT_NEAR(loaded.colour->rows[y][x], flat[x % 3], 3) << x / 3 << ", " << y;
    }
}

TEST(JpegScale, SmallestEighthCoveringTheTarget)
{
    struct Case {
        PictureSize natural, target;
        int eighths;
    };
    const Case cases[] = {
        {{4000, 3000}, {640, 480}, 2},  // 1/8 gives 500 x 375: too small
        {{12000, 9000}, {800, 600}, 1}, {{800, 560}, {630, 441}, 7},   {{800, 560}, {800, 560}, 8},  // the natural size
        {{100, 100}, {200, 200}, 8},                                    // enlarged: decoded whole
        {{801, 3}, {101, 1}, 1},                                        // 801 / 8 rounds up to 101
        {{800, 3}, {101, 1}, 2},        {{3000, 4000}, {480, 640}, 2},  // a tall picture the same
        {{4000, 1000}, {600, 300}, 3},                                  // the height decides
    };
    for (const Case& c : cases)
        EXPECT_EQ(jpegScaleEighths(c.natural, c.target), c.eighths)
            << c.natural.width << " x " << c.natural.height << " to " << c.target.width << " x " << c.target.height;
}
