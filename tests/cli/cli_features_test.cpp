// The converter's width, standard-input, inversion and documentation
// features, checked against its output and against the engine itself.

#include <gtest/gtest.h>
#include <spng.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/text_engine.h"
#include "image/load_picture.h"
#include "image/picture_transform.h"
#include "tests/cli/run_converter.h"
#include "tests/test_files.h"

namespace fs = std::filesystem;

namespace {

const std::string kSamples = std::string(MORVEL_SOURCE_DIR) + "/res/samples/";

using morvel::testing::runConverter;

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The engine as the converter sets it up by default.
void prepareEngine(morvel::TextEngine& engine)
{
    ASSERT_TRUE(engine.setDefaultFont("Lucida Console", 9, 400));
    engine.buildGlyphAtlas();
    for (int i = 0; i < 3; ++i)
        engine.blurFont();
    engine.updateBlackLevelRange();
}

// Writes an 8-bit gray PNG of the picture into `path`.
void writeGrayPng(const morvel::ImageRecord& picture, const fs::path& path)
{
    std::vector<uint8_t> samples;
    for (int32_t y = 0; y < picture.rowCount; ++y)
        samples.insert(samples.end(), picture.rows[y], picture.rows[y] + picture.header.biWidth);
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = static_cast<uint32_t>(picture.header.biWidth);
    ihdr.height = static_cast<uint32_t>(picture.rowCount);
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_GRAYSCALE;
    spng_set_ihdr(ctx, &ihdr);
    ASSERT_EQ(spng_encode_image(ctx, samples.data(), samples.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE), 0);
    size_t length = 0;
    int error = 0;
    void* png = spng_get_png_buffer(ctx, &length, &error);
    std::ofstream(path, std::ios::binary).write(static_cast<const char*>(png), static_cast<std::streamsize>(length));
    std::free(png);
    spng_ctx_free(ctx);
}

class ConverterFeatures : public ::testing::Test {
protected:
    morvel::testing::TempDir dir_{"morvel-cli-features"};
};

}  // namespace

TEST_F(ConverterFeatures, ColumnsGiveThatManyCharactersAndKeepTheAspect)
{
    morvel::TextEngine engine;
    prepareEngine(engine);
    const double m = engine.maxGlyphWidth();
    const double h = engine.cellHeight();

    // A tall picture besides the two wide samples.
    morvel::ImageHandle tall = morvel::makeGrayImage(240, 900);
    for (int32_t y = 0; y < 900; ++y)
        for (int32_t x = 0; x < 240; ++x)
            tall->rows[y][x] = static_cast<uint8_t>((x * 3 + y / 4) % 256);
    writeGrayPng(*tall, dir_.path() / "tall.png");

    const std::vector<std::pair<std::string, std::pair<int, int>>> pictures = {
        {kSamples + "sphere.jpg", {800, 560}}, {kSamples + "hills.gif", {800, 520}}, {(dir_.path() / "tall.png").string(), {240, 900}}};
    for (const auto& [path, size] : pictures) {
        for (int columns : {40, 80, 200}) {
            int status = -1;
            const auto lines = linesOf(runConverter("--no-footer --columns " + std::to_string(columns) + " '" + path + "'", &status));
            EXPECT_EQ(status, 0) << path;
            ASSERT_FALSE(lines.empty()) << path << " " << columns;
            for (const std::string& line : lines)
                ASSERT_EQ(line.size(), static_cast<size_t>(columns)) << path << " at " << columns << " columns";
            // The text block, columns x m by lines x h pixels of the font,
            // has the picture's aspect within one line: a tall picture too,
            // whose height would grow by several lines if the extra glyph
            // width were picture instead of extended edge.
            const double expectedLines = columns * m * size.second / size.first / h;
            EXPECT_NEAR(static_cast<double>(lines.size()), expectedLines, 1.0) << path << " at " << columns;
        }
    }
}

