#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "engine/generator.h"
#include "engine/tone_match.h"
#include "fake_font.h"

using namespace morvel;
using morvel::testing::FakeFont;
using morvel::testing::filledGrayImage;
using morvel::testing::viewOf;

namespace {

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text does not end with CR LF";
    return lines;
}

// Paints the glyphs of `text` side by side from (0, 0), as the font draws them.
void typeInto(ImageRecord& picture, const FakeFont& font, const std::string& text)
{
    int32_t x = 0;
    for (char c : text) {
        font.drawChar(picture, x, 0, c);
        x += font.advanceWidth(c);
    }
}

}  // namespace

TEST(Generator, HundredByHundredMonospacedGivesEightLinesOfFourteen)
{
    const auto built = renderGlyphAtlas(FakeFont::monospaced());
    ASSERT_TRUE(built);
    const auto picture = filledGrayImage(100, 100, 128);
    std::vector<std::string> seen;
    const GeneratedText result = generateText(*picture, viewOf(*built), MatchMode::Correlation, nullptr,
                                              [&](const std::string& soFar) { seen.push_back(soFar); });
    EXPECT_EQ(result.widest, 14);
    const auto lines = linesOf(result.text);
    ASSERT_EQ(lines.size(), 8u);
    for (const auto& line : lines)
        EXPECT_EQ(line, std::string(14, ' '));  // a uniform cell matches the blank space exactly
    ASSERT_EQ(seen.size(), 8u);
    for (size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], result.text.substr(0, (i + 1) * 16));
}

TEST(Generator, FooterFollowsTheLines)
{
    const TextFooter footer{"cat.gif", 9, "Lucida Console", 3, 0};
    EXPECT_EQ(formatFooter(footer), "\r\n\r\ncat.gif\r\n9 Point Lucida Console\r\n(Blur 3, Black Level 0)\r\n");

    const auto built = renderGlyphAtlas(FakeFont::monospaced());
    const auto picture = filledGrayImage(100, 100, 128);
    const GeneratedText result = generateText(*picture, viewOf(*built), MatchMode::Difference, &footer);
    const std::string tail = formatFooter(footer);
    ASSERT_GT(result.text.size(), tail.size());
    EXPECT_EQ(result.text.substr(result.text.size() - tail.size()), tail);
    EXPECT_EQ(result.text.size(), 8 * 16 + tail.size());
}

TEST(Generator, TypedGlyphsAreReadBackInBothModes)
{
    const FakeFont mono = FakeFont::monospaced();
    const auto built = renderGlyphAtlas(mono);
    ASSERT_TRUE(built);
    // '!' .. ',' are bars of 1 .. 12 rows, all different. 12 glyphs need
    // x = 77 < width - 7; 13 rows make exactly one band.
    const std::string typed = "!\"#$%&'()*+, ";
    auto picture = filledGrayImage(85, 13, 255);
    typeInto(*picture, mono, typed);
    for (MatchMode mode : {MatchMode::Correlation, MatchMode::Difference}) {
        const GeneratedText result = generateText(*picture, viewOf(*built), mode, nullptr);
        EXPECT_EQ(result.text, typed.substr(0, 12) + "\r\n") << "mode " << int(mode);
    }

    const FakeFont varied = FakeFont::proportional();
    const auto variedAtlas = renderGlyphAtlas(varied);
    ASSERT_TRUE(variedAtlas);
    // Widths 1 + k % 7: '&' 7, quote 1, ')' 3, '+' 5; the walk stops at x < 31 - 7.
    const std::string text = "&')+&&'";
    auto wide = filledGrayImage(31, 13, 255);
    typeInto(*wide, varied, text);
    const GeneratedText result = generateText(*wide, viewOf(*variedAtlas), MatchMode::Difference, nullptr);
    EXPECT_EQ(result.text, "&')+&&\r\n");
    EXPECT_EQ(result.widest, 6);
}

TEST(Generator, TiesGoToTheLowerCodeInBothModes)
{
    // Every glyph but the space is the same half-inked cell; the picture is
    // exactly that cell, so all 94 glyphs score alike.
    const auto half = [](char c, int32_t row, int32_t) { return c == ' ' || row < 6 ? uint8_t{255} : uint8_t{0}; };
    const FakeFont font(12, 7, {}, half);
    const auto built = renderGlyphAtlas(font);
    ASSERT_TRUE(built);
    auto picture = filledGrayImage(7, 12, 255);
    font.drawChar(*picture, 0, 0, 'x');
    EXPECT_EQ(correlationScore(*picture, viewOf(*built), 0, 0), 1);
    EXPECT_EQ(differenceScore(*picture, viewOf(*built), 0, 0), 1);
}

TEST(Generator, UndefinedScoresNeverWin)
{
    const auto built = renderGlyphAtlas(FakeFont::monospaced());
    ASSERT_TRUE(built);
    // A pure-black cell makes every correlation 0 / 0: the space.
    const auto black = filledGrayImage(100, 30, 0);
    const GeneratedText dark = generateText(*black, viewOf(*built), MatchMode::Correlation, nullptr);
    EXPECT_EQ(dark.text, std::string(14, ' ') + "\r\n" + std::string(14, ' ') + "\r\n");

    // A solid black '!' scores 0 / 0 against any picture, after the space
    // has scored 1 on a uniform cell; it must not take over.
    const FakeFont solid(12, 7, {}, [](char c, int32_t, int32_t) { return c == '!' ? uint8_t{0} : uint8_t{255}; });
    const auto solidAtlas = renderGlyphAtlas(solid);
    const auto gray = filledGrayImage(7, 12, 200);
    EXPECT_EQ(correlationScore(*gray, viewOf(*solidAtlas), 0, 0), 0);

    // In difference mode a space measured 0 wide scores 0 / 0 and must not
    // win over the real glyphs.
    const FakeFont hollow(12, 7, [](char c) { return c == ' ' ? 0 : 7; });
    const auto hollowAtlas = renderGlyphAtlas(hollow);
    const auto white = filledGrayImage(7, 12, 255);
    EXPECT_EQ(differenceScore(*white, viewOf(*hollowAtlas), 0, 0), 1);
}

