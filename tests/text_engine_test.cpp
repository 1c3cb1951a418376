#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/band_walk.h"
#include "engine/black_level.h"
#include "engine/text_engine.h"
#include "fake_font.h"
#include "image/picture_transform.h"
#include "platform/font.h"

using namespace morvel;
using morvel::testing::FakeFont;
using morvel::testing::filledGrayImage;

namespace {

// Writes every notification down as one line of text.
class Recorder : public EngineObserver {
public:
    std::vector<std::string> events;
    void statusText(int part, const std::string& text) override
    {
        events.push_back("status " + std::to_string(part) + " " + text);
    }
    void fontChanged() override { events.push_back("font"); }
    void atlasRebuilt() override { events.push_back("atlas"); }
    void atlasBlurred() override { events.push_back("blurred"); }
    void blackLevelRangeChanged(int32_t range) override { events.push_back("range " + std::to_string(range)); }
    void workingImageChanged() override { events.push_back("working"); }
    void generationStarted() override { events.push_back("started"); }
    void generationFinished() override { events.push_back("finished"); }
    void textChanged(const std::string& text) override { events.push_back("text " + std::to_string(text.size())); }
};

void startUp(TextEngine& engine,
             std::unique_ptr<GlyphRenderer> font = std::make_unique<FakeFont>(FakeFont::monospaced()))
{
    engine.useRenderer(std::move(font), "Lucida Console", 9);
    engine.buildGlyphAtlas();
    for (int i = 0; i < 3; ++i)
        engine.blurFont();
    engine.updateBlackLevelRange();
}

}  // namespace

TEST(TextEngine, InitialStateAndOperationsWithoutAtlasOrPicture)
{
    Recorder recorder;
    TextEngine engine(&recorder);
    EXPECT_EQ(engine.glyphCount(), 0);
    EXPECT_EQ(engine.atlasMargin(), 4);
    EXPECT_EQ(engine.cellHeight(), -1);
    EXPECT_EQ(engine.maxGlyphWidth(), -1);
    EXPECT_EQ(engine.blurCount(), 0);
    EXPECT_EQ(engine.displayName(), "No Image Loaded");
    EXPECT_EQ(engine.matchMode(), MatchMode::Correlation);
    EXPECT_EQ(engine.faceName(), "");
    EXPECT_EQ(engine.glyphAtlas(), nullptr);
    EXPECT_EQ(engine.font(), nullptr);

    engine.buildGlyphAtlas();  // no font yet
    engine.blurFont();
    engine.updateBlackLevelRange();
    engine.applyBlackLevel(0);  // no source yet
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(engine.blurCount(), 0);

    // A picture but no atlas: generation does nothing at all.
    engine.setSourceImage(filledGrayImage(40, 40, 9));
    engine.applyBlackLevel(0);
    recorder.events.clear();
    engine.generateTextImage(0);
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(engine.correlationScore(0, 0), 0);
}

TEST(TextEngine, StartUpSequence)
{
    Recorder recorder;
    TextEngine engine(&recorder);
    startUp(engine);
    EXPECT_EQ(engine.glyphCount(), 95);
    EXPECT_EQ(engine.cellHeight(), 12);
    EXPECT_EQ(engine.maxGlyphWidth(), 7);
    EXPECT_EQ(engine.blurCount(), 3);
    ASSERT_NE(engine.glyphAtlas(), nullptr);
    EXPECT_EQ(engine.glyphAtlas()->header.biWidth, 20);
    const int32_t range = darkestCellMean(engine.atlasView());
    EXPECT_GT(range, 0);
    EXPECT_LT(range, 255);
    EXPECT_EQ(engine.blackLevelRange(), range);
    const std::vector<std::string> expected = {
        "atlas",      "status 1 0", "status 0 Lucida Console 9",     "status 1 1", "blurred", "status 1 2", "blurred",
        "status 1 3", "blurred",    "range " + std::to_string(range)};
    EXPECT_EQ(recorder.events, expected);
}