TEST_F(ConverterFeatures, ScaledInvertedTextIsTheEnginesOnThatPicture)
{
    // Scaling to 70 glyph widths (the edges extended by one glyph width and
    // one cell height, which the walk leaves out), then inversion, then the
    // black level (here the highest): the engine's text on that picture.
    int status = -1;
    const std::string text = runConverter("--match correlation --crlf --columns 70 --invert --black-level max '" + kSamples + "sphere.jpg'", &status);
    EXPECT_EQ(status, 0);

    morvel::TextEngine engine;
    prepareEngine(engine);
    morvel::ImageHandle picture = morvel::loadPicture(kSamples + "sphere.jpg");
    ASSERT_TRUE(picture);
    const int32_t width = 70 * engine.maxGlyphWidth();
    const auto height = static_cast<int32_t>(std::llround(560.0 * width / 800));
    morvel::ImageHandle resized = morvel::resizeGray(*picture, width, height);
    ASSERT_TRUE(resized);
    morvel::ImageHandle scaled =
        morvel::extendGray(*resized, width + engine.maxGlyphWidth(), height + engine.cellHeight());
    ASSERT_TRUE(scaled);
    morvel::invertGray(*scaled);
    engine.setSourceImage(std::move(scaled));
    engine.applyBlackLevel(engine.blackLevelRange());
    engine.setDisplayName("sphere.jpg");
    engine.generateTextImage(engine.blackLevelRange());
    EXPECT_EQ(text, engine.outputText() + "Inverted\r\n");
}

TEST_F(ConverterFeatures, StandardInputReadsEachFormat)
{
    morvel::ImageHandle sphere = morvel::loadPicture(kSamples + "sphere.jpg");
    ASSERT_TRUE(sphere);
    writeGrayPng(*sphere, dir_.path() / "sphere.png");
    for (const std::string& path : {kSamples + "hills.gif", kSamples + "sphere.jpg", (dir_.path() / "sphere.png").string()}) {
        int fileStatus = -1, stdinStatus = -1;
        const std::string fromFile = runConverter("--columns 60 '" + path + "'", &fileStatus);
        auto fromStdin = linesOf(runConverter("--columns 60 - < '" + path + "'", &stdinStatus));
        EXPECT_EQ(fileStatus, 0) << path;
        EXPECT_EQ(stdinStatus, 0) << path;
        // Only the display-name line differs: "stdin" for standard input.
        auto named = std::find(fromStdin.begin(), fromStdin.end(), "stdin");
        ASSERT_NE(named, fromStdin.end()) << path;
        *named = fs::path(path).filename().string();
        EXPECT_EQ(fromStdin, linesOf(fromFile)) << path;
    }
    // Something that is no picture, or nothing at all.
    int status = -1;
    EXPECT_EQ(runConverter("- < /dev/null", &status), "");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(runConverter("- < '" + std::string(MORVEL_SOURCE_DIR) + "/README.md'", &status), "");
    EXPECT_EQ(status, 1);
}

TEST_F(ConverterFeatures, InvertedWhiteIsTheDensestGlyphInDifferenceMode)
{
    morvel::ImageHandle white = morvel::makeGrayImage(300, 120);
    for (int32_t y = 0; y < 120; ++y)
        std::fill(white->rows[y], white->rows[y] + 300, uint8_t{255});
    writeGrayPng(*white, dir_.path() / "white.png");

    // The glyph whose blurred cell has the darkest mean, the first on a tie.
    morvel::TextEngine engine;
    prepareEngine(engine);
    const morvel::AtlasView view = engine.atlasView();
    char densest = ' ';
    double darkest = 256.0;
    for (int32_t g = 0; g < view.glyphCount; ++g) {
        const morvel::GlyphEntry& entry = view.glyphs[g];
        double sum = 0;
        for (int32_t r = 0; r < view.cellHeight; ++r)
            for (int32_t j = 0; j < entry.width; ++j)
                sum += view.atlas->rows[entry.top + r][view.margin + j];
        const double mean = sum / (view.cellHeight * entry.width);
        if (mean < darkest) {
            darkest = mean;
            densest = static_cast<char>(entry.code);
        }
    }
    ASSERT_NE(densest, ' ');

    int status = -1;
    const std::string path = (dir_.path() / "white.png").string();
    const auto lines = linesOf(runConverter("--invert --match difference --no-footer '" + path + "'", &status));
    EXPECT_EQ(status, 0);
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines)
        ASSERT_EQ(line, std::string(line.size(), densest));
    // Uninverted, white is the lightest glyph: the space.
    for (const std::string& line : linesOf(runConverter("--match difference --no-footer '" + path + "'")))
        ASSERT_EQ(line, std::string(line.size(), ' '));
    // The footer's last line says so.
    const auto footer = linesOf(runConverter("--match correlation --invert '" + path + "'"));
    ASSERT_GE(footer.size(), 2u);
    EXPECT_EQ(footer[footer.size() - 2], "(Blur 3, Black Level 0)");
    EXPECT_EQ(footer.back(), "Inverted");
}

