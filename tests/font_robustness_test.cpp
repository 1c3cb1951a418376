// Fonts at and past the ends of their ranges: every one gives a working atlas
// or a clear refusal (the engine keeps what it had), never a crash, a hang or
// a read outside the atlas (the sanitizer build checks the reads).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "engine/glyph_atlas.h"
#include "engine/text_engine.h"
#include "fake_font.h"
#include "platform/font.h"

using namespace morvel;
using morvel::testing::FakeFont;
using morvel::testing::filledGrayImage;

namespace {

constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();

// A picture with some structure: a dark diagonal band on light gray.
ImageHandle testPicture(int32_t width, int32_t height)
{
    ImageHandle picture = filledGrayImage(width, height, 200);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            if (std::abs(x - y) < 6)
                picture->rows[y][x] = 20;
    return picture;
}

// The engine's atlas is whole, and every later step works on it: blurring,
// the black-level range, and generation in both match modes. Picture lines
// hold only printable characters and never more than the picture has columns.
void expectWorkingAtlas(TextEngine& engine, const std::string& what)
{
    ASSERT_NE(engine.glyphAtlas(), nullptr) << what;
    EXPECT_TRUE(atlasViewIsUsable(engine.atlasView())) << what;
    EXPECT_EQ(engine.glyphCount(), kGlyphCount) << what;
    engine.blurFont();
    engine.updateBlackLevelRange();
    EXPECT_GE(engine.blackLevelRange(), 0) << what;
    EXPECT_LE(engine.blackLevelRange(), 255) << what;
    const int32_t width = std::max(engine.maxGlyphWidth() * 3, 24);
    const int32_t height = std::max(engine.cellHeight() * 3, 24);
    engine.setSourceImage(testPicture(width, height));
    engine.applyBlackLevel(engine.blackLevelRange());
    for (MatchMode mode : {MatchMode::Correlation, MatchMode::Difference}) {
        engine.setMatchMode(mode);
        engine.generateTextImage(0);
        const std::string& text = engine.outputText();
        EXPECT_NE(text.find(" Point "), std::string::npos) << what;
        // The picture lines (the footer repeats the face name as it was given).
        const std::string lines = text.substr(0, text.find("\r\n\r\n"));
        for (char c : lines)
            EXPECT_TRUE(c == '\r' || c == '\n' || (c >= 32 && c <= 126)) << what;
        EXPECT_LE(engine.widestLine(), width) << what;
    }
}

// The fake font, drawing only the part of a cell that lies inside the raster
// (as the real font layer does), so that advances near INT_MAX cost nothing.
class ClippingFakeFont : public FakeFont {
public:
    using FakeFont::FakeFont;
    void drawChar(ImageRecord& raster, int32_t x, int32_t y, char c) const override
    {
        const int64_t w = std::min<int64_t>(advanceWidth(c), int64_t{raster.header.biWidth} - x);
        for (int32_t r = 0; r < textMetrics().height; ++r) {
            const int64_t row = int64_t{y} + r;
            if (row < 0 || row >= raster.rowCount)
                continue;
            for (int64_t j = 0; j < w; ++j)
                raster.rows[row][x + j] = pixel(c, r, static_cast<int32_t>(j));
        }
    }
};

// An engine already holding a working atlas from the monospaced fake font.
void startUp(TextEngine& engine)
{
    engine.useRenderer(std::make_unique<FakeFont>(FakeFont::monospaced()), "Fake", 9);
    engine.buildGlyphAtlas();
    ASSERT_NE(engine.glyphAtlas(), nullptr);
}

TEST(FontRobustness, DegenerateGlyphMeasuresGiveAWorkingAtlasOrKeepTheOldOne)
{
    struct Case {
        const char* what;
        int32_t height;
        int32_t maxWidth;
        FakeFont::WidthRule width;
        bool atlas;
    } cases[] = {
        {"every glyph 0 wide", 12, 7, [](char) { return 0; }, true},
        {"every glyph wider than the atlas", 12, 4, [](char) { return 1000; }, true},
        {"widths of INT_MAX", 12, 4, [](char) { return kIntMax; }, true},
        {"negative widths", 12, 7, [](char c) { return c % 2 ? -7 : kIntMin; }, true},
        {"0 and huge widths mixed", 10, 1, [](char c) { return c % 3 ? 0 : 1 << 30; }, true},
        {"one-column atlas room", 8, 1, {}, true},
        {"two-row cells", 2, 5, {}, true},
        {"declared maximum 0", 12, 0, [](char) { return 5; }, false},
        {"declared maximum INT_MAX", 12, kIntMax, [](char) { return 5; }, false},
        {"one-row cells", 1, 7, {}, false},
        {"cells of 2^20 rows", 1 << 20, 7, {}, false},
        {"cells of INT_MAX rows", kIntMax, 7, {}, false},
        {"negative cell height", -12, 7, {}, false},
    };
    for (const Case& c : cases) {
        TextEngine engine;
        startUp(engine);
        const ImageRecord* before = engine.glyphAtlas();
        const auto start = std::chrono::steady_clock::now();
        engine.useRenderer(std::make_unique<ClippingFakeFont>(c.height, c.maxWidth, c.width), "Fake", 9);
        engine.buildGlyphAtlas();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.what;
        if (c.atlas) {
            EXPECT_NE(engine.glyphAtlas(), before) << c.what;
            EXPECT_EQ(engine.cellHeight(), c.height) << c.what;
        } else {
            // Refused: the previous atlas and its metrics stay in force.
            EXPECT_EQ(engine.glyphAtlas(), before) << c.what;
            EXPECT_EQ(engine.cellHeight(), 12) << c.what;
        }
        expectWorkingAtlas(engine, c.what);
    }
}

TEST(FontRobustness, PointSizesOutsideTheUsableRangeAreRefused)
{
    TextEngine engine;
    if (!engine.setDefaultFont("DejaVu Sans Mono", 9, 400))
        GTEST_SKIP() << "no font installed";
    engine.buildGlyphAtlas();
    const ImageRecord* atlas = engine.glyphAtlas();
    // 0, negative, and sizes whose em passes 2048 pixels at 96 dpi (1537
    // points and up) or does not fit 32 bits make no font; the old one stays.
    for (int32_t points : {0, -1, -9, -1000, kIntMin, 1537, 100000, kIntMax}) {
        EXPECT_FALSE(engine.setDefaultFont("DejaVu Sans Mono", points, 400)) << points;
        EXPECT_EQ(engine.pointSize(), 9) << points;
        EXPECT_EQ(engine.fontDescription().lfHeight, -12) << points;
    }
    engine.buildGlyphAtlas();
    EXPECT_EQ(engine.cellHeight(), engine.font()->textMetrics().height);
    EXPECT_NE(engine.glyphAtlas(), atlas);  // rebuilt from the kept font
    expectWorkingAtlas(engine, "kept font");

    // Resolutions that give no pixel size make no font either.
    for (int dpi : {0, -96, 1000000}) {
        TextEngine other(nullptr, dpi);
        EXPECT_FALSE(other.setDefaultFont("DejaVu Sans Mono", 9, 400)) << dpi;
    }
}

TEST(FontRobustness, WeightsAndFaceNamesOutsideTheirRangesStillGiveAFont)
{
    for (int32_t weight : {kIntMin, -100, 0, 1, 999, 1000, 1001, 5000, kIntMax}) {
        TextEngine engine;
        if (!engine.setDefaultFont("DejaVu Sans Mono", 9, weight))
            GTEST_SKIP() << "no font installed";
        engine.buildGlyphAtlas();
        expectWorkingAtlas(engine, "weight " + std::to_string(weight));
    }
    const std::string names[] = {
        std::string(40, 'W'),                        // longer than 31 characters
        "DejaVu Sans Mono with a much longer name",  // an installed prefix, cut
        "",                                          // no name at all
        "   ",                                       // blanks only
        "\xff\xfe broken UTF-8",                     // not text
        std::string("Dejavu\0Sans", 11),             // an embedded NUL ends the name
    };
    for (const std::string& name : names) {
        TextEngine engine;
        ASSERT_TRUE(engine.setDefaultFont(name, 9, 400)) << name;
        EXPECT_LE(engine.faceName().size(), 31u);
        ASSERT_NE(engine.font(), nullptr);
        EXPECT_FALSE(engine.font()->faceUsed().empty());
        engine.buildGlyphAtlas();
        expectWorkingAtlas(engine, "face " + name);
    }
}

TEST(FontRobustness, DescriptionsWithExtremeFieldsGiveAFontOrARefusal)
{
    TextEngine probe;
    if (!probe.setDefaultFont("DejaVu Sans Mono", 9, 400))
        GTEST_SKIP() << "no font installed";
    const LogFont base = probe.fontDescription();
    struct Case {
        const char* what;
        void (*change)(LogFont&);
        bool font;
    } cases[] = {
        {"height INT_MIN", [](LogFont& d) { d.lfHeight = kIntMin; }, false},
        {"height INT_MAX", [](LogFont& d) { d.lfHeight = kIntMax; }, false},
        {"height -2049", [](LogFont& d) { d.lfHeight = -2049; }, false},
        {"height 8193", [](LogFont& d) { d.lfHeight = 8193; }, false},
        {"height -1", [](LogFont& d) { d.lfHeight = -1; }, true},
        {"height 1", [](LogFont& d) { d.lfHeight = 1; }, true},
        {"height 0", [](LogFont& d) { d.lfHeight = 0; }, true},
        {"all other fields 0xFF",
         [](LogFont& d) {
             d.lfWidth = kIntMin;
             d.lfEscapement = kIntMax;
             d.lfOrientation = -1;
             d.lfItalic = d.lfUnderline = d.lfStrikeOut = d.lfCharSet = 0xFF;
             d.lfOutPrecision = d.lfClipPrecision = d.lfQuality = d.lfPitchAndFamily = 0xFF;
         },
         true},
        {"unterminated name", [](LogFont& d) { std::memset(d.lfFaceName, 'x', sizeof d.lfFaceName); }, true},
    };
    for (const Case& c : cases) {
        TextEngine engine;
        ASSERT_TRUE(engine.setDefaultFont("DejaVu Sans Mono", 9, 400));
        engine.buildGlyphAtlas();
        const ImageRecord* atlas = engine.glyphAtlas();
        LogFont description = base;
        c.change(description);
        EXPECT_EQ(engine.applyFontDescription(description), c.font) << c.what;
        engine.buildGlyphAtlas();
        if (!c.font) {
            EXPECT_EQ(engine.pointSize(), 9) << c.what;
        }
        // One- and two-pixel fonts may have cells too short for an atlas:
        // then the old atlas stays, which is a working one too.
        if (engine.glyphAtlas() == atlas) {
            EXPECT_TRUE(atlasViewIsUsable(engine.atlasView())) << c.what;
        }
        expectWorkingAtlas(engine, c.what);
        EXPECT_LE(engine.faceName().size(), 31u) << c.what;
    }
}

TEST(FontRobustness, AThousandPointAtlasStaysWithinThePixelLimit)
{
    // 1000 points at 96 dpi: an em of 1333 pixels. The atlas is 96 cells
    // of some 1550 rows by twice the widest advance: a quarter of the pixel
    // limit, built in seconds.
    TextEngine engine;
    if (!engine.setDefaultFont("DejaVu Sans Mono", 1000, 400))
        GTEST_SKIP() << "no font installed";
    const auto start = std::chrono::steady_clock::now();
    engine.buildGlyphAtlas();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const ImageRecord* atlas = engine.glyphAtlas();
    ASSERT_NE(atlas, nullptr);
    const int64_t bytes = recordPitch(*atlas) * atlas->rowCount;
    std::printf("1000-point atlas: cell %d x %d, atlas %d x %d (%lld MiB), built in %.2f s\n",
                static_cast<int>(engine.maxGlyphWidth()), static_cast<int>(engine.cellHeight()),
                static_cast<int>(atlas->header.biWidth), static_cast<int>(atlas->rowCount),
                static_cast<long long>(bytes >> 20), seconds);
    EXPECT_LE(bytes, kMaxPixelBytes / 2);
    EXPECT_LT(seconds, 60.0);
    EXPECT_TRUE(atlasViewIsUsable(engine.atlasView()));
    engine.updateBlackLevelRange();
    EXPECT_LT(engine.blackLevelRange(), 255);
}

}  // namespace
