// Scaling and inverting gray pictures.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "image/image_record.h"
#include "image/picture_transform.h"

using namespace morvel;

namespace {

ImageHandle checkerboard(int32_t width, int32_t height)
{
    ImageHandle image = makeGrayImage(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            image->rows[y][x] = (x + y) % 2 == 0 ? 0 : 255;
    return image;
}

}  // namespace

TEST(ResizeGray, FineCheckerboardShrinksToMidGray)
{
    // Every new pixel is the mean of the pixels under it, never a sample of
    // one black or white square: exactly mid-gray at a whole ratio, and close
    // to it at fractional ones, where a box of 3.2 x 3.2 pixels cannot hold
    // the two levels in equal shares.
    const ImageHandle board = checkerboard(800, 600);
    struct Case {
        int32_t width, height, tolerance;
    };
    for (const Case& c : {Case{400, 300, 1}, Case{100, 75, 1}, Case{97, 73, 10}, Case{250, 187, 10}, Case{9, 7, 3}}) {
        ImageHandle small = resizeGray(*board, c.width, c.height);
        ASSERT_TRUE(small) << c.width << " x " << c.height;
        ASSERT_EQ(small->header.biWidth, c.width);
        ASSERT_EQ(small->rowCount, c.height);
        EXPECT_EQ(small->colors[77].rgbGreen, 77);
        int lo = 255, hi = 0;
        for (int32_t y = 0; y < c.height; ++y)
            for (int32_t x = 0; x < c.width; ++x) {
                lo = std::min<int>(lo, small->rows[y][x]);
                hi = std::max<int>(hi, small->rows[y][x]);
            }
        EXPECT_GE(lo, 127 - c.tolerance) << c.width << " x " << c.height;
        EXPECT_LE(hi, 128 + c.tolerance) << c.width << " x " << c.height;
    }
}

TEST(ResizeGray, EnlargingInterpolatesWithinTheSourceLevels)
{
    ImageHandle two = makeGrayImage(2, 1);
    two->rows[0][0] = 20;
    two->rows[0][1] = 220;
    ImageHandle wide = resizeGray(*two, 40, 3);
    ASSERT_TRUE(wide);
    for (int32_t y = 0; y < 3; ++y) {
        EXPECT_EQ(wide->rows[y][0], 20);
        EXPECT_EQ(wide->rows[y][39], 220);
        for (int32_t x = 1; x < 40; ++x)
            ASSERT_GE(wide->rows[y][x], wide->rows[y][x - 1]) << "not monotone at " << x;
    }
    EXPECT_GT(wide->rows[0][20], 60);
    EXPECT_LT(wide->rows[0][20], 180);
}

TEST(ResizeGray, RefusesWhatCannotBeMade)
{
    const ImageHandle board = checkerboard(8, 8);
    EXPECT_FALSE(resizeGray(*board, 0, 5));
    EXPECT_FALSE(resizeGray(*board, 5, -1));
    EXPECT_FALSE(resizeGray(*board, 40000, 40000));  // past kMaxPixelBytes
    ImageHandle colour(createImageRecord());
    ASSERT_TRUE(shapeImageRecord(colour.get(), 4, 4, 24));
    EXPECT_FALSE(resizeGray(*colour, 2, 2));
}

TEST(ExtendGray, EdgesRepeatedRightAndBelow)
{
    ImageHandle image = makeGrayImage(2, 2);
    image->rows[0][0] = 1;
    image->rows[0][1] = 2;
    image->rows[1][0] = 3;
    image->rows[1][1] = 4;
    ImageHandle extended = extendGray(*image, 5, 4);
    ASSERT_TRUE(extended);
    const uint8_t expected[4][5] = {{1, 2, 2, 2, 2}, {3, 4, 4, 4, 4}, {3, 4, 4, 4, 4}, {3, 4, 4, 4, 4}};
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 5; ++x)
            EXPECT_EQ(extended->rows[y][x], expected[y][x]) << x << ", " << y;
    // Fill bytes up to the pitch of 8 are zero, in the extended picture and
    // in a scaled one, so that the whole block is defined.
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 5; x < 8; ++x)
            EXPECT_EQ(extended->rows[y][x], 0);
    ImageHandle scaled = resizeGray(*extended, 3, 3);
    ASSERT_TRUE(scaled);
    for (int32_t y = 0; y < 3; ++y)
        EXPECT_EQ(scaled->rows[y][3], 0);
    EXPECT_FALSE(extendGray(*image, 1, 4));
    EXPECT_FALSE(extendGray(*image, 40000, 40000));
}

TEST(FitGray, IsExtendOfResizeInOneBlock)
{
    const ImageHandle board = checkerboard(37, 23);
    struct Case {
        int32_t width, height, canvasWidth, canvasHeight;
    };
    for (const Case& c :
         {Case{37, 23, 45, 40}, Case{111, 69, 118, 80}, Case{9, 5, 9, 5}, Case{5, 3, 13, 21}, Case{1, 1, 2, 2}}) {
        ImageHandle fitted = fitGray(*board, c.width, c.height, c.canvasWidth, c.canvasHeight);
        ImageHandle scaled = resizeGray(*board, c.width, c.height);
        ImageHandle plain = scaled ? extendGray(*scaled, c.canvasWidth, c.canvasHeight) : nullptr;
        ASSERT_TRUE(fitted && plain) << c.width << " x " << c.height;
        ASSERT_EQ(recordPitch(*fitted), recordPitch(*plain));
        ASSERT_EQ(fitted->rowCount, plain->rowCount);
        for (int32_t y = 0; y < fitted->rowCount; ++y)
            ASSERT_EQ(std::memcmp(fitted->rows[y], plain->rows[y], static_cast<size_t>(recordPitch(*plain))), 0)
                << c.width << " x " << c.height << ", row " << y;
    }
    EXPECT_FALSE(fitGray(*board, 10, 10, 9, 10));
    EXPECT_FALSE(fitGray(*board, 40000, 40000, 40001, 40001));
}

TEST(InvertGray, EveryPixelMirroredFillBytesKept)
{
    ImageHandle image = makeGrayImage(3, 2);  // pitch 4: one fill byte a row
    const uint8_t levels[6] = {0, 1, 128, 200, 254, 255};
    for (int i = 0; i < 6; ++i)
        image->rows[i / 3][i % 3] = levels[i];
    image->rows[0][3] = 77;
    image->rows[1][3] = 78;
    invertGray(*image);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(image->rows[i / 3][i % 3], 255 - levels[i]);
    EXPECT_EQ(image->rows[0][3], 77);
    EXPECT_EQ(image->rows[1][3], 78);
}