namespace {

// Plain text of a roff man page: font changes and escapes dropped, macro
// lines reduced to their arguments, all white space made single spaces.
std::string manText(const std::string& roff)
{
    std::string text;
    for (const std::string& raw : linesOf(roff)) {
        std::string line = raw;
        if (!line.empty() && line[0] == '.') {
            const size_t space = line.find(' ');
            line = space == std::string::npos ? "" : line.substr(space + 1);
            line = std::regex_replace(line, std::regex("\""), "");
        }
        line = std::regex_replace(line, std::regex(R"(\\f[BIRP])"), "");
        line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
        line = std::regex_replace(line, std::regex(R"(\\\(mu)"), "x");
        text += line + " ";
    }
    return std::regex_replace(text, std::regex(R"(\s+)"), " ");
}

// Options of the --help text (the first word of each entry) with their
// descriptions, continuation lines joined.
std::map<std::string, std::string> helpEntries(const std::string& help)
{
    std::map<std::string, std::string> entries;
    std::string current;
    const std::regex entry(R"(^  (-{1,2}[a-z-]+|PICTURE)\b.*?  +(\S.*)$)");
    const std::regex continuation(R"(^ {20,}(\S.*)$)");
    std::smatch match;
    for (const std::string& line : linesOf(help)) {
        if (std::regex_match(line, match, entry)) {
            current = match[1];
            entries[current] = match[2];
        } else if (!current.empty() && std::regex_match(line, match, continuation)) {
            entries[current] += " " + std::string(match[1]);
        } else {
            current.clear();
        }
    }
    return entries;
}

}  // namespace

TEST(ConverterDocumentation, HelpAndManPageListTheSameOptionsInTheSameWords)
{
    int status = -1;
    const auto help = helpEntries(runConverter("--help", &status));
    EXPECT_EQ(status, 0);
    std::ifstream file(std::string(MORVEL_SOURCE_DIR) + "/cli/morvel-text.1");
    ASSERT_TRUE(file);
    const std::string roff((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());

    // The options the man page describes: the first word after each .TP in
    // its OPTIONS section.
    std::set<std::string> manOptions;
    const auto lines = linesOf(roff);
    bool inOptions = false;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].rfind(".SH", 0) == 0)
            inOptions = lines[i] == ".SH OPTIONS";
        if (inOptions && lines[i] == ".TP") {
            std::istringstream words(manText(lines[i + 1]));
            std::string first;
            words >> first;
            manOptions.insert(first);
        }
    }
    std::set<std::string> helpOptions;
    for (const auto& [option, description] : help)
        helpOptions.insert(option);
    EXPECT_GE(helpOptions.size(), 18u);
    EXPECT_EQ(manOptions, helpOptions);

    // Each description in the help reads word for word in the man page.
    const std::string page = manText(roff);
    for (const auto& [option, description] : help) {
        const std::string words = std::regex_replace(description, std::regex(R"(\s+)"), " ");
        EXPECT_NE(page.find(words), std::string::npos) << option << ": \"" << words << "\" is not in the man page";
    }
}
