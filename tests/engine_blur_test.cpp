#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "engine/blur.h"
#include "fake_font.h"

using namespace morvel;
using morvel::testing::filledGrayImage;

namespace {

std::vector<std::vector<int>> pixelsOf(const ImageRecord& image)
{
    std::vector<std::vector<int>> copy(image.rowCount, std::vector<int>(image.header.biWidth));
    for (int32_t y = 0; y < image.rowCount; ++y)
        for (int32_t x = 0; x < image.header.biWidth; ++x)
            copy[y][x] = image.rows[y][x];
    return copy;
}

ImageHandle noiseImage(int32_t width, int32_t rows, unsigned seed)
{
    ImageHandle image = makeGrayImage(width, rows);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < width; ++x) {
            seed = seed * 1103515245u + 12345u;
            image->rows[y][x] = static_cast<uint8_t>(seed >> 16);
        }
    return image;
}

}  // namespace

TEST(Blur, SingleBlackPixelSpreadsByTheAsymmetricKernel)
{
    ImageHandle image = filledGrayImage(12, 10, 255);
    const int y = 5, x = 6;
    image->rows[y][x] = 0;
    blurImage(image.get());

    int changed = 0;
    for (int32_t row = 0; row < 10; ++row)
        for (int32_t column = 0; column < 12; ++column)
            changed += image->rows[row][column] != 255;
    EXPECT_EQ(changed, 7);
    EXPECT_EQ(image->rows[y][x - 1], 198);
    EXPECT_EQ(image->rows[y][x], 198);
    EXPECT_EQ(image->rows[y][x + 1], 226);
    EXPECT_EQ(image->rows[y - 1][x + 1], 226);
    EXPECT_EQ(image->rows[y + 1][x - 1], 226);
    EXPECT_EQ(image->rows[y + 1][x], 226);
    EXPECT_EQ(image->rows[y + 1][x + 1], 226);
}

TEST(Blur, EveryOutputComesFromTheOriginalPixels)
{
    // Compared with a filter over an untouched copy: a pass that read rows it
    // had already written would differ.
    ImageHandle image = noiseImage(9, 7, 42);
    const auto before = pixelsOf(*image);
    blurImage(image.get());
    const auto after = pixelsOf(*image);
    const int w = 9, h = 7;
    for (int x = 0; x < w; ++x)
        EXPECT_EQ(after[0][x], 255);
    for (int i = 1; i < h - 2; ++i) {
        EXPECT_EQ(after[i][0], 255);
        EXPECT_EQ(after[i][w - 1], 255);
        for (int j = 1; j < w - 1; ++j) {
            const auto& p = before;
            const int sum = p[i - 1][j - 1] + p[i - 1][j] + p[i - 1][j + 1] + p[i][j - 1] + 2 * p[i][j] +
                            2 * p[i][j + 1] + p[i + 1][j - 1];
            EXPECT_EQ(after[i][j], sum / 9) << i << ", " << j;
        }
    }
    EXPECT_EQ(after[h - 2], before[h - 2]);
    EXPECT_EQ(after[h - 1], before[h - 1]);
}

TEST(Blur, ShortNarrowAndForeignImagesAreLeftAlone)
{
    for (int rows = 0; rows <= 3; ++rows) {
        ImageHandle image = noiseImage(6, rows, 7);
        const auto before = pixelsOf(*image);
        blurImage(image.get());
        EXPECT_EQ(pixelsOf(*image), before) << rows << " rows";
    }
    ImageHandle single = noiseImage(1, 8, 3);
    const auto singleBefore = pixelsOf(*single);
    blurImage(single.get());
    EXPECT_EQ(pixelsOf(*single), singleBefore);

    ImageHandle colour(createImageRecord());
    ASSERT_TRUE(shapeImageRecord(colour.get(), 6, 6, 24));
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 18; ++x)
            colour->rows[y][x] = 17;
    blurImage(colour.get());
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 18; ++x)
            ASSERT_EQ(colour->rows[y][x], 17);

    blurImage(nullptr);
}

TEST(Blur, FourRowsAndTwoColumns)
{
    // Row 1 is the only filtered row: white ends, kernel inside; row 0 white;
    // rows 2 and 3 untouched.
    ImageHandle image = filledGrayImage(5, 4, 90);
    image->rows[2][1] = 0;
    blurImage(image.get());
    const int expectedRow1[] = {255, 90, 90, 90, 255};
    const int expectedRow1WithInk = (90 * 9 - 90) / 9;  // the pixel below-left of (1, 2)
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(image->rows[0][x], 255);
        EXPECT_EQ(image->rows[1][x], x == 2 ? expectedRow1WithInk : expectedRow1[x]) << x;
        EXPECT_EQ(image->rows[3][x], 90);
    }
    EXPECT_EQ(image->rows[2][1], 0);

    // Two columns: every filtered row is border alone.
    ImageHandle narrow = filledGrayImage(2, 5, 0);
    blurImage(narrow.get());
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 2; ++x)
            EXPECT_EQ(narrow->rows[y][x], y <= 2 ? 255 : 0) << y << ", " << x;
}
