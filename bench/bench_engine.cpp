// The engine's hot paths: one chooser call per match mode (plain against
// fast), whole generation (plain against fast, one and two threads, tone
// mode too), the
// atlas blur and the black-level stretch. The glyphs are the start-up atlas
// of the real default font: Lucida Console (or its stand-in) 9 points,
// weight 400, blurred three times.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "bench/synthetic_picture.h"
#include "engine/black_level.h"
#include "engine/blur.h"
#include "engine/fast_black_level.h"
#include "engine/fast_matcher.h"
#include "engine/generator.h"
#include "engine/parallel_walk.h"
#include "engine/text_engine.h"
#include "engine/text_picture.h"
#include "engine/tone_match.h"
#include "image/png_writer.h"
#include "platform/font.h"

using namespace morvel;

namespace {

// The start-up engine, made once.
TextEngine& defaultEngine()
{
    static TextEngine* engine = [] {
        auto* e = new TextEngine;
        if (!e->setDefaultFont("Lucida Console", 9, 400)) {
            std::fprintf(stderr, "bench_engine: no font\n");
            std::exit(1);
        }
        e->buildGlyphAtlas();
        for (int i = 0; i < 3; ++i)
            e->blurFont();
        e->updateBlackLevelRange();
        return e;
    }();
    return *engine;
}

const ImageRecord& picture(int32_t width, int32_t height)
{
    static ImageHandle small = bench::photoLikeGray(640, 480);
    static ImageHandle medium;
    static ImageHandle large;
    if (width == 640)
        return *small;
    ImageHandle& slot = width == 2000 ? medium : large;
    if (!slot)
        slot = bench::photoLikeGray(width, height);
    return *slot;
}

// Cell positions visited in turn by the chooser benchmarks, so that every
// call sees another piece of the picture.
struct Cells {
    int32_t x = 0, y = 0, stepX, stepY, endX, endY;
    explicit Cells(const ImageRecord& p, const AtlasView& v)
        : stepX(v.maxGlyphWidth), stepY(v.cellHeight), endX(p.header.biWidth - v.maxGlyphWidth),
          endY(p.rowCount - v.cellHeight)
    {}
    void advance()
    {
        x += stepX;
        if (x >= endX) {
            x = 0;
            y += stepY;
            if (y >= endY)
                y = 0;
        }
    }
};

void chooserPlain(benchmark::State& state, MatchMode mode)
{
    const AtlasView view = defaultEngine().atlasView();
    const ImageRecord& p = picture(640, 480);
    Cells cells(p, view);
    for (auto _ : state) {
        const int32_t g = mode == MatchMode::Correlation ? correlationScore(p, view, cells.x, cells.y)
                                                         : differenceScore(p, view, cells.x, cells.y);
        benchmark::DoNotOptimize(g);
        cells.advance();
    }
    state.SetItemsProcessed(state.iterations());
}

void chooserFast(benchmark::State& state, MatchMode mode)
{
    const AtlasView view = defaultEngine().atlasView();
    const FastMatcher fast(view, static_cast<SimdLevel>(state.range(0)));
    if (fast.simdLevel() != static_cast<SimdLevel>(state.range(0))) {
        state.SkipWithError("instruction set not available here");
        return;
    }
    FastMatcher::Scratch scratch(fast);
    const ImageRecord& p = picture(640, 480);
    Cells cells(p, view);
    for (auto _ : state) {
        const int32_t g = fast.choose(mode, p, cells.x, cells.y, scratch);
        benchmark::DoNotOptimize(g);
        cells.advance();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(simdLevelName(fast.simdLevel()));
}

void BM_ChooserCorrelationPlain(benchmark::State& state)
{
    chooserPlain(state, MatchMode::Correlation);
}
void BM_ChooserDifferencePlain(benchmark::State& state)
{
    chooserPlain(state, MatchMode::Difference);
}
void BM_ChooserCorrelationFast(benchmark::State& state)
{
    chooserFast(state, MatchMode::Correlation);
}
void BM_ChooserDifferenceFast(benchmark::State& state)
{
    chooserFast(state, MatchMode::Difference);
}
BENCHMARK(BM_ChooserCorrelationPlain);
BENCHMARK(BM_ChooserDifferencePlain);
BENCHMARK(BM_ChooserCorrelationFast)->ArgName("isa")->Arg(0)->Arg(1)->Arg(2)->Arg(3);
BENCHMARK(BM_ChooserDifferenceFast)->ArgName("isa")->Arg(0)->Arg(1)->Arg(2)->Arg(3);

// args: width, height
void BM_GeneratePlain(benchmark::State& state)
{
    const AtlasView view = defaultEngine().atlasView();
    const ImageRecord& p = picture(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    for (auto _ : state) {
        GeneratedText text = generateText(p, view, MatchMode::Correlation, nullptr);
        benchmark::DoNotOptimize(text.text.data());
    }
}
BENCHMARK(BM_GeneratePlain)->ArgNames({"w", "h"})->Args({640, 480})->Args({4000, 3000})->Unit(benchmark::kMillisecond);

// args: width, height, jobs, match mode
void BM_GenerateFast(benchmark::State& state)
{
    const AtlasView view = defaultEngine().atlasView();
    const FastMatcher fast(view);
    const ImageRecord& p = picture(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    const int jobs = static_cast<int>(state.range(2));
    const MatchMode mode = static_cast<MatchMode>(state.range(3));
    for (auto _ : state) {
        GeneratedText text = generateTextFast(p, fast, mode, nullptr, {}, jobs);
        benchmark::DoNotOptimize(text.text.data());
    }
    state.SetLabel(simdLevelName(fast.simdLevel()));
}
BENCHMARK(BM_GenerateFast)
    ->ArgNames({"w", "h", "jobs", "mode"})
    ->Args({640, 480, 1, 0})
    ->Args({640, 480, 2, 0})
    ->Args({2000, 1500, 1, 0})
    ->Args({2000, 1500, 2, 0})
    ->Args({4000, 3000, 1, 0})
    ->Args({4000, 3000, 2, 0})
    ->Args({4000, 3000, 1, 1})
    ->Args({4000, 3000, 2, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Tone mode, plain and on the running sums; args: plain (0) or fast (1), jobs.
void BM_GenerateTone(benchmark::State& state)
{
    const TextEngine& engine = defaultEngine();
    const std::optional<ToneSetup> setup =
        makeToneSetup(engine.atlasView(), engine.glyphCellSums(), kToneRamp, 0, kDefaultToneGamma);
    const ImageRecord& p = picture(4000, 3000);
    const int jobs = static_cast<int>(state.range(1));
    for (auto _ : state) {
        GeneratedText text = state.range(0) == 0 ? generateToneText(p, *setup, nullptr)
                                                 : generateToneTextFast(p, *setup, nullptr, {}, jobs);
        benchmark::DoNotOptimize(text.text.data());
    }
}
BENCHMARK(BM_GenerateTone)
    ->ArgNames({"fast", "jobs"})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The engine's own Generate, as the window runs it, with a line observer
// that only counts (2000 x 1500; the window's text box adds its own cost).
void BM_EngineGenerate(benchmark::State& state)
{
    struct Counter : EngineObserver {
        int64_t lines = 0;
        void textChanged(const std::string& text) override { lines += static_cast<int64_t>(text.size() > 0); }
    } counter;
    TextEngine engine(&counter);
    engine.setDefaultFont("Lucida Console", 9, 400);
    engine.buildGlyphAtlas();
    for (int i = 0; i < 3; ++i)
        engine.blurFont();
    engine.setSourceImage(ImageHandle(copyImageRecord(&picture(2000, 1500))));
    engine.applyBlackLevel(0);
    engine.setJobs(static_cast<int>(state.range(0)));
    for (auto _ : state)
        engine.generateTextImage(0);
    benchmark::DoNotOptimize(counter.lines);
}
BENCHMARK(BM_EngineGenerate)->ArgName("jobs")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BlurAtlas(benchmark::State& state)
{
    ImageHandle atlas(copyImageRecord(defaultEngine().glyphAtlas()));
    for (auto _ : state) {
        blurImage(atlas.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t{atlas->header.biWidth} * atlas->rowCount);
}
BENCHMARK(BM_BlurAtlas);

void BM_BlackLevel(benchmark::State& state)
{
    const ImageRecord& p = picture(4000, 3000);
    for (auto _ : state) {
        ImageHandle working = stretchToBlackLevel(p, 40);
        benchmark::DoNotOptimize(working.get());
    }
    state.SetBytesProcessed(state.iterations() * int64_t{4000} * 3000);
}
BENCHMARK(BM_BlackLevel)->Unit(benchmark::kMillisecond);

// The engine's stretch (a lookup table), at level 0 (full-range picture: a
// copy) and at 40.
void BM_BlackLevelFast(benchmark::State& state)
{
    const ImageRecord& p = picture(4000, 3000);
    for (auto _ : state) {
        ImageHandle working = stretchToBlackLevelFast(p, static_cast<int32_t>(state.range(0)));
        benchmark::DoNotOptimize(working.get());
    }
    state.SetBytesProcessed(state.iterations() * int64_t{4000} * 3000);
}
BENCHMARK(BM_BlackLevelFast)->ArgName("level")->Arg(0)->Arg(40)->Unit(benchmark::kMillisecond);

// Preparing the glyphs after a build or blur.
void BM_PrepareMatcher(benchmark::State& state)
{
    const AtlasView view = defaultEngine().atlasView();
    for (auto _ : state) {
        FastMatcher fast(view);
        benchmark::DoNotOptimize(fast.usable());
    }
}
BENCHMARK(BM_PrepareMatcher)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

// The text as a picture: 100 columns by 50 lines of the default face, drawn
// from its unblurred atlas and encoded as a PNG (gray, then in colour), or
// written as an SVG.
void BM_TextPicture(benchmark::State& state)
{
    const Font& font = *defaultEngine().font();
    static const std::optional<BuiltAtlas> built = renderGlyphAtlas(font);
    const AtlasView glyphs{built->atlas.get(), built->glyphs.data(), static_cast<int32_t>(built->glyphs.size()),
                           built->cellHeight,  built->maxGlyphWidth, kAtlasMargin};
    std::string text;
    std::vector<uint8_t> colours;
    for (int line = 0; line < 50; ++line) {
        for (int column = 0; column < 100; ++column) {
            text += kToneRamp[static_cast<size_t>(line * 7 + column) % std::strlen(kToneRamp)];
            colours.insert(colours.end(), {static_cast<uint8_t>(line * 5), static_cast<uint8_t>(column * 2), 90});
        }
        text += "\r\n";
    }
    TextPictureStyle style;
    if (state.range(0) != 0) {
        style.colours = colours.data();
        style.colourCount = colours.size() / 3;
        style.colouredLines = 50;
    }
    for (auto _ : state) {
        if (state.range(0) == 2) {
            benchmark::DoNotOptimize(
                textSvg(text, glyphs, SvgFace{font.faceUsed(), font.pixelSize(), font.ascent()}, style));
        } else {
            const ImageHandle drawn = drawTextPicture(text, glyphs, style);
            benchmark::DoNotOptimize(encodePng(*drawn));
        }
    }
}
BENCHMARK(BM_TextPicture)->ArgName("gray0_colour1_svg2")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
