// The PNG reader: every colour type and depth arrives as the expected gray,
// transparency over white; damaged files give no picture; and the loading
// from memory (standard input) gives what loading the file gives.

#include <gtest/gtest.h>

#include <spng.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "image/file_bytes.h"
#include "image/jpeg_reader.h"
#include "image/load_picture.h"
#include "image/png_reader.h"
#include "jpeg_writer.h"
#include "test_files.h"

using namespace morvel;

namespace {

using Bytes = std::vector<uint8_t>;

struct PngParams {
    uint32_t width = 1;
    uint32_t height = 1;
    uint8_t bitDepth = 8;
    uint8_t colorType = SPNG_COLOR_TYPE_GRAYSCALE;
    bool interlaced = false;
    std::vector<spng_plte_entry> palette;
    const spng_trns* trns = nullptr;
    Bytes exif;  // an eXIf chunk's content, when not empty
};

PngParams pngSpec(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colorType)
{
    PngParams params;
    params.width = width;
    params.height = height;
    params.bitDepth = bitDepth;
    params.colorType = colorType;
    return params;
}

// Encodes `samples` (the PNG's own layout, 16-bit samples in host order) with
// libspng's encoder.
Bytes encodePng(const PngParams& params, const void* samples, size_t size)
{
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    EXPECT_NE(ctx, nullptr);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = params.width;
    ihdr.height = params.height;
    ihdr.bit_depth = params.bitDepth;
    ihdr.color_type = params.colorType;
    ihdr.interlace_method = params.interlaced ? SPNG_INTERLACE_ADAM7 : SPNG_INTERLACE_NONE;
    EXPECT_EQ(spng_set_ihdr(ctx, &ihdr), 0);
    if (!params.palette.empty()) {
        spng_plte plte{};
        plte.n_entries = static_cast<uint32_t>(params.palette.size());
        std::copy(params.palette.begin(), params.palette.end(), plte.entries);
        EXPECT_EQ(spng_set_plte(ctx, &plte), 0);
    }
    if (params.trns != nullptr) {
        spng_trns trns = *params.trns;
        EXPECT_EQ(spng_set_trns(ctx, &trns), 0);
    }
    if (!params.exif.empty()) {
        spng_exif exif{};
        exif.length = params.exif.size();
        exif.data = reinterpret_cast<char*>(const_cast<uint8_t*>(params.exif.data()));
        EXPECT_EQ(spng_set_exif(ctx, &exif), 0);
    }
    const int status = spng_encode_image(ctx, samples, size, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    EXPECT_EQ(status, 0) << spng_strerror(status);
    size_t length = 0;
    int error = 0;
    auto* buffer = static_cast<uint8_t*>(spng_get_png_buffer(ctx, &length, &error));
    Bytes png(buffer, buffer + length);
    std::free(buffer);
    spng_ctx_free(ctx);
    return png;
}

std::vector<uint8_t> pixelsOf(const ImageRecord& image)
{
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < image.rowCount; ++y)
        out.insert(out.end(), image.rows[y], image.rows[y] + image.header.biWidth);
    return out;
}

std::vector<uint8_t> decodeToGray(const Bytes& png)
{
    ImageHandle image = decodePng(png.data(), png.size());
    EXPECT_TRUE(image);
    if (!image)
        return {};
    EXPECT_EQ(image->header.biBitCount, 8);
    return pixelsOf(*image);
}

// A TIFF structure whose one image directory holds the Orientation tag.
Bytes exifWithOrientation(int orientation, bool bigEndian)
{
    if (bigEndian)
        return {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, static_cast<uint8_t>(orientation),
                0,   0,   0, 0,  0, 0};
    return {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, static_cast<uint8_t>(orientation),
            0,   0,   0,  0, 0, 0, 0};
}

// Level of black with alpha `a` (of 255) laid over white.
uint8_t blackOverWhite(unsigned a)
{
    return static_cast<uint8_t>((255 * (255 - a) + 127) / 255);
}

}  // namespace

