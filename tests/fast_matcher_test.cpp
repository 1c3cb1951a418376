// The fast choosers and the parallel walk against the plain reference: the
// same glyph for every cell and the same text byte for byte, on random
// pictures, in both match modes, with monospaced, proportional and tie-heavy
// glyph tables, several blur counts and black levels, on every instruction
// set this processor has and for several thread counts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/black_level.h"
#include "engine/blur.h"
#include "engine/fast_black_level.h"
#include "engine/fast_matcher.h"
#include "engine/match_kernels.h"
#include "engine/parallel_walk.h"
#include "engine/text_engine.h"
#include "fake_font.h"

using namespace morvel;
using morvel::testing::FakeFont;
using morvel::testing::viewOf;

namespace {

std::vector<SimdLevel> levelsHere()
{
    std::vector<SimdLevel> levels;
    for (SimdLevel level : {SimdLevel::Scalar, SimdLevel::Avx2, SimdLevel::Avx512, SimdLevel::Avx512Vnni})
        if (simdLevelSupported(level))
            levels.push_back(level);
    return levels;
}

// A picture made of patches of different kinds: noise, all 0, uniform at a
// random level, only the extremes 0 and 255, and a ramp.
ImageHandle randomPicture(std::mt19937& rng, int32_t width, int32_t height)
{
    ImageHandle picture = makeGrayImage(width, height);
    std::uniform_int_distribution<int> level(0, 255);
    const int32_t patch = 5 + static_cast<int32_t>(rng() % 9);
    for (int32_t py = 0; py < height; py += patch) {
        for (int32_t px = 0; px < width; px += patch) {
            const int kind = static_cast<int>(rng() % 5);
            const int uniform = level(rng);
            for (int32_t y = py; y < std::min(height, py + patch); ++y) {
                for (int32_t x = px; x < std::min(width, px + patch); ++x) {
                    int v = 0;
                    switch (kind) {
                    case 0: v = level(rng); break;
                    case 1: v = 0; break;
                    case 2: v = uniform; break;
                    case 3: v = (rng() & 1) ? 255 : 0; break;
                    default: v = (x * 7 + y * 3) % 256; break;
                    }
                    picture->rows[y][x] = static_cast<uint8_t>(v);
                }
            }
        }
    }
    return picture;
}

struct FontCase {
    std::string name;
    std::shared_ptr<FakeFont> font;
};

std::vector<FontCase> fontCases()
{
    std::vector<FontCase> cases;
    cases.push_back({"monospaced", std::make_shared<FakeFont>(FakeFont::monospaced())});
    cases.push_back({"proportional", std::make_shared<FakeFont>(FakeFont::proportional())});
    // Gray glyphs with random levels, widths 0 to 9 (the space is 0 wide),
    // cells 13 high: h x m is odd, so the last pixel pair is half padding.
    auto noise = std::make_shared<std::vector<uint8_t>>(95 * 13 * 9);
    std::mt19937 rng(7);
    for (uint8_t& v : *noise)
        v = static_cast<uint8_t>(rng() % 256);
    cases.push_back({"gray", std::make_shared<FakeFont>(
                                 13, 9, [](char c) { return (static_cast<int32_t>(c) * 5) % 10; },
                                 [noise](char c, int32_t r, int32_t j) {
                                     return (*noise)[((static_cast<size_t>(c) - 32) * 13 + r) * 9 + j];
                                 })});
    // Only three distinct glyphs, repeated over the table: ties everywhere,
    // which must go to the lower code exactly as in the plain choosers.
    cases.push_back({"ties", std::make_shared<FakeFont>(
                                 10, 6, [](char) { return 6; },
                                 [](char c, int32_t r, int32_t j) {
                                     const int kind = static_cast<int>(c) % 3;
                                     return static_cast<uint8_t>(kind == 0 ? 255 : kind == 1 ? 40 * j : 20 * r);
                                 })});
    return cases;
}

// Compares every fast chooser with the plain one at block positions all over
// the picture (every row, every other column); returns the number compared.
int compareCells(const ImageRecord& picture, const AtlasView& view, const std::vector<FastMatcher>& fast,
                 MatchMode mode)
{
    std::vector<FastMatcher::Scratch> scratch;
    for (const FastMatcher& f : fast)
        scratch.emplace_back(f);
    int compared = 0;
    for (int32_t y = 0; y + view.cellHeight <= picture.rowCount; ++y) {
        for (int32_t x = y % 2; x + view.maxGlyphWidth <= picture.header.biWidth; x += 2) {
            const int32_t plain = mode == MatchMode::Correlation ? correlationScore(picture, view, x, y)
                                                                 : differenceScore(picture, view, x, y);
            for (size_t i = 0; i < fast.size(); ++i) {
                const int32_t chosen = fast[i].choose(mode, picture, x, y, scratch[i]);
                if (plain != chosen) {
                    ADD_FAILURE() << simdLevelName(fast[i].simdLevel()) << " cell (" << x << ", " << y
                                  << "): plain " << plain << ", fast " << chosen;
                    return compared;
                }
            }
            ++compared;
        }
    }
    return compared;
}

}  // namespace

