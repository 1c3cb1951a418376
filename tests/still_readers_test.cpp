// The WebP, HEIF (HEIC and AVIF), TIFF and BMP readers against the formats'
// own decoders: fixtures are made at test time with the distribution's
// encoders, and each library's command-line decoder (dwebp, heif-convert,
// tiff2rgba, ImageMagick for BMP) writes a PNG that the PNG reader turns
// into the expected gray and colour (the same weights, the same composition
// over white). Each fixture also checks: shrinking while decoding, the size
// limit, a cut-off file and, where the format keeps one, the orientation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image/bmp_reader.h"
#include "image/file_bytes.h"
#include "image/heif_items.h"
#include "image/heif_library.h"
#include "image/heif_reader.h"
#include "image/load_picture.h"
#include "image/orientation.h"
#include "image/picture_transform.h"
#include "image/tiff_library.h"
#include "image/tiff_reader.h"
#include "image/webp_reader.h"
#include "test_files.h"

using namespace morvel;

namespace {

using Bytes = std::vector<uint8_t>;
using morvel::testing::readFile;
using morvel::testing::TempDir;

constexpr int32_t kWidth = 37;
constexpr int32_t kHeight = 23;
// The size the shrink asks for.
constexpr PictureSize kSmall{12, 7};

// Runs `command` in `dir`; true when it succeeded.
bool run(const TempDir& dir, const std::string& command)
{
    const std::string line = "cd '" + dir.path().string() + "' && " + command + " >/dev/null 2>&1";
    return std::system(line.c_str()) == 0;
}

bool haveTools()
{
    return std::system("for t in cwebp dwebp webpmux heif-enc heif-convert tiff2rgba convert; do "
                       "command -v $t >/dev/null || exit 1; done") == 0;
}

// src.png (opaque) and srca.png (with graded alpha): colour ramps across and
// down, kWidth x kHeight, written as a PAM and converted.
bool makeSources(const TempDir& dir)
{
    std::string pam = "P7\nWIDTH " + std::to_string(kWidth) + "\nHEIGHT " + std::to_string(kHeight) +
                      "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            pam += static_cast<char>(x * 255 / (kWidth - 1));
            pam += static_cast<char>(y * 255 / (kHeight - 1));
            pam += static_cast<char>((x * 7 + y * 13) % 256);
            pam += static_cast<char>(x < 4 ? 0 : (x * 11 + y * 5) % 256);
        }
    }
    dir.write("src.pam", Bytes(pam.begin(), pam.end()));
    return run(dir, "convert src.pam -alpha off src.png && convert src.pam srca.png");
}

using Decode = std::function<ImageHandle(const Bytes&, int64_t, ReadError*, const LoadOptions&, ImageHandle*)>;

template <ImageHandle (*Reader)(const uint8_t*, size_t, int64_t, ReadError*, const LoadOptions&, ImageHandle*)>
Decode reader()
{
    return [](const Bytes& b, int64_t limit, ReadError* why, const LoadOptions& options, ImageHandle* colour) {
        return Reader(b.data(), b.size(), limit, why, options, colour);
    };
}

struct ReaderCase {
    const char* file;
    const char* make;    // makes `file` from src.png or srca.png
    const char* oracle;  // the format's own decoder: `file` to oracle.png
    const char* small;   // its decode at kSmall to small.png; none: the whole picture shrunk
    int tolerance;       // levels the reader may differ by (colour multiplied by alpha first)
    Decode decode;
};

#define TIFF_ORACLE(f) "tiff2rgba -c none " f " rgba.tif && convert rgba.tif oracle.png"

