#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "image/image_record.h"
#include "image/jpeg_reader.h"
#include "image/png_reader.h"
#include "jpeg_writer.h"
#include "test_files.h"

using namespace morvel;

namespace {

using Bytes = std::vector<uint8_t>;
using morvel::testing::JpegParams;
using morvel::testing::makeJpeg;
using morvel::testing::TempDir;

// Offset of the first SOF marker's height field (width follows it).
size_t sofDimensionsOffset(const Bytes& jpeg)
{
    for (size_t i = 2; i + 9 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC1 || jpeg[i + 1] == 0xC2))
            return i + 5;
    return 0;
}

void setDeclaredSize(Bytes& jpeg, int width, int height)
{
    const size_t at = sofDimensionsOffset(jpeg);
    ASSERT_NE(at, 0u);
    jpeg[at] = static_cast<uint8_t>(height >> 8);
    jpeg[at + 1] = static_cast<uint8_t>(height);
    jpeg[at + 2] = static_cast<uint8_t>(width >> 8);
    jpeg[at + 3] = static_cast<uint8_t>(width);
}

class JpegReader : public ::testing::Test {
protected:
    std::string write(const std::string& name, const Bytes& bytes) { return dir_.write(name, bytes); }

    // Reads `path` and returns the result together with the reader's reason
    // (for no picture, or its first warning); nothing may reach stderr.
    ImageHandle readCapturing(const std::string& path, std::string* err)
    {
        ::testing::internal::CaptureStderr();
        ReadError error;
        ImageHandle image = readJpegFile(path, kMaxPixelBytes, &error);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << path;
        EXPECT_EQ(!image, static_cast<bool>(error)) << path;
        *err = image ? error.detail : messageOf(error);
        return image;
    }

    TempDir dir_{"morvel-jpeg"};
};

void expectGrayRecord(const ImageRecord& r, int width, int height)
{
    EXPECT_EQ(r.header.biBitCount, 8);
    EXPECT_EQ(r.header.biWidth, width);
    EXPECT_EQ(r.rowCount, height);
    EXPECT_EQ(r.header.biHeight, -height);
    EXPECT_EQ(r.header.biSize, 40u);
    EXPECT_EQ(r.header.biPlanes, 1);
    EXPECT_EQ(r.header.biCompression, 0u);
    EXPECT_EQ(r.items, nullptr);
    EXPECT_EQ(r.itemCount, 0);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(r.colors[i].rgbRed, i);
        EXPECT_EQ(r.colors[i].rgbGreen, i);
        EXPECT_EQ(r.colors[i].rgbBlue, i);
        EXPECT_EQ(r.colors[i].rgbReserved, 0);
    }
    const int64_t pitch = imageRowPitch(width, 8);
    for (int y = 0; y < height; ++y)
        ASSERT_EQ(r.rows[y], r.pixels + y * pitch) << "row " << y;
}

int rowMean(const ImageRecord& r, int y)
{
    int sum = 0;
    for (int x = 0; x < r.header.biWidth; ++x)
        sum += r.rows[y][x];
    return sum / r.header.biWidth;
}

}  // namespace

TEST_F(JpegReader, GrayPictureLoadsTopDownWithGrayTable)
{
    // Dark at the top, light at the bottom: row 0 of the record must be dark.
    JpegParams params;
    params.width = 24;
    params.height = 40;
    params.sample = [](int, int y, int) { return static_cast<uint8_t>(y * 6); };
    const std::string path = write("ramp.jpg", makeJpeg(params));

    ImageHandle image = readJpegFile(path);
    ASSERT_TRUE(image);
    expectGrayRecord(*image, 24, 40);
    EXPECT_NEAR(rowMean(*image, 0), 0, 3);
    EXPECT_NEAR(rowMean(*image, 39), 234, 3);
    for (int y = 1; y < 40; ++y)
        EXPECT_GT(rowMean(*image, y), rowMean(*image, y - 1)) << "row " << y;
}

TEST_F(JpegReader, ColourPicturesLoadAsTheirLuminance)
{
    // Pure red: luminance 0.299 x 255 = 76, whether the file stores YCbCr
    // (the usual case) or plain RGB, which the library converts to gray too.
    for (J_COLOR_SPACE stored : {JCS_YCbCr, JCS_RGB}) {
        SCOPED_TRACE(stored == JCS_RGB ? "RGB-coded" : "YCbCr");
        JpegParams params;
        params.width = 16;
        params.height = 16;
        params.input = JCS_RGB;
        params.components = 3;
        params.stored = stored;
        params.sample = [](int, int, int c) { return static_cast<uint8_t>(c == 0 ? 255 : 0); };
        const std::string path = write("red.jpg", makeJpeg(params));

        ImageHandle image = readJpegFile(path);
        ASSERT_TRUE(image);
        expectGrayRecord(*image, 16, 16);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                ASSERT_NEAR(image->rows[y][x], 76, 3) << x << "," << y;
    }
}

