#include <gtest/gtest.h>

#include <cstring>

#include "image/gray_conversion.h"
#include "image/image_record.h"

using namespace morvel;

namespace {

// An 8-bit record whose colour table is all black except the given entries,
// its pixels running through `pixels` row by row, its fill bytes set to 0xEE.
ImageHandle paletteImage(int width, int height, std::initializer_list<RgbQuad> table,
                         std::initializer_list<uint8_t> pixels)
{
    ImageHandle image = makeGrayImage(width, height);
    if (!image)
        return image;
    std::memset(image->colors, 0, sizeof image->colors);
    int i = 0;
    for (const RgbQuad& c : table)
        image->colors[i++] = c;
    const int64_t pitch = recordPitch(*image);
    std::memset(image->pixels, 0xEE, static_cast<size_t>(pitch * height));
    auto p = pixels.begin();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image->rows[y][x] = p != pixels.end() ? *p++ : 0;
    return image;
}

RgbQuad rgb(uint8_t r, uint8_t g, uint8_t b)
{
    return RgbQuad{b, g, r, 0};
}

}  // namespace

TEST(GrayConversion, BlackAndWhiteTableMapsToZeroAnd255)
{
    ImageHandle image = paletteImage(2, 1, {rgb(0, 0, 0), rgb(255, 255, 255)}, {0, 1});
    ASSERT_TRUE(image);
    grayFromPalette(image.get());
    EXPECT_EQ(image->rows[0][0], 0);
    EXPECT_EQ(image->rows[0][1], 255);
}

TEST(GrayConversion, UnfilledEntriesPullTheMinimumToBlack)
{
    // Magnitudes 100 and 200, the black unfilled entries give the minimum 0:
    // 100 x 255 / 200 = 127.5, fraction dropped.
    ImageHandle image = paletteImage(2, 2, {rgb(100, 0, 0), rgb(0, 200, 0)}, {0, 1, 1, 0});
    ASSERT_TRUE(image);
    grayFromPalette(image.get());
    EXPECT_EQ(image->rows[0][0], 127);
    EXPECT_EQ(image->rows[0][1], 255);
    EXPECT_EQ(image->rows[1][0], 255);
    EXPECT_EQ(image->rows[1][1], 127);
}

TEST(GrayConversion, MagnitudesAreRoundedVectorLengths)
{
    // Entry 0 (1,0,0) has magnitude 1, entry 1 (1,1,1) magnitude 2 (sqrt 3
    // rounded), entry 2 (0,0,2) magnitude 2, the rest magnitude 4 (brightest)
    // and one entry (0,0,0) gives the minimum 0. Gray = m x 255 / 4.
    ImageHandle image = makeGrayImage(4, 1);
    ASSERT_TRUE(image);
    for (auto& c : image->colors)
        c = rgb(0, 0, 4);
    image->colors[0] = rgb(1, 0, 0);
    image->colors[1] = rgb(1, 1, 1);
    image->colors[2] = rgb(0, 0, 2);
    image->colors[3] = rgb(0, 0, 0);
    for (int x = 0; x < 4; ++x)
        image->rows[0][x] = static_cast<uint8_t>(x);
    grayFromPalette(image.get());
    EXPECT_EQ(image->rows[0][0], 63);   // 1 x 255 / 4
    EXPECT_EQ(image->rows[0][1], 127);  // 2 x 255 / 4
    EXPECT_EQ(image->rows[0][2], 127);
    EXPECT_EQ(image->rows[0][3], 0);
}

TEST(GrayConversion, TableBecomesGrayRampAndFillBytesStay)
{
    // Width 3: one fill byte per row.
    ImageHandle image = paletteImage(3, 2, {rgb(10, 20, 30), rgb(200, 0, 0), rgb(0, 0, 255)}, {0, 1, 2, 2, 1, 0});
    ASSERT_TRUE(image);
    image->colors[37] = rgb(9, 99, 199);
    image->colors[37].rgbReserved = 5;
    grayFromPalette(image.get());
    EXPECT_EQ(image->colors[37].rgbRed, 37);
    EXPECT_EQ(image->colors[37].rgbGreen, 37);
    EXPECT_EQ(image->colors[37].rgbBlue, 37);
    EXPECT_EQ(image->colors[37].rgbReserved, 5);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(image->colors[i].rgbRed, i);
    EXPECT_EQ(image->rows[0][3], 0xEE);
    EXPECT_EQ(image->rows[1][3], 0xEE);
    EXPECT_EQ(image->rows[0][2], 255);  // (0,0,255) is the brightest entry
    EXPECT_EQ(image->header.biWidth, 3);
    EXPECT_EQ(image->rowCount, 2);
}

TEST(GrayConversion, UniformTablesNeedNoStretch)
{
    // All 256 entries equal: no range to stretch over. Black stays black,
    // white becomes white, a middle gray a middle gray.
    struct Case {
        RgbQuad colour;
        uint8_t gray;
    } cases[] = {{rgb(0, 0, 0), 0}, {rgb(255, 255, 255), 255}, {rgb(128, 128, 128), 128}};
    for (const Case& c : cases) {
        ImageHandle image = makeGrayImage(2, 1);
        ASSERT_TRUE(image);
        for (auto& entry : image->colors)
            entry = c.colour;
        image->rows[0][0] = 0;
        image->rows[0][1] = 200;
        grayFromPalette(image.get());
        EXPECT_EQ(image->rows[0][0], c.gray);
        EXPECT_EQ(image->rows[0][1], c.gray);
        EXPECT_EQ(image->colors[200].rgbGreen, 200);
    }
}

TEST(GrayConversion, OnlyEightBitRecordsAreTouched)
{
    ImageHandle image(createImageRecord());
    ASSERT_TRUE(image);
    ASSERT_TRUE(shapeImageRecord(image.get(), 2, 2, 24));
    std::memset(image->pixels, 0x5A, 16);
    image->colors[1] = rgb(1, 2, 3);
    ImageRecord before = *image;
    grayFromPalette(image.get());
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(image->pixels[i], 0x5A);
    EXPECT_EQ(std::memcmp(image->colors, before.colors, sizeof before.colors), 0);

    grayFromPalette(nullptr);
    ImageHandle empty = makeGrayImage(0, 0);
    ASSERT_TRUE(empty);
    grayFromPalette(empty.get());
}