TEST(PngGray, LuminanceIsTheJpegLibrarys)
{
    EXPECT_EQ(grayOfRgb(255, 0, 0), 76);
    EXPECT_EQ(grayOfRgb(0, 255, 0), 150);
    EXPECT_EQ(grayOfRgb(0, 0, 255), 29);
    EXPECT_EQ(grayOfRgb(255, 255, 255), 255);
    for (int v = 0; v < 256; ++v)
        ASSERT_EQ(grayOfRgb(static_cast<uint8_t>(v), static_cast<uint8_t>(v), static_cast<uint8_t>(v)), v);
}

TEST(PngReader, GrayPicturesOfEveryDepth)
{
    // 8-bit: the samples themselves, with the gray colour table.
    std::vector<uint8_t> ramp(256);
    for (int i = 0; i < 256; ++i)
        ramp[i] = static_cast<uint8_t>(i);
    Bytes png = encodePng(pngSpec(16, 16, 8, SPNG_COLOR_TYPE_GRAYSCALE), ramp.data(), ramp.size());
    ImageHandle image = decodePng(png.data(), png.size());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->header.biWidth, 16);
    EXPECT_EQ(image->rowCount, 16);
    EXPECT_EQ(image->colors[200].rgbRed, 200);
    EXPECT_EQ(pixelsOf(*image), ramp);

    // 16-bit: rounded to the nearest 8-bit level, not cut to the high byte.
    const uint16_t wide[6] = {0, 65535, 0x7fff, 0x8080, 257 * 77, 0x00ff};  // 0x00ff: 0.99
    png = encodePng(pngSpec(6, 1, 16, SPNG_COLOR_TYPE_GRAYSCALE), wide, sizeof wide);
    EXPECT_EQ(decodeToGray(png), (std::vector<uint8_t>{0, 255, 127, 128, 77, 1}));

    // 1-, 2- and 4-bit samples span the full range.
    const uint8_t bits1[1] = {0b10100000};  // 1 0 1 0
    png = encodePng(pngSpec(4, 1, 1, SPNG_COLOR_TYPE_GRAYSCALE), bits1, 1);
    EXPECT_EQ(decodeToGray(png), (std::vector<uint8_t>{255, 0, 255, 0}));
    const uint8_t bits4[2] = {0x0f, 0x58};
    png = encodePng(pngSpec(4, 1, 4, SPNG_COLOR_TYPE_GRAYSCALE), bits4, 2);
    EXPECT_EQ(decodeToGray(png), (std::vector<uint8_t>{0, 255, 85, 136}));
}