TEST_F(JpegReader, CmykAndYcckPicturesLoadAsGrayThroughRgb)
{
    // Flat ink levels c, m, y, k as the file stores them. With Adobe's
    // marker they are inverted (255: no ink), so red = c k / 255 and so on;
    // without it, red = (255 - c)(255 - k) / 255. Gray is then the PNG
    // luminance of that colour.
    struct Case {
        J_COLOR_SPACE stored;
        bool adobe;
        uint8_t inks[4];
        uint8_t red, green, blue;
    } cases[] = {
        {JCS_CMYK, true, {200, 100, 50, 180}, 141, 71, 35},
        {JCS_YCCK, true, {200, 100, 50, 180}, 141, 71, 35},
        {JCS_CMYK, false, {200, 100, 50, 180}, 16, 46, 60},
        {JCS_CMYK, true, {255, 255, 255, 255}, 255, 255, 255},
    };
    for (const Case& c : cases) {
        JpegParams params;
        params.width = 16;
        params.height = 16;
        params.input = JCS_CMYK;
        params.components = 4;
        params.stored = c.stored;
        params.adobeMarker = c.adobe;
        params.sample = [&c](int, int, int k) { return c.inks[k]; };
        std::string err;
        ImageHandle image = readCapturing(write("inks.jpg", makeJpeg(params)), &err);
        ASSERT_TRUE(image) << err;
        expectGrayRecord(*image, 16, 16);
        const int gray = grayOfRgb(c.red, c.green, c.blue);
        // Asked for colour, the load gives that colour.
        LoadOptions withColour;
        withColour.colour = true;
        ImageHandle colour = readPicture((dir_.path() / "inks.jpg").string(), withColour).colour;
        ASSERT_TRUE(colour);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                ASSERT_NEAR(image->rows[y][x], gray, 2) << c.stored << " adobe " << c.adobe << " at " << x << "," << y;
                ASSERT_NEAR(colour->rows[y][3 * x], c.red, 2);
                ASSERT_NEAR(colour->rows[y][3 * x + 2], c.blue, 2);
            }
    }
}

TEST_F(JpegReader, RowPitchIsWidthRoundedUpToFourBytes)
{
    const int64_t pitch[] = {4, 4, 4, 4, 8};
    for (int width = 1; width <= 5; ++width) {
        JpegParams params;
        params.width = width;
        params.height = 3;
        const std::string path = write("w" + std::to_string(width) + ".jpg", makeJpeg(params));
        ImageHandle image = readJpegFile(path);
        ASSERT_TRUE(image) << "width " << width;
        EXPECT_EQ(recordPitch(*image), pitch[width - 1]) << "width " << width;
        expectGrayRecord(*image, width, 3);
    }
}

TEST_F(JpegReader, TruncatedFileGivesFullSizePictureAndWarns)
{
    JpegParams params;
    params.width = 64;
    params.height = 64;
    Bytes jpeg = makeJpeg(params);
    jpeg.resize(jpeg.size() / 2);
    const std::string path = write("cut.jpg", jpeg);

    std::string err;
    ImageHandle image = readCapturing(path, &err);
    ASSERT_TRUE(image);
    expectGrayRecord(*image, 64, 64);
    EXPECT_NE(err.find("Premature end of JPEG file"), std::string::npos) << err;
}

TEST_F(JpegReader, FilesThatAreNotJpegGiveNothing)
{
    const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0,    0, 0, 0x2C, 0,
                       0,   0,   0,   1,   0,   1,   0, 0, 2, 2, 0x4C, 1, 0, 0x3B};
    const std::string text = "just some words\n";
    struct Case {
        const char* name;
        Bytes bytes;
        const char* message;
    } cases[] = {
        {"picture.gif", gif, "Not a JPEG file"},
        {"notes.txt", Bytes(text.begin(), text.end()), "Not a JPEG file"},
        {"empty.jpg", Bytes{}, "Empty input file"},
        {"marker-only.jpg", Bytes{0xFF, 0xD8}, ""},
    };
    for (const Case& c : cases) {
        std::string err;
        EXPECT_FALSE(readCapturing(write(c.name, c.bytes), &err)) << c.name;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.name << ": " << err;
    }
}

