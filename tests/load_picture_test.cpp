#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/image_record.h"
#include "image/jpeg_reader.h"
#include "image/load_picture.h"
#include "jpeg_writer.h"
#include "test_files.h"

using namespace morvel;

namespace {

using Bytes = std::vector<uint8_t>;

// LZW codes packed least significant bit first, `width` bits each.
Bytes packCodes(const std::vector<int>& codes, int width)
{
    Bytes out;
    uint32_t acc = 0;
    int bits = 0;
    for (int code : codes) {
        acc |= static_cast<uint32_t>(code) << bits;
        bits += width;
        while (bits >= 8) {
            out.push_back(static_cast<uint8_t>(acc));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0)
        out.push_back(static_cast<uint8_t>(acc));
    return out;
}

// A 2 x 2 GIF with the two-colour table (100,0,0), (0,200,0) and pixels
// 0 1 / 1 0. A clear code before every pixel keeps all codes 3 bits wide.
Bytes tinyGif()
{
    Bytes gif = {'G', 'I', 'F', '8', '9',  'a', 2, 0, 2, 0, 0x80, 0, 0, 100, 0,
                 0,   0,   200, 0,   0x2C, 0,   0, 0, 0, 2, 0,    2, 0, 0,   2};
    const Bytes data = packCodes({4, 0, 4, 1, 4, 1, 4, 0, 5}, 3);
    gif.push_back(static_cast<uint8_t>(data.size()));
    gif.insert(gif.end(), data.begin(), data.end());
    gif.push_back(0);
    gif.push_back(0x3B);
    return gif;
}

// A 32 x 8 gray JPEG holding every level 0 to 255 once.
Bytes rampJpeg()
{
    morvel::testing::JpegParams params;
    params.width = 32;
    params.height = 8;
    params.sample = [](int x, int y, int) { return static_cast<uint8_t>(x * 8 + y); };
    return morvel::testing::makeJpeg(params);
}

class LoadPicture : public ::testing::Test {
protected:
    std::string write(const std::string& name, const Bytes& bytes) { return dir_.write(name, bytes); }

    morvel::testing::TempDir dir_{"morvel-load"};
};

void expectGrayRamp(const ImageRecord& image)
{
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(image.colors[i].rgbRed, i);
        ASSERT_EQ(image.colors[i].rgbGreen, i);
        ASSERT_EQ(image.colors[i].rgbBlue, i);
    }
}

}  // namespace

TEST_F(LoadPicture, GifIsConvertedToGray)
{
    ImageHandle image = loadPicture(write("tiny.gif", tinyGif()));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->header.biBitCount, 8);
    EXPECT_EQ(image->header.biWidth, 2);
    EXPECT_EQ(image->rowCount, 2);
    expectGrayRamp(*image);
    // Magnitudes 100 and 200 over the unfilled black entries: 127 and 255.
    EXPECT_EQ(image->rows[0][0], 127);
    EXPECT_EQ(image->rows[0][1], 255);
    EXPECT_EQ(image->rows[1][0], 255);
    EXPECT_EQ(image->rows[1][1], 127);
}

TEST_F(LoadPicture, JpegIsHandedOverAsDecoded)
{
    // Passing a gray picture through the palette conversion would move many
    // levels by one (level 2 becomes 1, 3 becomes 2, ...): the loader must
    // give exactly what the JPEG reader gives.
    const std::string path = write("ramp.jpg", rampJpeg());
    ImageHandle image = loadPicture(path);
    ImageHandle direct = readJpegFile(path);
    ASSERT_TRUE(image);
    ASSERT_TRUE(direct);
    EXPECT_EQ(image->header.biWidth, 32);
    EXPECT_EQ(image->rowCount, 8);
    expectGrayRamp(*image);
    for (int y = 0; y < 8; ++y)
        ASSERT_EQ(std::memcmp(image->rows[y], direct->rows[y], 32), 0) << "row " << y;
}

TEST_F(LoadPicture, UnreadableFilesGiveNothing)
{
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(loadPicture((dir_.path() / "missing.gif").string()));
    EXPECT_FALSE(loadPicture(write("words.txt", Bytes{'h', 'e', 'l', 'l', 'o', '\n'})));
    Bytes brokenGif = tinyGif();
    brokenGif.resize(12);
    EXPECT_FALSE(loadPicture(write("broken.gif", brokenGif)));
    EXPECT_FALSE(loadPicture(dir_.path().string()));
    ::testing::internal::GetCapturedStderr();
}

TEST(DisplayName, IsTheTextAfterTheLastSlash)
{
    EXPECT_EQ(displayNameOf("/home/ann/pictures/cat.gif"), "cat.gif");
    EXPECT_EQ(displayNameOf("pictures/cat.jpg"), "cat.jpg");
    EXPECT_EQ(displayNameOf("cat.jpg"), "cat.jpg");
    EXPECT_EQ(displayNameOf("/cat.jpg"), "cat.jpg");
    EXPECT_EQ(displayNameOf("dir/"), "");
    EXPECT_EQ(displayNameOf(""), "");
    // Only '/' separates here; a backslash is part of the name.
    EXPECT_EQ(displayNameOf("a/b\\c.gif"), "b\\c.gif");
}