TEST(PngReader, ColourPaletteAndTransparencyOverWhite)
{
    // Truecolour: the luminance of each colour.
    const uint8_t rgb[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30};
    Bytes png = encodePng(pngSpec(4, 1, 8, SPNG_COLOR_TYPE_TRUECOLOR), rgb, sizeof rgb);
    EXPECT_EQ(decodeToGray(png), (std::vector<uint8_t>{76, 150, 29, grayOfRgb(10, 20, 30)}));
    // Three pixels a row: the fill byte up to the pitch of 4 is zero.
    const uint8_t rgb3x2[18] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    png = encodePng(pngSpec(3, 2, 8, SPNG_COLOR_TYPE_TRUECOLOR), rgb3x2, sizeof rgb3x2);
    ImageHandle padded = decodePng(png.data(), png.size());
    ASSERT_TRUE(padded);
    EXPECT_EQ(padded->rows[0][3], 0);
    EXPECT_EQ(padded->rows[1][3], 0);

    // Palette with a tRNS chunk: opaque, half and fully transparent entries.
    PngParams palette = pngSpec(5, 1, 8, SPNG_COLOR_TYPE_INDEXED);
    palette.palette = {{255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 255, 0}};
    spng_trns trns{};
    trns.n_type3_entries = 4;
    trns.type3_alpha[0] = 255;
    trns.type3_alpha[1] = 255;
    trns.type3_alpha[2] = 128;
    trns.type3_alpha[3] = 0;
    palette.trns = &trns;
    const uint8_t indices[] = {0, 1, 2, 3, 4};
    png = encodePng(palette, indices, sizeof indices);
    EXPECT_EQ(decodeToGray(png), (std::vector<uint8_t>{76, 150, blackOverWhite(128), 255, 29}));

    // Gray with alpha, colour with alpha, 8 and 16 bits.
    const uint8_t grayAlpha[] = {0, 255, 0, 0, 200, 128, 90, 255};
    png = encodePng(pngSpec(4, 1, 8, SPNG_COLOR_TYPE_GRAYSCALE_ALPHA), grayAlpha, sizeof grayAlpha);
    EXPECT_EQ(decodeToGray(png), (std::vector<uint8_t>{0, 255, (200 * 128 + 255 * 127 + 127) / 255, 90}));
    const uint8_t rgba[] = {255, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 128};
    png = encodePng(pngSpec(3, 1, 8, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA), rgba, sizeof rgba);
    EXPECT_EQ(decodeToGray(png), (std::vector<uint8_t>{76, 255, blackOverWhite(128)}));
    const uint16_t rgba16[] = {65535, 0, 0, 65535, 0, 0, 0, 0, 0, 0, 0, 32896};
    png = encodePng(pngSpec(3, 1, 16, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA), rgba16, sizeof rgba16);
    EXPECT_EQ(decodeToGray(png), (std::vector<uint8_t>{76, 255, blackOverWhite(128)}));

    // Over another background (a dark terminal's black, a page's colour):
    // the gray and the colour alike, from the reader's own rows and through
    // the load sequence, 8 and 16 bits.
    LoadOptions overBlue;
    overBlue.colour = true;
    overBlue.background = {0, 0, 200};
    const std::vector<uint8_t> blueColours{255, 0, 0, 0, 0, 200, 0, 0, 100};
    for (const Bytes& bytes : {encodePng(pngSpec(3, 1, 8, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA), rgba, sizeof rgba), png}) {
        ImageHandle colour;
        ImageHandle gray = decodePng(bytes.data(), bytes.size(), kMaxPixelBytes, overBlue, &colour);
        ASSERT_TRUE(gray && colour);
        EXPECT_EQ(pixelsOf(*gray), (std::vector<uint8_t>{76, grayOfRgb(0, 0, 200), grayOfRgb(0, 0, 100)}));
        EXPECT_EQ(std::vector<uint8_t>(colour->rows[0], colour->rows[0] + 9), blueColours);
        const LoadResult loaded = readPictureFromBytes(bytes.data(), bytes.size(), overBlue);
        ASSERT_TRUE(loaded.colour);
        EXPECT_EQ(std::vector<uint8_t>(loaded.colour->rows[0], loaded.colour->rows[0] + 9), blueColours);
    }

    // A tRNS colour on a gray picture makes that level white.
    spng_trns grayKey{};
    grayKey.gray = 40;
    PngParams keyed = pngSpec(3, 1, 8, SPNG_COLOR_TYPE_GRAYSCALE);
    keyed.trns = &grayKey;
    const uint8_t keyedGray[] = {40, 41, 0};
    png = encodePng(keyed, keyedGray, sizeof keyedGray);
    EXPECT_EQ(decodeToGray(png), (std::vector<uint8_t>{255, 41, 0}));
}