TEST_F(JpegReader, PathsThatAreNotRegularFilesGiveNothing)
{
    const std::string missing = (dir_.path() / "no-such-file.jpg").string();
    std::string err;
    EXPECT_FALSE(readCapturing(missing, &err));
    EXPECT_EQ(err, "No such file or directory");

    EXPECT_FALSE(readCapturing(dir_.path().string(), &err));
    EXPECT_FALSE(readCapturing("", &err));

    // A pipe would block an ordinary open until a writer comes.
    const std::string fifo = (dir_.path() / "pipe.jpg").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(readCapturing(fifo, &err));
}

TEST_F(JpegReader, HugeDeclaredSizesAreRefusedWithoutDecoding)
{
    using Clock = std::chrono::steady_clock;
    // 65535 x 65535 is past the library's own limit; 40000 x 40000 fits the
    // library but its pixel block (1.6 GB) passes the record's limit; a
    // progressive 30000 x 30000 fits the record but its coefficient store
    // (1.8 GB) passes the library's memory cap.
    struct Case {
        int width, height;
        bool progressive;
        const char* reason;
    } cases[] = {{65535, 65535, false, "damaged JPEG data (Maximum supported image dimension is 65500 pixels)"},
                 {40000, 40000, false, "picture larger than the 1 GiB limit"},
                 {30000, 30000, true, "JPEG picture too large to decode in 256 MiB"}};
    for (const Case& c : cases) {
        JpegParams params;
        params.progressive = c.progressive;
        Bytes jpeg = makeJpeg(params);
        setDeclaredSize(jpeg, c.width, c.height);
        const std::string path = write("huge.jpg", jpeg);
        std::string err;
        const auto start = Clock::now();
        EXPECT_FALSE(readCapturing(path, &err)) << c.width << " x " << c.height;
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << c.width << " x " << c.height;
        EXPECT_EQ(err, c.reason);
    }
}

TEST_F(JpegReader, ErrorAfterTheLastRowStillGivesNothing)
{
    // A second frame header after the scan is only met by
    // jpeg_finish_decompress, once every row has been delivered.
    JpegParams params;
    Bytes jpeg = makeJpeg(params);
    const size_t sof = sofDimensionsOffset(jpeg) - 5;
    const size_t sofLength = static_cast<size_t>(jpeg[sof + 2] << 8 | jpeg[sof + 3]) + 2;
    ASSERT_EQ(jpeg[jpeg.size() - 2], 0xFF);
    ASSERT_EQ(jpeg[jpeg.size() - 1], 0xD9);
    Bytes damaged(jpeg.begin(), jpeg.end() - 2);
    damaged.insert(damaged.end(), jpeg.begin() + static_cast<long>(sof),
                   jpeg.begin() + static_cast<long>(sof + sofLength));
    damaged.push_back(0xFF);
    damaged.push_back(0xD9);

    ASSERT_TRUE(readJpegFile(write("good.jpg", jpeg)));
    std::string err;
    EXPECT_FALSE(readCapturing(write("two-frames.jpg", damaged), &err));
    EXPECT_NE(err.find("Invalid JPEG file structure"), std::string::npos) << err;
}

TEST_F(JpegReader, ProgressiveFileWithTooManyScansIsRefused)
{
    // A valid but absurd progression: every coefficient band in its own scan,
    // refined one bit at a time (704 scans).
    std::vector<jpeg_scan_info> scans;
    auto scan = [&](int ss, int se, int ah, int al) {
        jpeg_scan_info s{};
        s.comps_in_scan = 1;
        s.component_index[0] = 0;
        s.Ss = ss;
        s.Se = se;
        s.Ah = ah;
        s.Al = al;
        scans.push_back(s);
    };
    scan(0, 0, 0, 10);
    for (int al = 9; al >= 0; --al)
        scan(0, 0, al + 1, al);
    for (int k = 1; k < 64; ++k) {
        scan(k, k, 0, 10);
        for (int al = 9; al >= 0; --al)
            scan(k, k, al + 1, al);
    }
    JpegParams params;
    const std::string path = write("many-scans.jpg", makeJpeg(params, scans.data(), static_cast<int>(scans.size())));
    std::string err;
    EXPECT_FALSE(readCapturing(path, &err));
    EXPECT_NE(err.find("more than 500 scans"), std::string::npos) << err;

    // The same picture with an ordinary progression loads.
    params.progressive = true;
    EXPECT_TRUE(readJpegFile(write("progressive.jpg", makeJpeg(params))));
}

