// The text drawn as a picture: every character's cell is its atlas glyph,
// at the place the walk gave it, through the PNG encoder and back.
#include <gtest/gtest.h>

#include <string>

#include "engine/glyph_atlas.h"
#include "engine/text_picture.h"
#include "fake_font.h"
#include "image/png_reader.h"
#include "image/png_writer.h"

using namespace morvel;

namespace {

struct Case {
    const char* name;
    bool dark;
    bool coloured;
};

TEST(TextPicture, PngPixelsAreTheAtlasGlyphsAtTheirPlaces)
{
    const morvel::testing::FakeFont font = morvel::testing::FakeFont::proportional();
    const std::optional<BuiltAtlas> built = renderGlyphAtlas(font);
    ASSERT_TRUE(built);
    const AtlasView view{built->atlas.get(), built->glyphs.data(), static_cast<int32_t>(built->glyphs.size()),
                         built->cellHeight,  built->maxGlyphWidth, kAtlasMargin};
    const std::string text = "A b~%\r\n#x\r\nfoot";
    // Colours for the 5 characters of the first line.
    const uint8_t colours[15] = {200, 10, 20, 30, 40, 50, 0, 0, 0, 1, 2, 3, 250, 251, 252};
    for (const Case& c : {Case{"light", false, false}, Case{"dark", true, false}, Case{"coloured", false, true},
                          Case{"coloured dark", true, true}}) {
        TextPictureStyle style;
        style.dark = c.dark;
        if (c.coloured) {
            style.colours = colours;
            style.colourCount = 5;
            style.colouredLines = 1;
        }
        const ImageHandle drawn = drawTextPicture(text, view, style);
        ASSERT_TRUE(drawn) << c.name;
        const std::optional<std::string> png = encodePng(*drawn);
        ASSERT_TRUE(png) << c.name;
        LoadOptions options;
        options.colour = c.coloured;
        ImageHandle colour;
        const ImageHandle gray =
            decodePng(reinterpret_cast<const uint8_t*>(png->data()), png->size(), kMaxPixelBytes, options, &colour);
        ASSERT_TRUE(gray) << c.name;
        const ImageRecord& read = c.coloured ? *colour : *gray;
        ASSERT_TRUE(!c.coloured || colour) << c.name;
        int32_t line = 0;
        int32_t x = 0;
        size_t k = 0;
        int32_t widest = 0;
        for (const char ch : text) {
            if (ch == '\r')
                continue;
            if (ch == '\n') {
                ++line;
                x = 0;
                continue;
            }
            const GlyphEntry& g = built->glyphs[static_cast<size_t>(ch - 32)];
            const bool hasColour = c.coloured && line == 0;
            for (int32_t row = 0; row < view.cellHeight; ++row) {
                for (int32_t col = 0; col < g.width; ++col) {
                    const int level = built->atlas->rows[g.top + row][kAtlasMargin + col];
                    const int ground = c.dark ? 0 : 255;
                    for (int ch3 = 0; ch3 < (c.coloured ? 3 : 1); ++ch3) {
                        const int ink = hasColour ? colours[3 * k + static_cast<size_t>(ch3)] : 255 - ground;
                        const int want =
                            c.coloured || c.dark ? (ground * level + ink * (255 - level) + 127) / 255 : level;
                        const int got = c.coloured ? read.rows[line * view.cellHeight + row][3 * (x + col) + ch3]
                                                   : read.rows[line * view.cellHeight + row][x + col];
                        ASSERT_EQ(got, want) << c.name << " '" << ch << "' row " << row << " column " << col;
                    }
                }
            }
            x += std::max(g.width, 1);
            widest = std::max(widest, x);
            k += line == 0 ? 1 : 0;
        }
        EXPECT_EQ(read.header.biWidth, widest) << c.name;
        EXPECT_EQ(read.rowCount, 3 * view.cellHeight) << c.name;
    }
}

// The SVG places every character at the walk's x and its line's baseline.
TEST(TextPicture, SvgFixesEveryCharacterPlace)
{
    const morvel::testing::FakeFont font = morvel::testing::FakeFont::proportional();
    const std::optional<BuiltAtlas> built = renderGlyphAtlas(font);
    ASSERT_TRUE(built);
    const AtlasView view{built->atlas.get(), built->glyphs.data(), static_cast<int32_t>(built->glyphs.size()),
                         built->cellHeight,  built->maxGlyphWidth, kAtlasMargin};
    const std::string svg = textSvg("A b<\r\n", view, SvgFace{"Fa'ce & Co", 10, 9}, {});
    // A is 1 + 33 % 7 = 6 wide, the space 1 and b 4: b at 7, < at 11.
    EXPECT_NE(svg.find("<text y=\"9\"><tspan x=\"0 7 11\">Ab&lt;</tspan></text>"), std::string::npos) << svg;
    EXPECT_NE(svg.find("font-family=\"'Fa ce &amp; Co', sans-serif\""), std::string::npos) << svg;
}

}  // namespace