TEST(TextEngine, RebuildGivesAnUnblurredAtlasAndKeepsTheRange)
{
    Recorder recorder;
    TextEngine engine(&recorder);
    startUp(engine);
    const int32_t range = engine.blackLevelRange();
    const std::vector<uint8_t> blurred(engine.glyphAtlas()->pixels, engine.glyphAtlas()->pixels + 20 * 1248);

    // The font command after a cancelled dialog: the same font rebuilt.
    recorder.events.clear();
    engine.buildGlyphAtlas();
    EXPECT_EQ(engine.blurCount(), 0);
    EXPECT_EQ(engine.blackLevelRange(), range);
    const std::vector<std::string> expected = {"atlas", "status 1 0", "status 0 Lucida Console 9"};
    EXPECT_EQ(recorder.events, expected);

    const auto fresh = renderGlyphAtlas(FakeFont::monospaced());
    const std::vector<uint8_t> sharp(engine.glyphAtlas()->pixels, engine.glyphAtlas()->pixels + 20 * 1248);
    EXPECT_EQ(sharp, std::vector<uint8_t>(fresh->atlas->pixels, fresh->atlas->pixels + 20 * 1248));
    EXPECT_NE(sharp, blurred);

    // A font whose atlas cannot be made leaves the old atlas and count alone.
    engine.blurFont();
    engine.useRenderer(std::make_unique<FakeFont>(0, 7), "Broken", 9);
    recorder.events.clear();
    engine.buildGlyphAtlas();
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(engine.blurCount(), 1);
    EXPECT_EQ(engine.cellHeight(), 12);
}

TEST(TextEngine, BlackLevelReplacesTheWorkingImage)
{
    Recorder recorder;
    TextEngine engine(&recorder);
    ImageHandle source = filledGrayImage(30, 30, 200);
    source->rows[0][0] = 10;
    engine.setSourceImage(std::move(source));
    engine.applyBlackLevel(100);
    ASSERT_NE(engine.workingImage(), nullptr);
    EXPECT_EQ(engine.workingImage()->rows[0][0], 100);
    EXPECT_EQ(engine.workingImage()->rows[5][5], 255);
    EXPECT_EQ(engine.sourceImage()->rows[0][0], 10);
    const ImageRecord* working = engine.workingImage();

    engine.applyBlackLevel(-1);
    engine.applyBlackLevel(256);
    EXPECT_EQ(engine.workingImage(), working);
    EXPECT_EQ(recorder.events, std::vector<std::string>{"working"});

    // A failed load: no source, the working image stays and levels do nothing.
    engine.setSourceImage(nullptr);
    engine.applyBlackLevel(0);
    EXPECT_EQ(engine.workingImage(), working);
    EXPECT_EQ(recorder.events.size(), 1u);
}

TEST(TextEngine, GenerationReportsLinesFooterAndWidth)
{
    Recorder recorder;
    TextEngine engine(&recorder);
    startUp(engine);
    engine.setDisplayName("cat.gif");
    engine.setSourceImage(filledGrayImage(100, 100, 128));
    engine.applyBlackLevel(0);
    recorder.events.clear();

    engine.generateTextImage(7);
    const std::string footer = "\r\n\r\ncat.gif\r\n9 Point Lucida Console\r\n(Blur 3, Black Level 7)\r\n";
    const std::string& text = engine.outputText();
    ASSERT_EQ(text.size(), 8 * 16 + footer.size());
    EXPECT_EQ(text.substr(8 * 16), footer);
    EXPECT_EQ(engine.widestLine(), 14);

    std::vector<std::string> expected = {"started"};
    for (int line = 1; line <= 8; ++line)
        expected.push_back("text " + std::to_string(line * 16));
    expected.push_back("text " + std::to_string(text.size()));
    expected.push_back("finished");
    expected.push_back("status 2 14 characters wide");
    EXPECT_EQ(recorder.events, expected);

    // Both modes agree with the choosers on a cell.
    engine.setMatchMode(MatchMode::Difference);
    engine.generateTextImage(7);
    EXPECT_EQ(engine.outputText()[0], static_cast<char>(engine.glyphTable()[engine.differenceScore(0, 0)].code));
    EXPECT_EQ(engine.correlationScore(94, 0), 0);  // the block would reach past the right edge
}