// The reader must deliver exactly what the library's own command-line
// decoder gives for grayscale output.
TEST_F(JpegReader, DecodesToTheSameBytesAsDjpeg)
{
    if (std::system("command -v djpeg >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "djpeg is not installed";

    std::vector<std::string> pictures;
    auto noise = [](int x, int y, int c) {
        const unsigned h = static_cast<unsigned>(x) * 73856093u ^ static_cast<unsigned>(y) * 19349663u ^
                           static_cast<unsigned>(c) * 83492791u;
        return static_cast<uint8_t>(((x * 5 + y * 3 + c * 60) & 0xFF) ^ (h & 0x1F));
    };
    {
        JpegParams params;
        params.width = 37;
        params.height = 23;
        params.sample = noise;
        params.quality = 85;
        pictures.push_back(write("gray.jpg", makeJpeg(params)));
        params.input = JCS_RGB;
        params.components = 3;
        pictures.push_back(write("colour.jpg", makeJpeg(params)));
        params.progressive = true;
        params.width = 101;
        params.height = 67;
        pictures.push_back(write("progressive.jpg", makeJpeg(params)));
        params.progressive = false;
        params.stored = JCS_RGB;
        pictures.push_back(write("rgb.jpg", makeJpeg(params)));
    }
    // A photo-like picture from ImageMagick, when it is there.
    const std::string plasma = (dir_.path() / "plasma.jpg").string();
    if (std::system(
            ("convert -seed 7 -size 120x90 plasma:red-blue -blur 0x1 -quality 80 " + plasma + " >/dev/null 2>&1")
                .c_str()) == 0)
        pictures.push_back(plasma);

    for (const std::string& path : pictures) {
        SCOPED_TRACE(path);
        const std::string pgm = path + ".pgm";
        ASSERT_EQ(std::system(("djpeg -grayscale -pnm -outfile " + pgm + " " + path).c_str()), 0);
        std::ifstream in(pgm, std::ios::binary);
        std::string magic;
        int width = 0, height = 0, maxval = 0;
        in >> magic >> width >> height >> maxval;
        in.get();
        ASSERT_EQ(magic, "P5");
        ASSERT_EQ(maxval, 255);
        std::vector<char> expected(static_cast<size_t>(width) * static_cast<size_t>(height));
        in.read(expected.data(), static_cast<std::streamsize>(expected.size()));
        ASSERT_TRUE(in);

        ImageHandle image = readJpegFile(path);
        ASSERT_TRUE(image);
        ASSERT_EQ(image->header.biWidth, width);
        ASSERT_EQ(image->rowCount, height);
        for (int y = 0; y < height; ++y)
            ASSERT_EQ(std::memcmp(image->rows[y], expected.data() + static_cast<size_t>(y) * static_cast<size_t>(width),
                                  static_cast<size_t>(width)),
                      0)
                << "row " << y;
        // Asked for colour, the load gives the colours djpeg gives for RGB
        // output.
        if (path.find("gray.jpg") != std::string::npos)
            continue;
        LoadOptions withColour;
        withColour.colour = true;
        ImageHandle colour = readPicture(path, withColour).colour;
        ASSERT_TRUE(colour);
        ASSERT_EQ(std::system(("djpeg -pnm -outfile " + pgm + " " + path).c_str()), 0);
        std::ifstream ppm(pgm, std::ios::binary);
        ppm >> magic >> width >> height >> maxval;
        ppm.get();
        ASSERT_EQ(magic, "P6");
        std::vector<char> rgbExpected(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
        ppm.read(rgbExpected.data(), static_cast<std::streamsize>(rgbExpected.size()));
        ASSERT_TRUE(ppm);
        ASSERT_EQ(colour->header.biBitCount, 24);
        for (int y = 0; y < height; ++y)
            ASSERT_EQ(std::memcmp(colour->rows[y], rgbExpected.data() + static_cast<size_t>(y) * width * 3,
                                  static_cast<size_t>(width) * 3),
                      0)
                << "colour row " << y;
        // Gray and colour from one decode (YCbCr or RGB taken apart): the
        // same bytes.
        const LoadResult both = readPicture(path, withColour);
        ASSERT_TRUE(both.gray && both.colour);
        for (int y = 0; y < height; ++y) {
            ASSERT_EQ(std::memcmp(both.gray->rows[y], expected.data() + static_cast<size_t>(y) * width,
                                  static_cast<size_t>(width)),
                      0)
                << "gray row " << y;
            ASSERT_EQ(std::memcmp(both.colour->rows[y], rgbExpected.data() + static_cast<size_t>(y) * width * 3,
                                  static_cast<size_t>(width) * 3),
                      0)
                << "one-decode colour row " << y;
        }
    }
}
