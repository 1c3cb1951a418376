// The converter's text must be exactly what the engine's Generate makes for
// the same picture and settings, footer and CR LF line ends included.

#include <gtest/gtest.h>

#include <string>

#include "engine/text_engine.h"
#include "engine/tone_match.h"
#include "image/load_picture.h"
#include "image/picture_transform.h"
#include "tests/cli/run_converter.h"

namespace {

const std::string kSamples = std::string(MORVEL_SOURCE_DIR) + "/res/samples/";

using morvel::testing::runConverter;

struct Settings {
    int32_t blur = 3;
    morvel::MatchMode mode = morvel::MatchMode::Correlation;
    bool maxBlackLevel = false;
};

// The window's start-up sequence and Generate, driven directly.
std::string engineText(const std::string& picture, const Settings& s)
{
    morvel::TextEngine engine;
    EXPECT_TRUE(engine.setDefaultFont("Lucida Console", 9, 400));
    engine.buildGlyphAtlas();
    for (int32_t i = 0; i < s.blur; ++i)
        engine.blurFont();
    engine.updateBlackLevelRange();
    engine.setMatchMode(s.mode);
    const int32_t level = s.maxBlackLevel ? engine.blackLevelRange() : 0;
    morvel::ImageHandle source = morvel::loadPicture(kSamples + picture);
    EXPECT_TRUE(source);
    engine.setSourceImage(std::move(source));
    engine.applyBlackLevel(level);
    engine.setDisplayName(picture);
    engine.generateTextImage(level);
    return engine.outputText();
}

TEST(ConverterMatchesEngine, WindowDefaultsOnBothSamples)
{
    // Correlation at black level 0 with CR LF line ends: the window's text.
    for (const char* picture : {"sphere.jpg", "hills.gif"}) {
        int status = -1;
        const std::string text = runConverter(
            "--columns natural --footer --match correlation --black-level 0 --crlf '" + kSamples + picture + "'",
            &status);
        EXPECT_EQ(status, 0) << picture;
        EXPECT_EQ(text, engineText(picture, Settings{})) << picture;
    }
}

TEST(ConverterMatchesEngine, DifferenceModeOneBlurMaxBlackLevel)
{
    int status = -1;
    const std::string text = runConverter(
        "--columns natural --footer --crlf --match difference --blur 1 --black-level max '" + kSamples + "sphere.jpg'",
        &status);
    EXPECT_EQ(status, 0);
    Settings s;
    s.blur = 1;
    s.mode = morvel::MatchMode::Difference;
    s.maxBlackLevel = true;
    EXPECT_EQ(text, engineText("sphere.jpg", s));
}

TEST(ConverterMatchesEngine, ToneModeInvertedWithGamma)
{
    // The picture inverted before the tone curve; the footer gives the level
    // in force, the densest ramp character's tone.
    int status = -1;
    const std::string text =
        runConverter("--columns natural --footer --crlf --invert --gamma 1.5 '" + kSamples + "hills.gif'", &status);
    EXPECT_EQ(status, 0);
    morvel::TextEngine engine;
    ASSERT_TRUE(engine.setDefaultFont("Lucida Console", 9, 400));
    engine.buildGlyphAtlas();
    for (int32_t i = 0; i < 3; ++i)
        engine.blurFont();
    const auto setup = morvel::makeToneSetup(engine.atlasView(), engine.glyphCellSums(), morvel::kToneRamp, 0, 1.5);
    ASSERT_TRUE(setup);
    morvel::ImageHandle picture = morvel::loadPicture(kSamples + "hills.gif");
    ASSERT_TRUE(picture);
    morvel::invertGray(*picture);
    const morvel::TextFooter footer{"hills.gif", 9, engine.drawnFaceName(), 3, setup->blackLevel};
    EXPECT_EQ(text, morvel::generateToneText(*picture, *setup, &footer).text + "Inverted\r\n");
    EXPECT_GT(setup->blackLevel, 100);
}

}  // namespace