TEST(TextEngine, GeneratingWithoutAWorkingImageEmptiesTheTextBoxOnly)
{
    Recorder recorder;
    TextEngine engine(&recorder);
    startUp(engine);
    recorder.events.clear();
    engine.generateTextImage(0);  // nothing loaded: no status, no cursor, no text
    EXPECT_EQ(recorder.events, std::vector<std::string>{"text 0"});
    EXPECT_EQ(engine.outputText(), "");
    EXPECT_EQ(engine.widestLine(), 0);
}

TEST(TextEngine, ZeroWidthFontDoesNotHang)
{
    TextEngine engine;
    startUp(engine, std::make_unique<FakeFont>(12, 7, [](char) { return 0; }));
    engine.setSourceImage(filledGrayImage(20, 26, 90));
    engine.applyBlackLevel(0);
    engine.generateTextImage(0);
    EXPECT_EQ(engine.widestLine(), 20);
}

TEST(TextEngine, DefaultFontDescriptionAndDialogPointSize)
{
    Recorder recorder;
    TextEngine engine(&recorder, 96);
    if (!engine.setDefaultFont("Lucida Console", 9, 400))
        GTEST_SKIP() << "no font installed";
    const LogFont& d = engine.fontDescription();
    EXPECT_EQ(d.lfHeight, -12);
    EXPECT_EQ(d.lfWeight, 400);
    EXPECT_EQ(d.lfQuality, 1);
    EXPECT_EQ(d.lfOutPrecision, 3);
    EXPECT_EQ(d.lfClipPrecision, 2);
    EXPECT_EQ(d.lfWidth, 0);
    EXPECT_EQ(d.lfCharSet, 0);
    EXPECT_EQ(d.lfPitchAndFamily, 0);
    EXPECT_STREQ(d.lfFaceName, "Lucida Console");
    EXPECT_EQ(engine.pointSize(), 9);
    ASSERT_NE(engine.font(), nullptr);
    EXPECT_EQ(recorder.events, std::vector<std::string>{"font"});

    engine.buildGlyphAtlas();
    // The status bar names the face the glyphs are drawn in.
    EXPECT_EQ(recorder.events.back(), "status 0 " + engine.font()->faceUsed() + " 9");
    EXPECT_EQ(engine.glyphCount(), 95);

    LogFont chosen = d;
    chosen.lfHeight = -13;
    ASSERT_TRUE(engine.applyFontDescription(chosen));
    EXPECT_EQ(engine.pointSize(), 10);
    chosen.lfHeight = 13;
    ASSERT_TRUE(engine.applyFontDescription(chosen));
    EXPECT_EQ(engine.pointSize(), 10);

    // A size that makes no font keeps everything as it was.
    EXPECT_FALSE(engine.setDefaultFont("Lucida Console", 0, 400));
    EXPECT_EQ(engine.fontDescription().lfHeight, 13);
    EXPECT_EQ(engine.pointSize(), 10);
}

TEST(TextEngine, TextSizeBoundHoldsAndTooLargeTextsAreRefused)
{
    // The bound is exact for a monospaced font and never below the real
    // text for a proportional one.
    for (auto font : {FakeFont::monospaced(), FakeFont::proportional()}) {
        TextEngine engine;
        startUp(engine, std::make_unique<FakeFont>(font));
        for (auto [w, h] : {std::pair{100, 100}, {7, 30}, {300, 13}, {64, 25}}) {
            engine.setSourceImage(filledGrayImage(w, h, 140));
            engine.applyBlackLevel(0);
            const int64_t bound = textBytesUpperBound(*engine.workingImage(), engine.atlasView());
            const GeneratedText lines = engine.generateLines();
            EXPECT_GE(bound, static_cast<int64_t>(lines.text.size())) << w << " x " << h;
            if (font.advanceWidth('A') == font.advanceWidth('i')) {
                EXPECT_EQ(bound, static_cast<int64_t>(lines.text.size())) << w << " x " << h;
            }
        }
    }

    Recorder recorder;
    TextEngine engine(&recorder);
    startUp(engine);
    engine.setSourceImage(filledGrayImage(100, 100, 128));
    engine.applyBlackLevel(0);
    engine.generateTextImage(0);
    const std::string before = engine.outputText();
    engine.setTextLimit(8 * 16 - 1);  // one byte short of the 8 lines of 16
    recorder.events.clear();
    engine.generateTextImage(0);
    EXPECT_TRUE(engine.generateLines().tooLarge);
    EXPECT_EQ(engine.outputText(), "");
    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{"started", "text 0", "finished", "status 2 Text image too large"}));
    engine.setTextLimit(8 * 16);
    engine.generateTextImage(0);
    EXPECT_EQ(engine.outputText(), before);
}

