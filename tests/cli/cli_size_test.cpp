// The size the text takes: which cell it is shown in, the bounds that apply
// and the fit of the picture to them, for glyphs 7 wide in cells 15 high.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "cli/cell_colours.h"
#include "cli/cell_shape.h"
#include "cli/options.h"
#include "cli/text_size.h"
#include "engine/generator.h"

namespace {

using morvel::cli::Options;
using morvel::cli::TerminalSize;

constexpr int32_t kGlyphWidth = 7;
constexpr int32_t kCellHeight = 15;

struct SizeCase {
    const char* what;
    Options options;
    std::optional<TerminalSize> terminal;  // none: a file or a pipe
    int32_t width, height;                 // the picture
    int32_t columns, lines;                // the text
};

Options with(void (*set)(Options&))
{
    Options o;
    set(o);
    return o;
}

}  // namespace

TEST(TextSize, CellBoundsAndFitTogether)
{
    const TerminalSize plain{80, 24, 0, 0};
    const TerminalSize large{200, 60, 0, 0};
    const TerminalSize pixels{80, 24, 640, 480};  // cells 8 x 20
    const SizeCase cases[] = {
        {"pipe: 80 columns, cells 1/2", {}, std::nullopt, 800, 560, 80, 28},
        {"pipe: a photo at 90 columns as jp2a", with([](Options& o) { o.columns = 90; }), std::nullopt, 600, 400, 90,
         30},
        {"pipe: a circle stays round", with([](Options& o) { o.columns = 60; }), std::nullopt, 100, 100, 60, 30},
        {"--font-ratio 1/3", with([](Options& o) { o.columns = 60, o.fontRatio = 1.0 / 3; }), std::nullopt, 100, 100,
         60, 20},
        {"--font-ratio font", with([](Options& o) { o.columns = 60, o.fontRatioFont = true; }), std::nullopt, 100, 100,
         60, 28},
        {"HTML: the font's cell", with([](Options& o) { o.columns = 60, o.html = true; }), std::nullopt, 100, 100, 60,
         28},
        {"--columns natural", with([](Options& o) { o.columnsNatural = true; }), std::nullopt, 800, 560, 114, 37},
        {"--columns natural beats --font-ratio", with([](Options& o) { o.columnsNatural = true, o.fontRatio = 1; }),
         std::nullopt, 800, 560, 114, 37},
        {"terminal: rows less one bind", {}, plain, 800, 560, 66, 23},
        {"terminal: an icon fills the screen", {}, large, 32, 32, 118, 59},
        {"terminal: --no-enlarge keeps the icon's width", with([](Options& o) { o.noEnlarge = true; }), large, 32, 32,
         5, 3},
        {"terminal: the footer counted", with([](Options& o) { o.footer = true; }), large, 32, 32, 108, 54},
        {"terminal: cells from its size in pixels", {}, pixels, 100, 100, 58, 23},
        {"terminal: --font-ratio beats its cells", with([](Options& o) { o.fontRatio = 0.5; }), pixels, 100, 100, 46,
         23},
        {"--size WxH is a box", with([](Options& o) { o.columns = 40, o.rows = 10; }), std::nullopt, 800, 560, 29, 10},
    };
    for (const SizeCase& c : cases) {
        const morvel::cli::CellChoice cell = morvel::cli::chooseCell(c.options, c.terminal, 0);
        const morvel::cli::SizeRule rule =
            morvel::cli::sizeRuleFor(c.options, c.terminal, c.options.footer ? 5 : 0, cell.ratio);
        const auto fit = morvel::cli::fitText(c.width, c.height, rule, kGlyphWidth, kCellHeight);
        ASSERT_TRUE(fit) << c.what;
        // Characters are placed while x < canvas width - m, bands made while
        // y < canvas height - h.
        const int32_t columns = (fit->canvas.width - kGlyphWidth + kGlyphWidth - 1) / kGlyphWidth;
        EXPECT_EQ(columns, c.columns) << c.what;
        EXPECT_EQ(morvel::bandCount(fit->canvas.height, kCellHeight), c.lines) << c.what;
    }
}

TEST(TextSize, CellRatiosAndBoxesAsTyped)
{
    EXPECT_DOUBLE_EQ(*morvel::cli::parseFontRatio("1/2"), 0.5);
    EXPECT_DOUBLE_EQ(*morvel::cli::parseFontRatio("0.45"), 0.45);
    EXPECT_DOUBLE_EQ(*morvel::cli::parseFontRatio("8/17"), 8.0 / 17);
    for (const char* bad : {"", "1/0", "0", "/2", "1/", "1/2/3", "-1/2", "1e0", "100", "1/100"})
        EXPECT_FALSE(morvel::cli::parseFontRatio(bad)) << bad;
    EXPECT_EQ(morvel::cli::parseSizeBox("40x20"), std::make_pair(40, 20));
    EXPECT_EQ(morvel::cli::parseSizeBox("40X20"), std::make_pair(40, 20));
    for (const char* bad : {"", "40", "x20", "40x", "0x20", "40x0", "40x20x3", "40 x20", "10001x1"})
        EXPECT_FALSE(morvel::cli::parseSizeBox(bad)) << bad;
    // A terminal's cell from its size in pixels, none without it.
    EXPECT_DOUBLE_EQ(morvel::cli::cellRatioOf({80, 24, 640, 480}), 0.4);
    EXPECT_EQ(morvel::cli::cellRatioOf({80, 24, 0, 0}), 0);
    EXPECT_EQ(morvel::cli::cellRatioOf({80, 24, 80, 0}), 0);
}