TEST(FastMatcher, ChoosesTheSameGlyphAsThePlainChoosersEverywhere)
{
    std::mt19937 rng(2024);
    for (const FontCase& fc : fontCases()) {
        std::optional<BuiltAtlas> built = renderGlyphAtlas(*fc.font);
        ASSERT_TRUE(built) << fc.name;
        for (int blur = 0; blur <= 4; ++blur) {
            if (blur > 0)
                blurImage(built->atlas.get());
            const AtlasView view = viewOf(*built);
            ImageHandle picture = randomPicture(rng, 31 + blur * 6, 29 + blur * 4);
            std::vector<FastMatcher> fast;
            for (SimdLevel level : levelsHere()) {
                fast.emplace_back(view, level);
                ASSERT_TRUE(fast.back().usable());
                EXPECT_EQ(fast.back().simdLevel(), level);
            }
            for (MatchMode mode : {MatchMode::Correlation, MatchMode::Difference}) {
                SCOPED_TRACE(fc.name + " blur " + std::to_string(blur) +
                             (mode == MatchMode::Correlation ? " correlation" : " difference"));
                EXPECT_GT(compareCells(*picture, view, fast, mode), 100);
            }
        }
    }
}

TEST(FastMatcher, WalkGivesThePlainTextForAnyThreadCount)
{
    std::mt19937 rng(99);
    const int32_t blackLevels[] = {0, 1, 77, 200};
    for (const FontCase& fc : fontCases()) {
        std::optional<BuiltAtlas> built = renderGlyphAtlas(*fc.font);
        ASSERT_TRUE(built);
        for (int blur = 0; blur <= 4; blur += 2) {
            if (blur > 0) {
                blurImage(built->atlas.get());
                blurImage(built->atlas.get());
            }
            const AtlasView view = viewOf(*built);
            // Odd sizes, and a last band and column that must be left out.
            ImageHandle source = randomPicture(rng, 97 + blur, 83 + 2 * blur);
            const FastMatcher fast(view);
            for (int32_t level : blackLevels) {
                ImageHandle working = stretchToBlackLevel(*source, level);
                ASSERT_TRUE(working);
                const TextFooter footer{"pic.gif", 9, "Face", blur, level};
                for (MatchMode mode : {MatchMode::Correlation, MatchMode::Difference}) {
                    SCOPED_TRACE(fc.name + " blur " + std::to_string(blur) + " level " + std::to_string(level));
                    std::vector<std::string> plainLines;
                    const GeneratedText plain = generateText(
                        *working, view, mode, &footer, [&](const std::string& s) { plainLines.push_back(s); });
                    for (int jobs : {1, 2, 3, 7}) {
                        std::vector<std::string> lines;
                        const GeneratedText text = generateTextFast(
                            *working, fast, mode, &footer, [&](const std::string& s) { lines.push_back(s); }, jobs);
                        EXPECT_EQ(text.text, plain.text) << jobs << " jobs";
                        EXPECT_EQ(text.widest, plain.widest);
                        EXPECT_EQ(lines, plainLines) << jobs << " jobs";
                    }
                }
            }
        }
    }
}

TEST(FastMatcher, EdgeSizedPicturesAndUnusableInputs)
{
    std::optional<BuiltAtlas> built = renderGlyphAtlas(FakeFont::proportional());
    ASSERT_TRUE(built);
    const AtlasView view = viewOf(*built);
    const FastMatcher fast(view);
    std::mt19937 rng(5);
    // At most h rows: no lines; 2h rows: one; no wider than m: empty lines.
    for (auto [w, h] : {std::pair{40, 12}, std::pair{40, 24}, std::pair{7, 40}, std::pair{8, 25}, std::pair{1, 1}}) {
        ImageHandle picture = randomPicture(rng, w, h);
        for (MatchMode mode : {MatchMode::Correlation, MatchMode::Difference}) {
            const GeneratedText plain = generateText(*picture, view, mode, nullptr);
            for (int jobs : {1, 3}) {
                const GeneratedText text = generateTextFast(*picture, fast, mode, nullptr, {}, jobs);
                EXPECT_EQ(text.text, plain.text) << w << "x" << h;
                EXPECT_EQ(text.widest, plain.widest);
            }
        }
    }
    AtlasView broken = view;
    broken.maxGlyphWidth = 3;  // narrower than some glyphs: refused, like the plain walk does
    const FastMatcher refused(broken);
    EXPECT_FALSE(refused.usable());
    ImageHandle picture = randomPicture(rng, 50, 50);
    const TextFooter footer{"x", 1, "F", 0, 0};
    EXPECT_EQ(generateTextFast(*picture, refused, MatchMode::Correlation, &footer, {}, 2).text,
              formatFooter(footer));
}