const ReaderCase kCases[] = {
    {"lossy.webp", "cwebp -quiet -q 70 src.png -o lossy.webp", "dwebp -quiet lossy.webp -o oracle.png",
     "dwebp -quiet -scale 12 7 lossy.webp -o small.png", 0, reader<decodeWebp>()},
    {"alpha.webp", "cwebp -quiet -lossless srca.png -o alpha.webp", "dwebp -quiet alpha.webp -o oracle.png",
     "dwebp -quiet -scale 12 7 alpha.webp -o small.png", 0, reader<decodeWebp>()},
    {"photo.heic", "heif-enc -q 60 src.png -o photo.heic", "heif-convert photo.heic oracle.png", nullptr, 0,
     reader<decodeHeif>()},
    {"alpha.avif", "heif-enc -A -q 60 srca.png -o alpha.avif", "heif-convert alpha.avif oracle.png", nullptr, 0,
     reader<decodeHeif>()},
    {"lzw.tif", "convert src.png -compress lzw lzw.tif", TIFF_ORACLE("lzw.tif"), nullptr, 0, reader<decodeTiff>()},
    {"tiled.tif", "convert src.png -compress zip -define tiff:tile-geometry=16x16 tiled.tif", TIFF_ORACLE("tiled.tif"),
     nullptr, 0, reader<decodeTiff>()},
    {"gray.tif", "convert src.png -colorspace gray gray.tif", TIFF_ORACLE("gray.tif"), nullptr, 0,
     reader<decodeTiff>()},
    {"palette.tif", "convert src.png -colors 16 -compress rle palette.tif", TIFF_ORACLE("palette.tif"), nullptr, 0,
     reader<decodeTiff>()},
    {"deep.tif", "convert src.png -depth 16 deep.tif", TIFF_ORACLE("deep.tif"), nullptr, 0, reader<decodeTiff>()},
    {"jpeg.tif", "convert src.png -compress jpeg jpeg.tif", TIFF_ORACLE("jpeg.tif"), nullptr, 0, reader<decodeTiff>()},
    {"alpha.tif", "convert srca.png alpha.tif", TIFF_ORACLE("alpha.tif"), nullptr, 1, reader<decodeTiff>()},
    {"rgb.bmp", "convert src.png bmp3:rgb.bmp", "convert rgb.bmp oracle.png", nullptr, 0, reader<decodeBmp>()},
    {"core.bmp", "convert src.png bmp2:core.bmp", "convert core.bmp oracle.png", nullptr, 0, reader<decodeBmp>()},
    {"pal8.bmp", "convert src.png -colors 200 -compress none bmp3:pal8.bmp", "convert pal8.bmp oracle.png", nullptr, 0,
     reader<decodeBmp>()},
    {"rle8.bmp", "convert src.png -colors 200 -compress rle bmp3:rle8.bmp", "convert rle8.bmp oracle.png", nullptr, 0,
     reader<decodeBmp>()},
    {"pal4.bmp", "convert src.png -colors 12 -compress none bmp3:pal4.bmp", "convert pal4.bmp oracle.png", nullptr, 0,
     reader<decodeBmp>()},
    {"mono.bmp", "convert src.png -monochrome bmp3:mono.bmp", "convert mono.bmp oracle.png", nullptr, 0,
     reader<decodeBmp>()},
    {"alpha.bmp", "convert srca.png bmp:alpha.bmp", "convert alpha.bmp oracle.png", nullptr, 0, reader<decodeBmp>()},
    // Written by hand: RLE4 with a skip (delta) and an end of line; a top-down
    // V5 bitmap with an alpha mask.
    {"rle4.bmp", "cp " MORVEL_TEST_DATA "/bmp/rle4.bmp .", "convert rle4.bmp oracle.png", nullptr, 0,
     reader<decodeBmp>()},
    {"topdown-alpha.bmp", "cp " MORVEL_TEST_DATA "/bmp/topdown-alpha.bmp .", "convert topdown-alpha.bmp oracle.png",
     nullptr, 0, reader<decodeBmp>()},
};

// The largest difference between two pictures of the same size and depth;
// 256 when their sizes or depths differ.
int difference(const ImageRecord& a, const ImageRecord& b)
{
    if (a.header.biWidth != b.header.biWidth || a.rowCount != b.rowCount || a.header.biBitCount != b.header.biBitCount)
        return 256;
    const int32_t samples = a.header.biWidth * (a.header.biBitCount / 8);
    int most = 0;
    for (int32_t y = 0; y < a.rowCount; ++y)
        for (int32_t x = 0; x < samples; ++x)
            most = std::max(most, std::abs(a.rows[y][x] - b.rows[y][x]));
    return most;
}

LoadOptions colourOptions()
{
    LoadOptions options;
    options.colour = true;
    options.orient = false;
    return options;
}