TEST(PngReader, InterlacedEqualsPlain)
{
    // Odd sizes, so that some Adam7 passes are short or empty.
    std::mt19937 random(7);
    for (const auto& [w, h] : {std::pair<uint32_t, uint32_t>{13, 11}, {1, 1}, {3, 9}, {64, 5}}) {
        std::vector<uint8_t> rgb(size_t{w} * h * 3);
        for (auto& v : rgb)
            v = static_cast<uint8_t>(random());
        PngParams params = pngSpec(w, h, 8, SPNG_COLOR_TYPE_TRUECOLOR);
        const auto plain = decodeToGray(encodePng(params, rgb.data(), rgb.size()));
        params.interlaced = true;
        const auto interlaced = decodeToGray(encodePng(params, rgb.data(), rgb.size()));
        EXPECT_EQ(interlaced, plain) << w << " x " << h;
        ASSERT_EQ(plain.size(), size_t{w} * h);
        EXPECT_EQ(plain[w * h - 1],
                  grayOfRgb(rgb[(w * h - 1) * 3], rgb[(w * h - 1) * 3 + 1], rgb[(w * h - 1) * 3 + 2]));
    }
}

TEST(PngReader, DamagedOrOversizedGivesNoPicture)
{
    std::vector<uint8_t> samples(40 * 30);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<uint8_t>(i * 7);
    const Bytes png = encodePng(pngSpec(40, 30, 8, SPNG_COLOR_TYPE_GRAYSCALE), samples.data(), samples.size());
    ASSERT_TRUE(decodePng(png.data(), png.size()));

    // Cut anywhere up to the end marker (whose own checksum, the file's
    // last four bytes, the library does not insist on).
    for (size_t length = 0; length < png.size() - 4; ++length)
        EXPECT_FALSE(decodePng(png.data(), length)) << "cut at " << length;
    // Any byte of the image data changed: checksums catch it.
    for (size_t at = 40; at < png.size() - 12; at += 3) {
        Bytes damaged = png;
        damaged[at] ^= 0x5a;
        EXPECT_FALSE(decodePng(damaged.data(), damaged.size())) << "byte " << at;
    }
    EXPECT_FALSE(decodePng(nullptr, 0));

    // A size the limits refuse, before any pixel is decoded: too wide for
    // the reader, or a block above the caller's limit.
    // Each says why, as a typed failure.
    std::vector<uint8_t> wideRow((kMaxPngSide + 1) / 8);
    const Bytes wide =
        encodePng(pngSpec(kMaxPngSide + 1, 1, 1, SPNG_COLOR_TYPE_GRAYSCALE), wideRow.data(), wideRow.size());
    const struct {
        Bytes bytes;
        int64_t limit;
        ReadFailure failure;
    } refused[] = {{wide, kMaxPixelBytes, ReadFailure::Unsupported},
                   {png, 40 * 30 - 1, ReadFailure::TooLarge},
                   {Bytes(png.begin(), png.end() - 30), kMaxPixelBytes, ReadFailure::Damaged},
                   {Bytes(png.begin() + 1, png.end()), kMaxPixelBytes, ReadFailure::NotAPicture}};
    for (const auto& r : refused) {
        ReadError error;
        EXPECT_FALSE(decodePng(r.bytes.data(), r.bytes.size(), r.limit, {}, nullptr, &error));
        EXPECT_EQ(error.failure, r.failure) << messageOf(error);
        EXPECT_EQ(error.format, PictureFormat::Png);
    }
    EXPECT_TRUE(decodePng(png.data(), png.size(), 40 * 30));
}

