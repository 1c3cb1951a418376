#include <gtest/gtest.h>

#include <vector>

#include "engine/black_level.h"
#include "fake_font.h"

using namespace morvel;
using morvel::testing::FakeFont;
using morvel::testing::filledGrayImage;
using morvel::testing::viewOf;

namespace {

// A blank 12 x 7 atlas whose '!' cell holds 46 pixels of 255, one of `odd`
// and the remaining 37 of 0: the cell sums to 46 x 255 + odd.
BuiltAtlas atlasWithDarkCell(uint8_t odd)
{
    auto built = renderGlyphAtlas(FakeFont(12, 7, {}, [](char, int32_t, int32_t) { return uint8_t{255}; }));
    EXPECT_TRUE(built);
    const GlyphEntry& cell = built->glyphs[1];
    int placed = 0;
    for (int r = 0; r < 12; ++r)
        for (int j = 0; j < 7; ++j, ++placed)
            built->atlas->rows[cell.top + r][4 + j] = placed < 46 ? 255 : placed == 46 ? odd : 0;
    return std::move(*built);
}

}  // namespace

TEST(BlackLevelRange, MeanOfTheDarkestCellRoundedDown)
{
    const BuiltAtlas above = atlasWithDarkCell(120);  // 11850 / 84 = 141.07
    EXPECT_EQ(darkestCellMean(viewOf(above)), 141);
    const BuiltAtlas below = atlasWithDarkCell(113);  // 11843 / 84 = 140.99
    EXPECT_EQ(darkestCellMean(viewOf(below)), 140);
}

TEST(BlackLevelRange, BlankCellsNoAtlasAndZeroWidthCells)
{
    const auto blank = renderGlyphAtlas(FakeFont(12, 7, {}, [](char, int32_t, int32_t) { return uint8_t{255}; }));
    ASSERT_TRUE(blank);
    EXPECT_EQ(darkestCellMean(viewOf(*blank)), 255);
    EXPECT_EQ(darkestCellMean(AtlasView{}), 255);

    // Glyphs measured 0 wide have no cell to average and are passed over;
    // the others still count ('#' bars are 3 rows of 6 black in 12 x 7).
    const auto holes = renderGlyphAtlas(FakeFont(12, 7, [](char c) { return c == '!' ? 0 : c == '#' ? 7 : 0; }));
    ASSERT_TRUE(holes);
    EXPECT_EQ(darkestCellMean(viewOf(*holes)), (84 - 18) * 255 / 84);
}

TEST(BlackLevelStretch, WorkedExampleAtLevel100)
{
    ImageHandle source = filledGrayImage(3, 2, 105);
    source->rows[0][0] = 10;
    source->rows[1][2] = 200;
    source->rows[1][1] = 150;
    ImageHandle working = stretchToBlackLevel(*source, 100);
    ASSERT_TRUE(working);
    EXPECT_EQ(working->rows[0][0], 100);
    EXPECT_EQ(working->rows[1][2], 255);
    EXPECT_EQ(working->rows[0][1], 177);
    EXPECT_EQ(working->rows[1][1], 100 + 140 * 155 / 190);
    // The source is not touched; the copy has its own pixels.
    EXPECT_EQ(source->rows[0][0], 10);
    EXPECT_NE(working->pixels, source->pixels);
}

TEST(BlackLevelStretch, FillBytesAreNotPixels)
{
    // Width 3, pitch 4: the fill byte of each row is 0 and must not become lo.
    ImageHandle source = filledGrayImage(3, 2, 60);
    source->rows[0][3] = 0;
    source->rows[1][3] = 0;
    source->rows[1][0] = 250;
    ImageHandle working = stretchToBlackLevel(*source, 0);
    ASSERT_TRUE(working);
    EXPECT_EQ(working->rows[0][0], 0);
    EXPECT_EQ(working->rows[1][0], 255);
}

TEST(BlackLevelStretch, UniformFullRangeWhiteAndRefusedLevels)
{
    ImageHandle uniform = filledGrayImage(5, 4, 77);
    for (int level : {0, 100, 255}) {
        ImageHandle working = stretchToBlackLevel(*uniform, level);
        ASSERT_TRUE(working);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x)
                ASSERT_EQ(working->rows[y][x], 77) << "level " << level;
    }

    ImageHandle ramp = makeGrayImage(256, 1);
    for (int x = 0; x < 256; ++x)
        ramp->rows[0][x] = static_cast<uint8_t>(x);
    ImageHandle same = stretchToBlackLevel(*ramp, 0);
    ImageHandle white = stretchToBlackLevel(*ramp, 255);
    ASSERT_TRUE(same && white);
    for (int x = 0; x < 256; ++x) {
        ASSERT_EQ(same->rows[0][x], x);
        ASSERT_EQ(white->rows[0][x], 255);
    }

    EXPECT_FALSE(stretchToBlackLevel(*ramp, -1));
    EXPECT_FALSE(stretchToBlackLevel(*ramp, 256));
}
