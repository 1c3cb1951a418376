#include "engine/parallel_walk.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/fast_tone.h"

namespace morvel {

namespace {

constexpr int kMaxJobs = 256;
// Pixels of picture a thread must have to walk before one more is started:
// starting a thread costs about as much as walking some tens of thousands
// of pixels, so a small text is walked on the calling thread alone.
constexpr int64_t kPixelsPerThread = int64_t{1} << 17;

// Everything the threads of one walk share. Each band's characters go to its
// own slot of `lines`; `done[b]` is set (release) once slot b and length b
// are written.
struct Walk {
    int32_t cellHeight;
    int32_t bandCount;
    size_t lineCapacity;  // bytes per band slot: the most characters a line can get
    std::vector<char> lines;
    std::vector<int32_t> lengths;
    std::unique_ptr<std::atomic<bool>[]> done;
    std::atomic<int32_t> next{0};
    std::mutex mutex;
    std::condition_variable bandDone;

    // Takes one band and has `walkBand(y, out)` walk it; false when there
    // was none left to take.
    template <class Worker>
    bool takeBand(Worker& walkBand)
    {
        const int32_t band = next.fetch_add(1, std::memory_order_relaxed);
        if (band >= bandCount)
            return false;
        char* out = lines.data() + static_cast<size_t>(band) * lineCapacity;
        lengths[static_cast<size_t>(band)] = walkBand(band * cellHeight, out);
        done[band].store(true, std::memory_order_release);
        // Taking the lock once after the store means a reader that found the
        // band unfinished under the lock is already waiting when notified.
        {
            std::lock_guard<std::mutex> lock(mutex);
        }
        bandDone.notify_all();
        return true;
    }

    bool isDone(int32_t band) const { return done[band].load(std::memory_order_acquire); }

    void waitFor(int32_t band)
    {
        std::unique_lock<std::mutex> lock(mutex);
        bandDone.wait(lock, [&] { return isDone(band); });
    }
};

// Joins the helper threads however the walk ends.
struct Joiner {
    std::vector<std::thread>& threads;
    ~Joiner()
    {
        for (std::thread& t : threads)
            if (t.joinable())
                t.join();
    }
};

// The bands y = 0, h, 2h, ... while y < height - h of a picture `height` rows
// high, shared among up to `jobs` threads, each with a band walker of its own
// from `makeWorker()`; the lines are put together in band order, each one
// handed to `onLine` on this thread as soon as it and all above it are done.
template <class MakeWorker>
GeneratedText walkBands(int32_t width, int32_t height, int32_t h, size_t lineCapacity, int jobs, MakeWorker makeWorker,
                        const TextFooter* footer, const LineCallback& onLine)
{
    GeneratedText result;
    const int32_t bandCount = morvel::bandCount(height, h);
    if (bandCount > 0) {
        Walk walk;
        walk.cellHeight = h;
        walk.bandCount = bandCount;
        walk.lineCapacity = lineCapacity;
        walk.lines.resize(walk.lineCapacity * static_cast<size_t>(bandCount));
        walk.lengths.assign(static_cast<size_t>(bandCount), 0);
        walk.done.reset(new std::atomic<bool>[static_cast<size_t>(bandCount)]);
        for (int32_t b = 0; b < bandCount; ++b)
            walk.done[b].store(false, std::memory_order_relaxed);

        // Left to choose, a small picture gets fewer threads than cores.
        const int64_t byWork = jobs > 0 ? bandCount : std::max<int64_t>(1, int64_t{width} * height / kPixelsPerThread);
        const int threadCount = static_cast<int>(std::min<int64_t>({resolveJobs(jobs), bandCount, byWork}));
        std::vector<decltype(makeWorker())> workers;
        workers.reserve(static_cast<size_t>(threadCount));
        for (int t = 0; t < threadCount; ++t)
            workers.push_back(makeWorker());

        result.text.reserve(static_cast<size_t>(bandCount) * (walk.lineCapacity + 2));
        int32_t reported = 0;
        // Appends every finished line that has no unfinished line above it.
        auto report = [&](bool wait) {
            while (reported < bandCount) {
                if (!walk.isDone(reported)) {
                    if (!wait)
                        return;
                    walk.waitFor(reported);
                }
                const int32_t n = walk.lengths[static_cast<size_t>(reported)];
                result.text.append(walk.lines.data() + static_cast<size_t>(reported) * walk.lineCapacity,
                                   static_cast<size_t>(n));
                result.text += "\r\n";
                if (onLine)
                    onLine(result.text);
                if (n > result.widest)
                    result.widest = n;
                ++reported;
            }
        };

        std::vector<std::thread> helpers;
        Joiner joiner{helpers};
        for (int t = 1; t < threadCount; ++t) {
            try {
                helpers.emplace_back([&walk, &w = workers[static_cast<size_t>(t)]] {
                    while (walk.takeBand(w)) {
                    }
                });
            } catch (const std::system_error&) {
                break;  // no more threads to be had: the ones running share the bands
            }
        }
        // This thread works bands too, and hands finished lines on between them.
        while (walk.takeBand(workers[0]))
            report(false);
        report(true);
    }
    if (footer)
        result.text += formatFooter(*footer);
    return result;
}

// The text of a walk without lines.
GeneratedText footerOnly(const TextFooter* footer)
{
    GeneratedText result;
    if (footer)
        result.text = formatFooter(*footer);
    return result;
}

// One thread's walker on the fast choosers: a band left to right, as
// generateText walks it.
struct MatchWorker {
    const ImageRecord* working;
    const FastMatcher* matcher;
    MatchMode mode;
    const uint8_t* levels;
    bool byBands;  // whole bands loaded at a time (FastMatcher::loadBand)
    FastMatcher::Scratch scratch;