TEST(PngReader, DamagedOrHugeAncillaryChunksDoNotCostThePicture)
{
    std::vector<uint8_t> samples(40 * 30);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<uint8_t>(i * 7);
    const Bytes png = encodePng(pngSpec(40, 30, 8, SPNG_COLOR_TYPE_GRAYSCALE), samples.data(), samples.size());
    const auto chunk = [](const char* type, const Bytes& data, bool goodChecksum) {
        Bytes bytes(8 + data.size());
        for (int i = 0; i < 4; ++i) {
            bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(data.size() >> (24 - 8 * i));
            bytes[static_cast<size_t>(4 + i)] = static_cast<uint8_t>(type[i]);
        }
        std::copy(data.begin(), data.end(), bytes.begin() + 8);
        uLong crc = crc32(crc32(0, nullptr, 0), bytes.data() + 4, static_cast<uInt>(bytes.size() - 4));
        if (!goodChecksum)
            crc ^= 1;
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<uint8_t>(crc >> shift));
        return bytes;
    };
    const Bytes text = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'h', 'i'};
    // A compressed text of 32 MiB of one letter, some 32 kilobytes.
    Bytes bomb(text.begin(), text.begin() + 8);
    bomb.push_back(0);
    {
        const std::vector<uint8_t> letters(size_t{32} << 20, 'a');
        uLongf packedSize = compressBound(static_cast<uLong>(letters.size()));
        Bytes packed(packedSize);
        ASSERT_EQ(compress2(packed.data(), &packedSize, letters.data(), static_cast<uLong>(letters.size()), 9), Z_OK);
        bomb.insert(bomb.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(packedSize));
    }
    Bytes manyTexts;
    for (int i = 0; i < 300000; ++i) {
        const Bytes one = chunk("tEXt", text, true);
        manyTexts.insert(manyTexts.end(), one.begin(), one.end());
    }
    struct Case {
        const char* name;
        Bytes chunks;
    } cases[] = {
        {"text with a bad checksum", chunk("tEXt", text, false)},
        {"huge compressed text", chunk("zTXt", bomb, true)},
        {"300000 text chunks", manyTexts},
    };
    // After the header (8 + 25 bytes), and again before the end marker.
    for (const Case& c : cases) {
        for (size_t at : {size_t{33}, png.size() - 12}) {
            Bytes damaged(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(at));
            damaged.insert(damaged.end(), c.chunks.begin(), c.chunks.end());
            damaged.insert(damaged.end(), png.begin() + static_cast<std::ptrdiff_t>(at), png.end());
            EXPECT_EQ(decodeToGray(damaged), samples) << c.name << " at " << at;
        }
    }
}

TEST(PngReader, ColourPngComparesWithTheSameColourJpeg)
{
    // Flat colour blocks: JPEG at quality 100 keeps them within a level, and
    // its gray is the library's luminance, which the PNG reader shares.
    const uint8_t colours[4][3] = {{200, 30, 60}, {20, 220, 90}, {40, 60, 250}, {128, 128, 128}};
    std::vector<uint8_t> rgb(32 * 32 * 3);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            std::memcpy(&rgb[(y * 32 + x) * 3], colours[(y / 16) * 2 + x / 16], 3);

    morvel::testing::JpegParams params;
    params.width = 32;
    params.height = 32;
    params.input = JCS_RGB;
    params.components = 3;
    params.sample = [&rgb](int x, int y, int c) { return rgb[static_cast<size_t>((y * 32 + x) * 3 + c)]; };
    const Bytes jpeg = morvel::testing::makeJpeg(params);
    ImageHandle fromJpeg = decodeJpeg(jpeg.data(), jpeg.size());
    ASSERT_TRUE(fromJpeg);

    const auto fromPng = decodeToGray(encodePng(pngSpec(32, 32, 8, SPNG_COLOR_TYPE_TRUECOLOR), rgb.data(), rgb.size()));
    const auto jpegGray = pixelsOf(*fromJpeg);
    ASSERT_EQ(jpegGray.size(), fromPng.size());
    for (size_t i = 0; i < fromPng.size(); ++i)
        ASSERT_NEAR(jpegGray[i], fromPng[i], 1) << "pixel " << i;
    EXPECT_EQ(fromPng[0], grayOfRgb(200, 30, 60));
}