TEST(Generator, BandAndColumnBoundsAreStrict)
{
    const auto built = renderGlyphAtlas(FakeFont::monospaced());
    ASSERT_TRUE(built);
    const auto countLines = [&](int32_t width, int32_t rows) {
        const auto picture = filledGrayImage(width, rows, 255);
        return generateText(*picture, viewOf(*built), MatchMode::Correlation, nullptr);
    };
    EXPECT_EQ(countLines(50, 12).text, "");  // no band fits
    EXPECT_EQ(countLines(50, 1).text, "");
    EXPECT_EQ(countLines(50, 24).text, std::string(7, ' ') + "\r\n");  // exactly 2h: one band
    EXPECT_EQ(linesOf(countLines(50, 25).text).size(), 2u);
    const GeneratedText narrow = countLines(7, 40);  // no column fits: empty lines
    EXPECT_EQ(narrow.text, "\r\n\r\n\r\n");
    EXPECT_EQ(narrow.widest, 0);
    EXPECT_EQ(countLines(8, 13).text, " \r\n");

    const TextFooter footer{"x.gif", 9, "Face", 0, 5};
    const auto tiny = filledGrayImage(3, 3, 0);
    const GeneratedText onlyFooter = generateText(*tiny, viewOf(*built), MatchMode::Correlation, &footer);
    EXPECT_EQ(onlyFooter.text, formatFooter(footer));
    EXPECT_EQ(onlyFooter.widest, 0);
}

TEST(Generator, ZeroWidthGlyphsStillEndEachLine)
{
    const auto built = renderGlyphAtlas(FakeFont(12, 7, [](char) { return 0; }));
    ASSERT_TRUE(built);
    EXPECT_EQ(built->maxGlyphWidth, 0);
    const auto picture = filledGrayImage(10, 13, 40);
    for (MatchMode mode : {MatchMode::Correlation, MatchMode::Difference}) {
        const GeneratedText result = generateText(*picture, viewOf(*built), mode, nullptr);
        EXPECT_EQ(result.text, std::string(10, ' ') + "\r\n");
        EXPECT_EQ(result.widest, 10);
    }
}

TEST(Generator, UnusableInputsGiveNoLines)
{
    const auto built = renderGlyphAtlas(FakeFont::monospaced());
    const auto picture = filledGrayImage(100, 100, 128);
    EXPECT_EQ(generateText(*picture, AtlasView{}, MatchMode::Correlation, nullptr).text, "");

    // A view whose max glyph width understates a cell would let blocks run
    // past the picture's right edge.
    AtlasView understated = viewOf(*built);
    understated.maxGlyphWidth = 3;
    EXPECT_EQ(generateText(*picture, understated, MatchMode::Correlation, nullptr).text, "");

    ImageHandle colour(createImageRecord());
    ASSERT_TRUE(shapeImageRecord(colour.get(), 40, 40, 24));
    EXPECT_EQ(generateText(*colour, viewOf(*built), MatchMode::Difference, nullptr).text, "");
}

TEST(Generator, ToneWalkMixesGlyphsToTheGrayAndLeavesWhiteBlank)
{
    // Bars 1 .. 12 rows high over 6 of 7 columns: tones 255 x (84 - 6b) / 84,
    // 18.2 apart, from the space (255) down to ',' (36.4).
    const auto built = renderGlyphAtlas(FakeFont::monospaced());
    const AtlasView view = viewOf(*built);
    const std::vector<int64_t> sums = glyphCellSums(view);
    const std::optional<ToneSetup> setup = makeToneSetup(view, sums, " !\"#$%&'()*+,", 0, 1.0);
    ASSERT_TRUE(setup);
    EXPECT_EQ(setup->blackLevel, 37);  // the densest glyph's 36.4, rounded up
    const double step = 255.0 * 6 / 84;

    for (int level : {40, 128, 200}) {
        const double gray = setup->curve[level];
        const auto lines = linesOf(
            generateToneText(*filledGrayImage(7 * 40 + 8, 25, static_cast<uint8_t>(level)), *setup, nullptr).text);
        ASSERT_EQ(lines.size(), 2u);
        double total = 0;
        for (char c : lines[0])
            total += static_cast<double>(sums[static_cast<size_t>(c - 32)]) / 84.0;
        EXPECT_NEAR(total / static_cast<double>(lines[0].size()), gray, step) << level;
        EXPECT_NE(lines[0].find_first_not_of(lines[0][0]), std::string::npos) << "one glyph only: " << lines[0];
        EXPECT_EQ(lines[1], lines[0]);  // the error starts afresh in every band
    }
    for (const std::string& line : linesOf(generateToneText(*filledGrayImage(60, 40, 255), *setup, nullptr).text))
        EXPECT_EQ(line, std::string(line.size(), ' '));
}
