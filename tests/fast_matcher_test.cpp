// The fast choosers and the parallel walk against the plain reference: the
// same glyph for every cell and the same text byte for byte, on random
// pictures, in every match mode, with monospaced, proportional and tie-heavy
// glyph tables, several blur counts and black levels, on every instruction
// set this processor has and for several thread counts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/black_level.h"
#include "engine/blur.h"
#include "engine/fast_black_level.h"
#include "engine/fast_matcher.h"
#include "engine/glyph_set.h"
#include "engine/match_kernels.h"
#include "engine/parallel_walk.h"
#include "engine/text_engine.h"
#include "engine/tone_match.h"
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
                    case 0:
                        v = level(rng);
                        break;
                    case 1:
                        v = 0;
                        break;
                    case 2:
                        v = uniform;
                        break;
                    case 3:
                        v = (rng() & 1) ? 255 : 0;
                        break;
                    default:
                        v = (x * 7 + y * 3) % 256;
                        break;
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
                    ADD_FAILURE() << simdLevelName(fast[i].simdLevel()) << " cell (" << x << ", " << y << "): plain "
                                  << plain << ", fast " << chosen;
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
            const AtlasView whole = viewOf(*built);
            ImageHandle picture = randomPicture(rng, 31 + blur * 6, 29 + blur * 4);
            // The whole table, and a few characters of it on the same atlas.
            const std::vector<GlyphEntry> few = glyphsAmong(whole, " .:-=+*#%@/\\|_");
            for (const AtlasView& view : {whole, restrictedView(whole, few)}) {
                std::vector<FastMatcher> fast;
                for (SimdLevel level : levelsHere()) {
                    fast.emplace_back(view, level);
                    ASSERT_TRUE(fast.back().usable());
                    EXPECT_EQ(fast.back().simdLevel(), level);
                }
                for (MatchMode mode : {MatchMode::Correlation, MatchMode::Difference}) {
                    SCOPED_TRACE(fc.name + " blur " + std::to_string(blur) + " glyphs " +
                                 std::to_string(view.glyphCount) +
                                 (mode == MatchMode::Correlation ? " correlation" : " difference"));
                    EXPECT_GT(compareCells(*picture, view, fast, mode), 100);
                }
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
                    const GeneratedText plain = generateText(*working, view, mode, &footer,
                                                             [&](const std::string& s) { plainLines.push_back(s); });
                    // The walk on the stretched copy, and on the source read
                    // through the stretch's table.
                    uint8_t table[256];
                    const bool stretched = blackLevelTable(*source, level, table);
                    for (int jobs : {1, 2, 3, 7}) {
                        std::vector<std::string> lines;
                        const GeneratedText text = generateTextFast(
                            *working, fast, mode, &footer, [&](const std::string& s) { lines.push_back(s); }, jobs);
                        EXPECT_EQ(text.text, plain.text) << jobs << " jobs";
                        EXPECT_EQ(text.widest, plain.widest);
                        EXPECT_EQ(lines, plainLines) << jobs << " jobs";
                        const GeneratedText mapped =
                            generateTextFast(*source, fast, mode, &footer, {}, jobs, stretched ? table : nullptr);
                        EXPECT_EQ(mapped.text, plain.text) << jobs << " jobs, through the table";
                    }
                }
            }
        }
    }
}