    int32_t operator()(int32_t y, char* out)
    {
        const int32_t end = working->header.biWidth - matcher->maxGlyphWidth();
        int32_t x = 0;
        int32_t n = 0;
        if (byBands)
            matcher->loadBand(mode, *working, y, levels, scratch);
        while (x < end) {
            const int32_t chosen = byBands ? matcher->chooseInBand(mode, x, scratch)
                                           : matcher->choose(mode, *working, x, y, scratch, levels);
            const GlyphEntry& entry = matcher->entry(chosen);
            out[n++] = static_cast<char>(entry.code);
            // A glyph measured 0 wide still moves on by one pixel.
            x += entry.width > 0 ? entry.width : 1;
        }
        return n;
    }
};

}  // namespace

int resolveJobs(int jobs)
{
    if (jobs > 0)
        return std::min(jobs, kMaxJobs);
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, kMaxJobs));
}

GeneratedText generateTextFast(const ImageRecord& working, const FastMatcher& matcher, MatchMode mode,
                               const TextFooter* footer, const LineCallback& onLine, int jobs, const uint8_t* levels)
{
    // Tone mode is walked by generateToneTextFast, from its own setup.
    const bool usable = working.rows && working.header.biBitCount == 8 && matcher.usable() && mode != MatchMode::Tone;
    if (!usable)
        return footerOnly(footer);
    // Room for the most characters a line can get.
    const auto lineCapacity = static_cast<size_t>(lineCharactersUpperBound(
        working.header.biWidth, matcher.entries(), matcher.glyphCount(), matcher.maxGlyphWidth()));
    // Bands are loaded whole (their column sums in 32 bits) for cells up to
    // 65536 rows; the cell-by-cell path serves the rest.
    const bool byBands = matcher.cellHeight() <= 65536;
    auto makeWorker = [&] {
        MatchWorker worker{&working, &matcher, mode, levels, byBands, FastMatcher::Scratch(matcher)};
        if (byBands)
            worker.scratch.reserveBand(matcher, working.header.biWidth);
        return worker;
    };
    return walkBands(working.header.biWidth, working.rowCount, matcher.cellHeight(), lineCapacity, jobs, makeWorker,
                     footer, onLine);
}

GeneratedText generateToneTextFast(const ImageRecord& picture, const ToneSetup& setup, const TextFooter* footer,
                                   const LineCallback& onLine, int jobs)
{
    const bool usable = picture.rows && picture.header.biBitCount == 8 && !setup.candidates.empty();
    if (!usable)
        return footerOnly(footer);
    // The narrowest candidate sets the most characters a line can get.
    const int64_t span = std::max<int64_t>(0, int64_t{picture.header.biWidth} - setup.maxGlyphWidth);
    const auto lineCapacity = static_cast<size_t>((span + setup.narrowest - 1) / setup.narrowest);
    auto makeWorker = [&] {
        return [&picture, &setup, scratch = ToneScratch{}](int32_t y, char* out) mutable {
            return walkToneBand(picture, setup, y, scratch, out);
        };
    };
    return walkBands(picture.header.biWidth, picture.rowCount, setup.cellHeight, lineCapacity, jobs, makeWorker, footer,
                     onLine);
}

}  // namespace morvel