TEST(StillReaders, AgreeWithTheFormatsOwnDecoders)
{
    if (!haveTools())
        GTEST_SKIP() << "an encoder or decoder of the formats is not installed";
    TempDir dir;
    ASSERT_TRUE(makeSources(dir));
    for (const ReaderCase& c : kCases) {
        SCOPED_TRACE(c.file);
        ASSERT_TRUE(run(dir, c.make));
        ASSERT_TRUE(run(dir, c.oracle));
        const Bytes bytes = readFile(dir.path() / c.file);
        const LoadResult expected = readPicture((dir.path() / "oracle.png").string(), colourOptions());
        ASSERT_TRUE(expected.gray && expected.colour);

        // Gray and colour, from one decode.
        ImageHandle colour;
        ReadError why;
        const ImageHandle gray = c.decode(bytes, kMaxPixelBytes, &why, colourOptions(), &colour);
        ASSERT_TRUE(gray) << messageOf(why);
        ASSERT_TRUE(colour);
        EXPECT_LE(difference(*gray, *expected.gray), c.tolerance);
        EXPECT_LE(difference(*colour, *expected.colour), c.tolerance);

        // Transparent parts over another background, as the PNG reader
        // lays them.
        LoadOptions dark = colourOptions();
        dark.background = RgbColour{0, 0, 64};
        const LoadResult expectedDark = readPicture((dir.path() / "oracle.png").string(), dark);
        ImageHandle darkColour;
        const ImageHandle darkGray = c.decode(bytes, kMaxPixelBytes, &why, dark, &darkColour);
        ASSERT_TRUE(darkGray && darkColour && expectedDark.gray && expectedDark.colour);
        EXPECT_LE(difference(*darkGray, *expectedDark.gray), c.tolerance);
        EXPECT_LE(difference(*darkColour, *expectedDark.colour), c.tolerance);

        // Found by its signature: the load sequence gives the same.
        const LoadResult loaded = readPicture((dir.path() / c.file).string(), colourOptions());
        ASSERT_TRUE(loaded.gray) << loaded.error;
        EXPECT_EQ(difference(*loaded.gray, *gray), 0);
        EXPECT_EQ(difference(*loaded.colour, *colour), 0);

        // Shrunk while decoding: the library's own scaled decode, or the
        // whole picture shrunk.
        LoadOptions fit = colourOptions();
        fit.fit = [](int32_t, int32_t) { return std::optional<PictureSize>(kSmall); };
        ImageHandle smallColour;
        const ImageHandle small = c.decode(bytes, kMaxPixelBytes, &why, fit, &smallColour);
        ASSERT_TRUE(small && smallColour);
        if (c.small != nullptr) {
            ASSERT_TRUE(run(dir, c.small));
            const LoadResult scaled = readPicture((dir.path() / "small.png").string(), colourOptions());
            ASSERT_TRUE(scaled.gray && scaled.colour);
            EXPECT_EQ(difference(*small, *scaled.gray), 0);
            EXPECT_EQ(difference(*smallColour, *scaled.colour), 0);
        } else {
            EXPECT_EQ(difference(*small, *resizeGray(*gray, kSmall.width, kSmall.height)), 0);
        }

        // The limit refuses the picture before decoding; a cut-off file
        // gives a one-line reason naming the format's damage.
        EXPECT_FALSE(c.decode(bytes, 16, &why, {}, nullptr));
        EXPECT_EQ(why.failure, ReadFailure::TooLarge);
        const Bytes cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2));
        const LoadResult damaged = readPictureFromBytes(cut.data(), cut.size());
        EXPECT_FALSE(damaged.gray);
        EXPECT_EQ(damaged.error.rfind("damaged ", 0), 0u) << damaged.error;
        EXPECT_EQ(damaged.error.find('\n'), std::string::npos);
    }
}

// The orientation a WebP keeps in its EXIF chunk and a TIFF in its tag turns
// the picture upright, sizes asked for upright.
TEST(StillReaders, TurnUprightByTheStoredOrientation)
{
    if (!haveTools())
        GTEST_SKIP() << "an encoder or decoder of the formats is not installed";
    TempDir dir;
    ASSERT_TRUE(makeSources(dir));
    // A little-endian TIFF structure whose one entry is Orientation 6.
    const Bytes exif = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 1, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};
    dir.write("exif.bin", exif);
    ASSERT_TRUE(run(dir, "cwebp -quiet -q 70 src.png -o plain.webp && "
                         "webpmux -set exif exif.bin plain.webp -o turned.webp && "
                         "convert src.png -orient RightTop turned.tif"));
    for (const char* file : {"turned.webp", "turned.tif"}) {
        SCOPED_TRACE(file);
        const std::string path = (dir.path() / file).string();
        LoadOptions stored;
        stored.orient = false;
        const LoadResult asStored = readPicture(path, stored);
        ASSERT_TRUE(asStored.gray) << asStored.error;
        LoadOptions upright;
        upright.fit = [](int32_t width, int32_t height) {
            EXPECT_EQ(width, kHeight);
            EXPECT_EQ(height, kWidth);
            return std::optional<PictureSize>(PictureSize{width, height});
        };
        const LoadResult turned = readPicture(path, upright);
        ASSERT_TRUE(turned.gray) << turned.error;
        EXPECT_EQ(difference(*turned.gray, *turnUpright(*asStored.gray, 6)), 0);
    }
}