TEST(TextEngine, CanvasWalkedBandByBandIsTheWholeCanvasWalked)
{
    // An enlarged canvas made and walked a few lines at a time gives the
    // text of the plain walk over the whole canvas, in every mode, on the
    // fast and the plain choosers, inverted or not, with black levels that
    // stretch (whose range is the whole canvas's), whatever the band
    // height; each line is seen with the whole text above it.
    TextEngine engine;
    startUp(engine);
    ImageHandle source = makeGrayImage(90, 31);
    ASSERT_TRUE(source);
    uint32_t seed = 12345;
    for (int32_t y = 0; y < 31; ++y)
        for (int32_t x = 0; x < 90; ++x) {
            seed = seed * 1103515245u + 12345u;
            source->rows[y][x] = static_cast<uint8_t>(40 + x + y * 3 + static_cast<int32_t>(seed >> 27));
        }
    const int32_t width = 40 * engine.maxGlyphWidth();
    const int32_t height = 30 * engine.cellHeight() + 5;
    const int32_t canvasWidth = width + engine.maxGlyphWidth();
    const int32_t canvasHeight = height + engine.cellHeight();
    const AtlasView view = engine.atlasView();
    const FastMatcher matcher(view);
    struct Case {
        MatchMode mode;
        bool invert;
        int32_t level;
        int32_t bandLines;
        bool fast;
    };
    for (const Case& c :
         {Case{MatchMode::Correlation, false, 0, 1, true}, Case{MatchMode::Difference, true, 90, 7, true},
          Case{MatchMode::Tone, true, 0, 4, true}, Case{MatchMode::Tone, false, 200, 29, true},
          Case{MatchMode::Correlation, true, 60, 3, false}, Case{MatchMode::Difference, false, 0, 30, false}}) {
        SCOPED_TRACE(static_cast<int>(c.mode) * 1000 + c.bandLines);
        std::optional<ToneSetup> tone;
        if (c.mode == MatchMode::Tone)
            tone = makeToneSetup(view, engine.glyphCellSums(), kToneRamp, c.level, 0.9);
        ImageHandle canvas = fitGray(*source, width, height, canvasWidth, canvasHeight);
        ASSERT_TRUE(canvas);
        if (c.invert)
            invertGray(*canvas);
        std::string expected;
        if (tone) {
            expected = generateToneText(*canvas, *tone, nullptr).text;
        } else {
            const ImageHandle stretched = stretchToBlackLevel(*canvas, c.level);
            ASSERT_TRUE(stretched);
            expected = generateText(*stretched, view, c.mode, nullptr).text;
        }
        FittedRows rows(*source, width, height, canvasWidth, canvasHeight);
        const WalkChoice choice{&view,   c.fast ? &matcher : nullptr, tone ? &*tone : nullptr, c.mode, 2, c.level,
                                c.invert};
        const int64_t bandBytes = (int64_t{c.bandLines} * engine.cellHeight() + 1) * imageRowPitch(canvasWidth, 8);
        std::vector<std::string> seen;
        const GeneratedText banded = walkFittedCanvas(
            rows, choice, nullptr, [&seen](const std::string& soFar) { seen.push_back(soFar); }, bandBytes);
        ASSERT_FALSE(banded.tooLarge);
        EXPECT_EQ(banded.text, expected);
        ASSERT_EQ(seen.size(), static_cast<size_t>(bandCount(canvasHeight, engine.cellHeight())));
        for (size_t line = 0; line + 1 < seen.size(); ++line)
            EXPECT_EQ(expected.compare(0, seen[line].size(), seen[line]), 0) << line;
        EXPECT_EQ(seen.back(), expected);
    }
}
