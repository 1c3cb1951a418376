#include <gtest/gtest.h>

#include <algorithm>

#include "engine/black_level.h"
#include "engine/blur.h"
#include "engine/generator.h"
#include "engine/glyph_atlas.h"
#include "fake_font.h"

using namespace morvel;
using morvel::testing::FakeFont;
using morvel::testing::viewOf;

TEST(GlyphAtlas, WidthIsMarginPlusTwiceMaxWidthRoundedToFour)
{
    const int32_t expected[][2] = {{7, 20}, {8, 20}, {9, 24}, {1, 8}, {2, 8}};
    for (const auto& [maxWidth, width] : expected) {
        EXPECT_EQ(atlasWidthFor(maxWidth), width) << "T " << maxWidth;
        const auto built = renderGlyphAtlas(FakeFont(12, maxWidth));
        ASSERT_TRUE(built) << "T " << maxWidth;
        EXPECT_EQ(built->atlas->header.biWidth, width);
        EXPECT_EQ(recordPitch(*built->atlas), width);
        EXPECT_EQ(built->atlas->rowCount, 1248);
    }
    EXPECT_EQ(atlasWidthFor(0x7fffffff), -1);
}

TEST(GlyphAtlas, LayoutTableAndHeaderOfMonospacedFont)
{
    const FakeFont font = FakeFont::monospaced();
    const auto built = renderGlyphAtlas(font);
    ASSERT_TRUE(built);
    const ImageRecord& atlas = *built->atlas;
    EXPECT_EQ(atlas.header.biSize, 40u);
    EXPECT_EQ(atlas.header.biPlanes, 1);
    EXPECT_EQ(atlas.header.biBitCount, 8);
    EXPECT_EQ(atlas.header.biHeight, -1248);
    EXPECT_EQ(atlas.header.biCompression, 0u);
    EXPECT_EQ(atlas.rows[1247], atlas.pixels + 1247 * 20);
    for (int i = 0; i < 256; ++i)
        ASSERT_TRUE(atlas.colors[i].rgbRed == i && atlas.colors[i].rgbGreen == i && atlas.colors[i].rgbBlue == i);

    ASSERT_EQ(built->glyphs.size(), 95u);
    EXPECT_EQ(built->cellHeight, 12);
    EXPECT_EQ(built->maxGlyphWidth, 7);
    EXPECT_EQ(built->glyphs[0].top, 4);
    EXPECT_EQ(built->glyphs[1].top, 17);
    EXPECT_EQ(built->glyphs[2].top, 30);
    EXPECT_EQ(built->glyphs[94].top, 1226);
    for (int k = 0; k < 95; ++k) {
        EXPECT_EQ(built->glyphs[k].code, 32 + k);
        EXPECT_EQ(built->glyphs[k].width, 7);
    }
    EXPECT_EQ(font.drawCount, 95);
}