// HEIF files are told apart without libheif, by their major or a compatible
// brand; libheif and libtiff are opened by name, and one that cannot be
// opened is a reason for a message, not a crash.
TEST(StillReaders, HeifIsKnownByItsBrandsAndDecodingLibrariesAreOpenedOnDemand)
{
    const auto ftyp = [](const char* major, const char* compatible) {
        Bytes box = {0, 0, 0, 24, 'f', 't', 'y', 'p'};
        box.insert(box.end(), major, major + 4);
        box.insert(box.end(), {0, 0, 0, 0});
        box.insert(box.end(), compatible, compatible + 8);
        return box;
    };
    EXPECT_TRUE(hasHeifSignature(ftyp("avif", "isommp41").data(), 24));
    EXPECT_TRUE(hasHeifSignature(ftyp("isom", "mp41mif1").data(), 24));
    EXPECT_FALSE(hasHeifSignature(ftyp("isom", "mp41mp42").data(), 24));
    EXPECT_FALSE(hasHeifSignature(ftyp("isom", "mp41mif1").data(), 20));  // the brand is cut off

    // The primary item's type, from pitm and the iinf entries, before any
    // decoding; an overlay is refused without the library allocating its
    // canvas.
    const auto box = [](const char* type, Bytes body) {
        Bytes out = {0, 0, 0, static_cast<uint8_t>(8 + body.size())};
        out.insert(out.end(), type, type + 4);
        out.insert(out.end(), body.begin(), body.end());
        return out;
    };
    const auto withPrimary = [&](const char* type, size_t cut) {
        Bytes infe = {2, 0, 0, 0, 0, 7, 0, 0};
        infe.insert(infe.end(), type, type + 4);
        Bytes iinf = {0, 0, 0, 0, 0, 1};
        const Bytes infeBox = box("infe", infe);
        iinf.insert(iinf.end(), infeBox.begin(), infeBox.end());
        Bytes meta = {0, 0, 0, 0};
        for (const Bytes& child : {box("pitm", {0, 0, 0, 0, 0, 7}), box("iinf", iinf)})
            meta.insert(meta.end(), child.begin(), child.end());
        Bytes file = ftyp("avif", "mif1miaf");
        const Bytes metaBox = box("meta", meta);
        file.insert(file.end(), metaBox.begin(), metaBox.end());
        file.resize(file.size() - cut);
        return file;
    };
    EXPECT_EQ(heifPrimaryItemType(withPrimary("av01", 0).data(), withPrimary("av01", 0).size()), "av01");
    EXPECT_EQ(heifPrimaryItemType(withPrimary("iovl", 0).data(), withPrimary("iovl", 0).size()), "iovl");
    EXPECT_EQ(heifPrimaryItemType(withPrimary("iovl", 1).data(), withPrimary("iovl", 1).size()), std::nullopt);
    const Bytes overlay = withPrimary("iovl", 0);
    ReadError refused;
    EXPECT_FALSE(decodeHeif(overlay.data(), overlay.size(), kMaxPixelBytes, &refused));
    EXPECT_EQ(messageOf(refused), "unsupported HEIF overlay picture");

    std::string why;
    EXPECT_FALSE(openHeifLibrary("libmorvel-absent.so.1", why));
    EXPECT_NE(why.find("libmorvel-absent.so.1"), std::string::npos) << why;
    EXPECT_EQ(
        messageOf({ReadFailure::NotInstalled, PictureFormat::Heif, why}).rfind("HEIF support is not installed (", 0),
        0u);
    EXPECT_TRUE(openHeifLibrary(kHeifLibraryName, why)) << why;
    EXPECT_FALSE(openTiffLibrary("libmorvel-absent.so.6", why));
    EXPECT_NE(why.find("libmorvel-absent.so.6"), std::string::npos) << why;
    EXPECT_TRUE(openTiffLibrary(kTiffLibraryName, why)) << why;
}

}  // namespace