TEST(FastMatcher, LargeCellsSumPastThe32BitChunks)
{
    // 200 x 170 cells: 17000 pixel pairs, more than one 32-bit chunk, and on
    // white with white glyphs every lane reaches its largest sum.
    const FakeFont font(200, 170, [](char c) { return 100 + (static_cast<int32_t>(c) % 71); });
    std::optional<BuiltAtlas> built = renderGlyphAtlas(font);
    ASSERT_TRUE(built);
    blurImage(built->atlas.get());
    const AtlasView view = viewOf(*built);
    std::mt19937 rng(11);
    ImageHandle white = morvel::testing::filledGrayImage(180, 205, 255);
    ImageHandle noise = randomPicture(rng, 180, 205);
    for (SimdLevel level : levelsHere()) {
        const FastMatcher fast(view, level);
        FastMatcher::Scratch scratch(fast);
        for (const ImageRecord* picture : {white.get(), noise.get()}) {
            for (auto [x, y] : {std::pair{0, 0}, std::pair{9, 5}}) {
                EXPECT_EQ(fast.choose(MatchMode::Correlation, *picture, x, y, scratch),
                          correlationScore(*picture, view, x, y))
                    << simdLevelName(level);
                EXPECT_EQ(fast.choose(MatchMode::Difference, *picture, x, y, scratch),
                          differenceScore(*picture, view, x, y))
                    << simdLevelName(level);
            }
        }
    }
}

TEST(MatchKernels, EveryInstructionSetGivesTheScalarSums)
{
    std::mt19937 rng(3);
    const std::vector<SimdLevel> levels = levelsHere();
    // Short and long cells (the longest spans three 32-bit chunks); random
    // values, and the extremes, where even glyphs meet a white picture with
    // white pixels only and their lanes take the largest sums there are.
    for (size_t pairs : {size_t{1}, size_t{53}, size_t{40000}}) {
        for (bool extremes : {false, true}) {
            const size_t stride = 3 * kMatchGlyphBlock;
            std::vector<uint16_t> picture(2 * pairs);
            std::vector<uint32_t> words(pairs * stride);
            for (uint16_t& p : picture)
                p = extremes ? 255 : static_cast<uint16_t>(rng() % 256);
            for (size_t i = 0; i < words.size(); ++i)
                words[i] = !extremes ? (rng() % 256) | (rng() % 256) << 16
                                     : (i % 2 == 0 || (rng() & 1)) ? 0x00FF00FFu : 0u;
            std::vector<double> expectProducts(stride), expectDifferences(stride);
            const MatchKernels scalar = matchKernels(SimdLevel::Scalar);
            scalar.products(picture.data(), words.data(), pairs, stride, expectProducts.data());
            scalar.differences(picture.data(), words.data(), pairs, stride, expectDifferences.data());
            // The scalar sums themselves, for the first glyph, the long way.
            int64_t product0 = 0;
            int64_t difference0 = 0;
            for (size_t k = 0; k < pairs; ++k) {
                const int64_t a0 = words[k * stride] & 0xFFFF;
                const int64_t a1 = words[k * stride] >> 16;
                product0 += a0 * picture[2 * k] + a1 * picture[2 * k + 1];
                difference0 += std::abs(picture[2 * k] - a0) + std::abs(picture[2 * k + 1] - a1);
            }
            EXPECT_EQ(expectProducts[0], static_cast<double>(product0));
            EXPECT_EQ(expectDifferences[0], static_cast<double>(difference0));
            for (SimdLevel level : levels) {
                std::vector<double> products(stride, -1), differences(stride, -1);
                const MatchKernels kernels = matchKernels(level);
                kernels.products(picture.data(), words.data(), pairs, stride, products.data());
                kernels.differences(picture.data(), words.data(), pairs, stride, differences.data());
                EXPECT_EQ(products, expectProducts) << simdLevelName(level) << " " << pairs;
                EXPECT_EQ(differences, expectDifferences) << simdLevelName(level) << " " << pairs;
            }
        }
    }
}