TEST(FastMatcher, ToneWalkGivesThePlainTextForAnyThreadCount)
{
    // Tones from the atlas at several blurs (any sums must do), the default
    // ramp, every printable character, and a ramp with repeats and
    // characters the table lacks; levels up to all-white curves.
    std::mt19937 rng(41);
    const std::string ramps[] = {kToneRamp,
                                 std::string(" !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRS"
                                             "TUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~"),
                                 std::string("MM@ \x7f\x01.;~M")};
    for (const FontCase& fc : fontCases()) {
        std::optional<BuiltAtlas> built = renderGlyphAtlas(*fc.font);
        ASSERT_TRUE(built);
        for (int blur = 0; blur <= 5; blur += 5) {
            for (int i = 0; i < blur; ++i)
                blurImage(built->atlas.get());
            const AtlasView view = viewOf(*built);
            const std::vector<int64_t> sums = glyphCellSums(view);
            ImageHandle picture = randomPicture(rng, 101 + blur, 79 + blur);
            for (const std::string& ramp : ramps) {
                for (auto [level, gamma] : {std::pair{0, 0.9}, std::pair{77, 2.5}, std::pair{255, 0.3}}) {
                    SCOPED_TRACE(fc.name + " blur " + std::to_string(blur) + " level " + std::to_string(level) +
                                 " ramp " + ramp);
                    const std::optional<ToneSetup> setup = makeToneSetup(view, sums, ramp, level, gamma);
                    ASSERT_TRUE(setup);
                    const TextFooter footer{"pic.gif", 9, "Face", blur, setup->blackLevel};
                    std::vector<std::string> plainLines;
                    const GeneratedText plain = generateToneText(
                        *picture, *setup, &footer, [&](const std::string& s) { plainLines.push_back(s); });
                    for (int jobs : {1, 2, 3}) {
                        std::vector<std::string> lines;
                        const GeneratedText text = generateToneTextFast(
                            *picture, *setup, &footer, [&](const std::string& s) { lines.push_back(s); }, jobs);
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
    const std::optional<ToneSetup> tone = makeToneSetup(view, glyphCellSums(view), kToneRamp, 0, kDefaultToneGamma);
    ASSERT_TRUE(tone);
    std::mt19937 rng(5);
    // At most h rows: no lines; 2h rows: one; no wider than m: empty lines.
    for (auto [w, h] : {std::pair{40, 12}, std::pair{40, 24}, std::pair{7, 40}, std::pair{8, 25}, std::pair{1, 1}}) {
        ImageHandle picture = randomPicture(rng, w, h);
        EXPECT_EQ(generateToneTextFast(*picture, *tone, nullptr, {}, 3).text,
                  generateToneText(*picture, *tone, nullptr).text)
            << w << "x" << h;
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
    EXPECT_EQ(generateTextFast(*picture, refused, MatchMode::Correlation, &footer, {}, 2).text, formatFooter(footer));
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

// The kernels' inputs for `stride` glyph cells of `pixels` pixels each
// (glyph g's pixel i at glyph[g * pixels + i]) in both layouts.
struct KernelInput {
    std::vector<uint16_t> picture;  // 16-bit pixels, a zero after an odd end
    std::vector<uint8_t> bytes;     // the same as bytes, zeros up to a whole octet
    std::vector<uint32_t> words;
    std::vector<uint64_t> octets;
    std::vector<double> pixelSums;
    KernelGlyphs glyphs;

    KernelInput(const std::vector<uint8_t>& cell, const std::vector<uint8_t>& glyph, size_t stride)
    {
        const size_t pixels = cell.size();
        const size_t pairs = (pixels + 1) / 2;
        const size_t octetCount = (pixels + 7) / 8;
        picture.assign(2 * pairs, 0);
        bytes.assign(8 * octetCount, 0);
        for (size_t i = 0; i < pixels; ++i) {
            picture[i] = cell[i];
            bytes[i] = cell[i];
        }
        words.assign(pairs * stride, 0);
        octets.assign(octetCount * stride, 0);
        pixelSums.assign(stride, 0.0);
        for (size_t g = 0; g < stride; ++g) {
            for (size_t i = 0; i < pixels; ++i) {
                const uint32_t a = glyph[g * pixels + i];
                words[(i / 2) * stride + g] |= a << (16 * (i % 2));
                octets[(i / 8) * stride + g] |= uint64_t{a} << (8 * (i % 8));
                pixelSums[g] += a;
            }
        }
        glyphs = KernelGlyphs{words.data(), pairs, octets.data(), octetCount, pixelSums.data(), stride};
    }
    KernelCell cell() const { return KernelCell{picture.data(), bytes.data()}; }
};

TEST(MatchKernels, EveryInstructionSetGivesTheExactSums)
{
    std::mt19937 rng(3);
    const std::vector<SimdLevel> levels = levelsHere();
    // Short and long cells, odd ones that end inside a pair and an octet (the
    // longest spans several 32-bit chunks of every kernel); random values,
    // and the extremes, where glyphs meet a white or black picture with white
    // pixels only and their lanes take the largest sums (and, in the byte
    // dot product, the largest negative ones) there are.
    for (size_t pixels : {size_t{1}, size_t{7}, size_t{106}, size_t{119}, size_t{140001}}) {
        for (int kind = 0; kind < 3; ++kind) {
            for (size_t stride : {kMatchGlyphBlock, 3 * kMatchGlyphBlock, 5 * kMatchGlyphBlock}) {
                if (pixels > 1000 && stride > kMatchGlyphBlock)
                    continue;  // the long cell once is enough
                std::vector<uint8_t> cell(pixels);
                std::vector<uint8_t> glyph(pixels * stride);
                for (uint8_t& p : cell)
                    p = kind == 0 ? static_cast<uint8_t>(rng() % 256) : kind == 1 ? 255 : 0;
                for (size_t i = 0; i < glyph.size(); ++i)
                    glyph[i] = kind == 0                              ? static_cast<uint8_t>(rng() % 256)
                               : (i / pixels) % 2 == 0 || (rng() & 1) ? 255
                                                                      : 0;
                const KernelInput input(cell, glyph, stride);
                // The sums the long way.
                std::vector<double> expectProducts(stride), expectDifferences(stride);
                for (size_t g = 0; g < stride; ++g) {
                    int64_t product = 0;
                    int64_t difference = 0;
                    for (size_t i = 0; i < pixels; ++i) {
                        const int64_t a = glyph[g * pixels + i];
                        product += a * cell[i];
                        difference += std::abs(cell[i] - a);
                    }
                    expectProducts[g] = static_cast<double>(product);
                    expectDifferences[g] = static_cast<double>(difference);
                }
                for (SimdLevel level : levels) {
                    std::vector<double> products(stride, -1), differences(stride, -1);
                    const MatchKernels kernels = matchKernels(level);
                    kernels.products(input.cell(), input.glyphs, products.data());
                    kernels.differences(input.cell(), input.glyphs, differences.data());
                    EXPECT_EQ(products, expectProducts) << simdLevelName(level) << " " << pixels << " " << kind;
                    EXPECT_EQ(differences, expectDifferences) << simdLevelName(level) << " " << pixels << " " << kind;
                }
            }
        }
    }
}

TEST(MatchKernels, EveryInstructionSetMapsLevelsThroughTheTable)
{
    std::mt19937 rng(12);
    std::vector<uint8_t> table(256);
    for (uint8_t& t : table)
        t = static_cast<uint8_t>(rng() % 256);
    // Every byte value, and lengths around the 64-byte steps.
    for (size_t count : {size_t{0}, size_t{63}, size_t{64}, size_t{256}, size_t{1000}}) {
        std::vector<uint8_t> from(count);
        for (size_t i = 0; i < count; ++i)
            from[i] = static_cast<uint8_t>(i < 256 ? i : rng() % 256);
        for (SimdLevel level : levelsHere()) {
            std::vector<uint8_t> to(count + 1, 0xA5);
            matchKernels(level).mapLevels(from.data(), to.data(), count, table.data());
            for (size_t i = 0; i < count; ++i)
                ASSERT_EQ(to[i], table[from[i]]) << simdLevelName(level) << " " << i;
            EXPECT_EQ(to[count], 0xA5) << "wrote past the end";
        }
    }
}

TEST(MatchKernels, EveryInstructionSetPicksTheSameExtreme)
{
    // Few distinct values (ties everywhere), NaN, infinities, signed zeros,
    // scores at the limits themselves, and lengths that end inside a vector.
    std::mt19937 rng(31);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double values[] = {nan, 0.0, -0.0, 0.25, 0.5, 1.0, inf, -1.0, 100000000.0, 3.0e7, nan};
    for (int round = 0; round < 400; ++round) {
        const int32_t count = static_cast<int32_t>(rng() % 100);
        std::vector<double> scores(static_cast<size_t>(count) + 8, 0.75);  // a stray value past the end
        for (int32_t g = 0; g < count; ++g)
            scores[static_cast<size_t>(g)] = round % 4 == 0 ? nan : values[rng() % (sizeof values / sizeof values[0])];
        const int32_t high = matchKernels(SimdLevel::Scalar).highest(scores.data(), count, -1.0);
        const int32_t low = matchKernels(SimdLevel::Scalar).lowest(scores.data(), count, 100000000.0);
        for (SimdLevel level : levelsHere()) {
            ASSERT_EQ(matchKernels(level).highest(scores.data(), count, -1.0), high) << simdLevelName(level);
            ASSERT_EQ(matchKernels(level).lowest(scores.data(), count, 100000000.0), low) << simdLevelName(level);
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
            const TextFooter footer{engine.displayName(), engine.pointSize(), engine.drawnFaceName(), blur, blur * 20};
            const GeneratedText plain = generateText(*engine.workingImage(), engine.atlasView(), mode, &footer);
            for (int jobs : {1, 2}) {
                engine.setJobs(jobs);
                engine.generateTextImage(blur * 20);
                EXPECT_EQ(engine.outputText(), plain.text) << "blur " << blur << ", " << jobs << " jobs";
                EXPECT_EQ(engine.widestLine(), plain.widest);
                EXPECT_EQ(engine.generateLines(&footer).text, plain.text);
            }
        }
        // Tone mode on the real glyphs' tones, which the build keeps unblurred.
        const std::optional<ToneSetup> setup =
            makeToneSetup(engine.atlasView(), engine.glyphCellSums(), kToneRamp, blur * 20, kDefaultToneGamma);
        ASSERT_TRUE(setup);
        EXPECT_EQ(generateToneTextFast(*engine.sourceImage(), *setup, nullptr, {}, 2).text,
                  generateToneText(*engine.sourceImage(), *setup, nullptr).text);
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
            // In place, and as a table over the unstretched picture.
            ImageHandle inPlace(copyImageRecord(picture.get()));
            ASSERT_TRUE(inPlace && stretchToBlackLevelInPlace(*inPlace, level));
            EXPECT_TRUE(samePixels(*plain, *inPlace)) << "level " << level;
            uint8_t table[256];
            ImageHandle mapped(copyImageRecord(picture.get()));
            if (blackLevelTable(*picture, level, table)) {
                for (int32_t y = 0; y < mapped->rowCount; ++y)
                    for (int32_t x = 0; x < mapped->header.biWidth; ++x)
                        mapped->rows[y][x] = table[mapped->rows[y][x]];
            }
            EXPECT_TRUE(samePixels(*plain, *mapped)) << "level " << level;
        }
        EXPECT_EQ(stretchToBlackLevelFast(*picture, -1), nullptr);
        EXPECT_EQ(stretchToBlackLevelFast(*picture, 256), nullptr);
        uint8_t table[256];
        EXPECT_FALSE(blackLevelTable(*picture, -1, table));
        EXPECT_FALSE(stretchToBlackLevelInPlace(*picture, 256));
    }
}