// Every pixel is the font's drawing inside a cell and white paper elsewhere:
// margins, the separator rows, right of the cells and the rows below the last.
static void expectInkOnlyInCells(const FakeFont& font, const BuiltAtlas& built)
{
    const ImageRecord& atlas = *built.atlas;
    const int32_t h = built.cellHeight;
    int32_t mismatches = 0;
    for (int32_t y = 0; y < atlas.rowCount; ++y) {
        for (int32_t x = 0; x < atlas.header.biWidth; ++x) {
            uint8_t expected = 255;
            const int32_t k = (y - 4) / (h + 1);
            const int32_t r = (y - 4) % (h + 1);
            if (y >= 4 && k < 95 && r < h && x >= 4 && x < 4 + built.glyphs[k].width)
                expected = font.pixel(static_cast<char>(32 + k), r, x - 4);
            if (atlas.rows[y][x] != expected && ++mismatches < 5)
                ADD_FAILURE() << "pixel (" << y << ", " << x << ") is " << int(atlas.rows[y][x]);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(GlyphAtlas, InkOnlyInsideCellsAndWhiteBelowTheLastCell)
{
    const FakeFont mono = FakeFont::monospaced();
    const auto built = renderGlyphAtlas(mono);
    ASSERT_TRUE(built);
    expectInkOnlyInCells(mono, *built);
    // The '~' cell ends on row 1237; rows 1238..1247 are white, and the bar
    // of '~' (94 = 1 + 93, 93 % 12 = 9: ten rows) reaches the cell's last row.
    EXPECT_EQ(built->atlas->rows[1237][4], 0);
    for (int32_t y = 1238; y < 1248; ++y)
        for (int32_t x = 0; x < 20; ++x)
            ASSERT_EQ(built->atlas->rows[y][x], 255) << y << ", " << x;

    const FakeFont proportional = FakeFont::proportional();
    const auto varied = renderGlyphAtlas(proportional);
    ASSERT_TRUE(varied);
    expectInkOnlyInCells(proportional, *varied);
}

TEST(GlyphAtlas, MaxGlyphWidthIsTheLargestMeasuredWidth)
{
    // Declared maximum 9 sizes the atlas (24 wide); measured widths stay
    // below it, and the widest measured one becomes the max glyph width.
    const auto built = renderGlyphAtlas(FakeFont(12, 9, [](char c) { return c == 'W' ? 6 : 4; }));
    ASSERT_TRUE(built);
    EXPECT_EQ(built->atlas->header.biWidth, 24);
    EXPECT_EQ(built->maxGlyphWidth, 6);
}

TEST(GlyphAtlas, RefusesUnusableMetrics)
{
    EXPECT_FALSE(renderGlyphAtlas(FakeFont(0, 7)));
    EXPECT_FALSE(renderGlyphAtlas(FakeFont(-12, 7)));
    EXPECT_FALSE(renderGlyphAtlas(FakeFont(12, 0)));
    EXPECT_FALSE(renderGlyphAtlas(FakeFont(12, -3)));
    EXPECT_FALSE(renderGlyphAtlas(FakeFont(0x7fffffff, 7)));
    EXPECT_FALSE(renderGlyphAtlas(FakeFont(12, 0x7fffffff)));
    EXPECT_FALSE(renderGlyphAtlas(FakeFont(1 << 20, 1 << 10)));      // above the pixel limit
    EXPECT_FALSE(renderGlyphAtlas(FakeFont(12, kMaxCellSide / 2)));  // wider than 16 bits
    // One-row cells: the last cell would start below the atlas's 192 rows.
    EXPECT_FALSE(renderGlyphAtlas(FakeFont(1, 7)));
    // Two-row cells fit exactly: the last cell ends on the last row.
    const auto tight = renderGlyphAtlas(FakeFont(2, 7));
    ASSERT_TRUE(tight);
    EXPECT_EQ(tight->glyphs[94].top + 2, tight->atlas->rowCount);
}

TEST(GlyphAtlas, OverwideAndNegativeMeasuresStayInsideTheAtlas)
{
    // T = 7 gives a 20-pixel atlas with room for 16 columns right of the
    // margin; 'M' claims 100 and 'i' a negative width.
    const FakeFont font(12, 7, [](char c) { return c == 'M' ? 100 : c == 'i' ? -5 : 7; });
    const auto built = renderGlyphAtlas(font);
    ASSERT_TRUE(built);
    EXPECT_EQ(built->glyphs['M' - 32].width, 16);
    EXPECT_EQ(built->glyphs['i' - 32].width, 0);
    EXPECT_EQ(built->maxGlyphWidth, 16);
    EXPECT_TRUE(atlasViewIsUsable(viewOf(*built)));

    // Every later step reads only inside (checked by the sanitizer build).
    blurImage(built->atlas.get());
    EXPECT_LT(darkestCellMean(viewOf(*built)), 255);
    const auto picture = morvel::testing::filledGrayImage(40, 30, 90);
    const GeneratedText text = generateText(*picture, viewOf(*built), MatchMode::Difference, nullptr);
    // Bands at rows 0 and 12; characters while x < 40 - 16.
    EXPECT_EQ(text.text.find("\r\n\r\n"), std::string::npos);
    EXPECT_EQ(std::count(text.text.begin(), text.text.end(), '\n'), 2);
    EXPECT_GT(text.widest, 0);
}