TEST(MatchKernels, EveryInstructionSetRoundsTheScoresAlike)
{
    // Zeros make 0 / 0 and x / 0; large odd integers make the roundings count.
    std::mt19937_64 rng(8);
    const size_t count = 2 * kMatchGlyphBlock;
    std::vector<double> c(count), a(count), b(count);
    for (size_t g = 0; g < count; ++g) {
        c[g] = g % 7 == 0 ? 0.0 : static_cast<double>(rng() % (uint64_t{1} << 40));
        a[g] = g % 11 == 0 ? 0.0 : static_cast<double>(rng() % (uint64_t{1} << 45) + 1);
        b[g] = g % 5 == 0 ? 0.0 : static_cast<double>(rng() % (uint64_t{1} << 38));
    }
    auto same = [](const std::vector<double>& x, const std::vector<double>& y) {
        for (size_t i = 0; i < x.size(); ++i)
            if (!(x[i] == y[i] || (x[i] != x[i] && y[i] != y[i])))
                return false;
        return true;
    };
    std::vector<double> expectCorrelation(count), expectDifference(count);
    for (size_t g = 0; g < count; ++g) {
        expectCorrelation[g] = (c[g] * c[g]) / (a[g] * b[g]);
        expectDifference[g] = (c[g] - b[g]) / a[g];
    }
    for (SimdLevel level : levelsHere()) {
        const MatchKernels kernels = matchKernels(level);
        std::vector<double> correlation(count), difference(count);
        kernels.correlationScores(c.data(), a.data(), b.data(), count, correlation.data());
        kernels.differenceScores(c.data(), a.data(), b.data(), count, difference.data());
        EXPECT_TRUE(same(correlation, expectCorrelation)) << simdLevelName(level);
        EXPECT_TRUE(same(difference, expectDifference)) << simdLevelName(level);
    }
}

TEST(FastMatcher, EngineGeneratesThePlainTextOnTheDefaultFont)
{
    // The real font when one is installed: the start-up atlas, three blurs.
    TextEngine engine;
    if (!engine.setDefaultFont("Lucida Console", 9, 400))
        GTEST_SKIP() << "no font installed";
    engine.buildGlyphAtlas();
    ASSERT_NE(engine.glyphAtlas(), nullptr);
    std::mt19937 rng(17);
    for (int blur = 0; blur <= 4; ++blur) {
        if (blur > 0)
            engine.blurFont();  // the prepared glyphs must follow every blur
        engine.setSourceImage(randomPicture(rng, 181, 97));
        engine.applyBlackLevel(blur * 20);
        ASSERT_NE(engine.workingImage(), nullptr);
        for (MatchMode mode : {MatchMode::Correlation, MatchMode::Difference}) {
            engine.setMatchMode(mode);
            const TextFooter footer{engine.displayName(), engine.pointSize(), engine.faceName(), blur, blur * 20};
            const GeneratedText plain = generateText(*engine.workingImage(), engine.atlasView(), mode, &footer);
            for (int jobs : {1, 2}) {
                engine.setJobs(jobs);
                engine.generateTextImage(blur * 20);
                EXPECT_EQ(engine.outputText(), plain.text) << "blur " << blur << ", " << jobs << " jobs";
                EXPECT_EQ(engine.widestLine(), plain.widest);
                EXPECT_EQ(engine.generateLines(&footer).text, plain.text);
            }
        }
    }
}

TEST(FastBlackLevel, StretchesExactlyAsThePlainLoop)
{
    std::mt19937 rng(21);
    auto samePixels = [](const ImageRecord& x, const ImageRecord& y) {
        if (x.rowCount != y.rowCount || x.header.biWidth != y.header.biWidth)
            return false;
        const int64_t pitch = recordPitch(x);  // fill bytes included
        for (int32_t r = 0; r < x.rowCount; ++r)
            if (std::memcmp(x.rows[r], y.rows[r], static_cast<size_t>(pitch)) != 0)
                return false;
        return true;
    };
    std::vector<ImageHandle> pictures;
    pictures.push_back(randomPicture(rng, 37, 23));                   // odd width: fill bytes
    pictures.push_back(morvel::testing::filledGrayImage(9, 5, 140));  // uniform: copied as it is
    ImageHandle narrow = makeGrayImage(13, 7);                        // levels 60..190 only
    for (int32_t y = 0; y < 7; ++y)
        for (int32_t x = 0; x < 13; ++x)
            narrow->rows[y][x] = static_cast<uint8_t>(60 + (x * 11 + y * 7) % 131);
    pictures.push_back(std::move(narrow));
    for (const ImageHandle& picture : pictures) {
        for (int32_t level : {0, 1, 100, 254, 255}) {
            ImageHandle plain = stretchToBlackLevel(*picture, level);
            ImageHandle fast = stretchToBlackLevelFast(*picture, level);
            ASSERT_TRUE(plain && fast);
            EXPECT_TRUE(samePixels(*plain, *fast)) << "level " << level;
        }
        EXPECT_EQ(stretchToBlackLevelFast(*picture, -1), nullptr);
        EXPECT_EQ(stretchToBlackLevelFast(*picture, 256), nullptr);
    }
}