TEST(LoadFromBytes, EachFormatAsFromItsFile)
{
    std::vector<uint8_t> samples(50 * 20);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<uint8_t>(i % 50 * 5);
    const Bytes png = encodePng(pngSpec(50, 20, 8, SPNG_COLOR_TYPE_GRAYSCALE), samples.data(), samples.size());
    const morvel::testing::TempDir dir("morvel-png");
    const std::string pngPath = dir.write("ramp.png", png);

    const std::string samplesDir = std::string(MORVEL_SOURCE_DIR) + "/res/samples/";
    for (const std::string& path : {samplesDir + "hills.gif", samplesDir + "sphere.jpg", pngPath}) {
        ImageHandle fromFile = loadPicture(path);
        ASSERT_TRUE(fromFile) << path;
        const auto bytes = readFileBytes(path);
        ASSERT_TRUE(bytes);
        ImageHandle fromBytes = loadPictureFromBytes(bytes->data(), bytes->size());
        ASSERT_TRUE(fromBytes) << path;
        EXPECT_EQ(pixelsOf(*fromBytes), pixelsOf(*fromFile)) << path;
    }
    EXPECT_EQ(pixelsOf(*loadPicture(pngPath)), samples);

    // Asked for colour too: the same gray, and the colour at its size, alike
    // from the file and from its bytes. Colour PNG samples are composed over
    // white as for gray; a gray picture's colour is its gray.
    const uint8_t halfRed[4] = {255, 0, 0, 128};
    const std::string rgbaPath =
        dir.write("red.png", encodePng(pngSpec(1, 1, 8, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA), halfRed, sizeof halfRed));
    LoadOptions withColour;
    withColour.colour = true;
    auto colourOf = [](const ImageRecord& image) {
        EXPECT_EQ(image.header.biBitCount, 24);
        std::vector<uint8_t> out;
        for (int32_t y = 0; y < image.rowCount; ++y)
            out.insert(out.end(), image.rows[y], image.rows[y] + image.header.biWidth * 3);
        return out;
    };
    for (const std::string& path : {samplesDir + "hills.gif", samplesDir + "sphere.jpg", pngPath, rgbaPath}) {
        const LoadResult fromFile = readPicture(path, withColour);
        const auto bytes = readFileBytes(path);
        const LoadResult fromBytes = readPictureFromBytes(bytes->data(), bytes->size(), withColour);
        ASSERT_TRUE(fromFile.gray && fromFile.colour && fromBytes.colour) << path;
        EXPECT_EQ(pixelsOf(*fromFile.gray), pixelsOf(*loadPicture(path))) << path;
        EXPECT_EQ(fromFile.colour->header.biWidth, fromFile.gray->header.biWidth) << path;
        EXPECT_EQ(fromFile.colour->rowCount, fromFile.gray->rowCount) << path;
        EXPECT_EQ(colourOf(*fromFile.colour), colourOf(*fromBytes.colour)) << path;
    }
    const auto rampColour = colourOf(*readPicture(pngPath, withColour).colour);
    for (size_t i = 0; i < samples.size(); ++i)
        ASSERT_TRUE(rampColour[3 * i] == samples[i] && rampColour[3 * i + 2] == samples[i]) << i;
    EXPECT_EQ(colourOf(*readPicture(rgbaPath, withColour).colour), (std::vector<uint8_t>{255, 127, 127}));
    EXPECT_FALSE(readPicture(pngPath).colour);

    const uint8_t junk[] = {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c'};
    EXPECT_FALSE(loadPictureFromBytes(junk, sizeof junk));
    EXPECT_FALSE(loadPictureFromBytes(nullptr, 0));
}

TEST(Orientation, JpegAndPngStandUprightAsTheirExifSays)
{
    // Six flat 8 x 8 blocks stored three wide and two high, A B C / D E F;
    // for each orientation, the blocks of the upright picture row by row.
    const uint8_t levels[6] = {0, 50, 100, 150, 200, 250};
    const auto stored = [&levels](int x, int y) { return levels[y / 8 * 3 + x / 8]; };
    const char* const upright[9] = {"",         "ABC/DEF",  "CBA/FED",  "FED/CBA", "DEF/ABC",
                                    "AD/BE/CF", "DA/EB/FC", "FC/EB/DA", "CF/BE/AD"};
    std::vector<uint8_t> samples(24 * 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x)
            samples[static_cast<size_t>(y * 24 + x)] = stored(x, y);
    struct Case {
        int orientation;
        bool png;
        bool orient;       // what LoadOptions asks
        bool far = false;  // 300 KB of other chunks before the EXIF
    };
    std::vector<Case> cases;
    for (int o = 1; o <= 8; ++o)
        for (bool png : {false, true})
            cases.push_back({o, png, true});
    cases.push_back({6, false, false});
    cases.push_back({8, true, false});
    cases.push_back({6, true, true, true});
    const morvel::testing::TempDir dir("morvel-orientation");
    for (const Case& c : cases) {
        Bytes file;
        if (c.png) {
            PngParams params = pngSpec(24, 16, 8, SPNG_COLOR_TYPE_GRAYSCALE);
            params.exif = exifWithOrientation(c.orientation, true);
            file = encodePng(params, samples.data(), samples.size());
            if (c.far) {
                // A private ancillary chunk between the header and the EXIF.
                Bytes filler{0x00, 0x04, 0x93, 0xE0, 'p', 'r', 'V', 't'};
                filler.resize(filler.size() + 300000 + 4);
                file.insert(file.begin() + 33, filler.begin(), filler.end());
            }
        } else {
            morvel::testing::JpegParams params;
            params.width = 24;
            params.height = 16;
            params.sample = [&stored](int x, int y, int) { return stored(x, y); };
            file = morvel::testing::makeJpeg(params);
            // An APP1 Exif segment right after the start of image.
            const Bytes tiff = exifWithOrientation(c.orientation, false);
            const size_t length = 2 + 6 + tiff.size();
            const std::string header = std::string("\xFF\xE1") + static_cast<char>(length >> 8) +
                                       static_cast<char>(length & 0xFF) + std::string("Exif\0\0", 6);
            Bytes withExif(file.size() + header.size() + tiff.size());
            std::memcpy(withExif.data(), file.data(), 2);
            std::memcpy(withExif.data() + 2, header.data(), header.size());
            std::memcpy(withExif.data() + 2 + header.size(), tiff.data(), tiff.size());
            std::memcpy(withExif.data() + 2 + header.size() + tiff.size(), file.data() + 2, file.size() - 2);
            file = withExif;
        }
        LoadOptions options;
        options.orient = c.orient;
        options.colour = true;  // turned alike
        // From a file for the converter and the window alike.
        const LoadResult loaded = readPicture(dir.write(c.png ? "photo.png" : "photo.jpg", file), options);
        const std::string label = std::to_string(c.orientation) + (c.png ? " png" : " jpeg") +
                                  (c.orient ? "" : " as stored") + (c.far ? " far" : "");
        ASSERT_TRUE(loaded.gray) << label << ": " << loaded.error;
        // The same bytes from standard input stand the same way.
        const LoadResult fromBytes = readPictureFromBytes(file.data(), file.size(), options);
        ASSERT_TRUE(fromBytes.gray) << label;
        EXPECT_EQ(pixelsOf(*fromBytes.gray), pixelsOf(*loaded.gray)) << label;
        const std::string layout = upright[c.orient ? c.orientation : 1];
        const int columns = static_cast<int>(layout.find('/'));
        const int rows = static_cast<int>(layout.size() + 1) / (columns + 1);
        ASSERT_EQ(loaded.gray->header.biWidth, columns * 8) << label;
        ASSERT_EQ(loaded.gray->rowCount, rows * 8) << label;
        for (int by = 0; by < rows; ++by)
            for (int bx = 0; bx < columns; ++bx) {
                const char block = layout[static_cast<size_t>(by * (columns + 1) + bx)];
                EXPECT_NEAR(loaded.gray->rows[by * 8 + 4][bx * 8 + 4], levels[block - 'A'], 4)
                    << label << ": block " << block;
                ASSERT_TRUE(loaded.colour && loaded.colour->header.biWidth == columns * 8) << label;
                EXPECT_NEAR(loaded.colour->rows[by * 8 + 4][(bx * 8 + 4) * 3], levels[block - 'A'], 4)
                    << label << ": colour block " << block;
            }
    }
}
