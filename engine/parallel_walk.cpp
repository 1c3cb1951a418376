#include "engine/parallel_walk.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace morvel {

namespace {

constexpr int kMaxJobs = 256;

// Everything the threads of one walk share. Each band's characters go to its
// own slot of `lines`; `done[b]` is set (release) once slot b and length b
// are written.
struct Walk {
    const ImageRecord* working;
    const FastMatcher* matcher;
    MatchMode mode;
    const uint8_t* levels;
    bool byBands;  // whole bands loaded at a time (FastMatcher::loadBand)
    int32_t bandCount;
    size_t lineCapacity;  // bytes per band slot: the most characters a line can get
    std::vector<char> lines;
    std::vector<int32_t> lengths;
    std::unique_ptr<std::atomic<bool>[]> done;
    std::atomic<int32_t> next{0};
    std::mutex mutex;
    std::condition_variable bandDone;

    // One band, left to right, as generateText walks it.
    void walkBand(int32_t band, FastMatcher::Scratch& scratch)
    {
        const int32_t y = band * matcher->cellHeight();
        const int32_t end = working->header.biWidth - matcher->maxGlyphWidth();
        char* out = lines.data() + static_cast<size_t>(band) * lineCapacity;
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
        lengths[static_cast<size_t>(band)] = n;
        done[band].store(true, std::memory_order_release);
        // Taking the lock once after the store means a reader that found the
        // band unfinished under the lock is already waiting when notified.
        { std::lock_guard<std::mutex> lock(mutex); }
        bandDone.notify_all();
    }

    // Takes bands until none are left; false when there was none to take.
    bool takeBand(FastMatcher::Scratch& scratch)
    {
        const int32_t band = next.fetch_add(1, std::memory_order_relaxed);
        if (band >= bandCount)
            return false;
        walkBand(band, scratch);
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

}  // namespace

int resolveJobs(int jobs)
{
    if (jobs > 0)
        return std::min(jobs, kMaxJobs);
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, kMaxJobs));
}

GeneratedText generateTextFast(const ImageRecord& working, const FastMatcher& matcher, MatchMode mode,
                               const TextFooter* footer, const LineCallback& onLine, int jobs,
                               const uint8_t* levels)
{
    GeneratedText result;
    const bool usable = working.rows && working.header.biBitCount == 8 && matcher.usable();
    const int32_t h = matcher.cellHeight();
    const int32_t height = working.rowCount;
    // Bands start at y = 0, h, 2h, ... while y < height - h.
    const int32_t bandCount = usable && height > h ? (height - h - 1) / h + 1 : 0;
    if (bandCount > 0) {
        Walk walk;
        walk.working = &working;
        walk.matcher = &matcher;
        walk.mode = mode;
        walk.levels = levels;
        walk.bandCount = bandCount;

        // Room for the most characters a line can get.
        walk.lineCapacity = static_cast<size_t>(lineCharactersUpperBound(
            working.header.biWidth, matcher.entries(), matcher.glyphCount(), matcher.maxGlyphWidth()));
        walk.lines.resize(walk.lineCapacity * static_cast<size_t>(bandCount));
        walk.lengths.assign(static_cast<size_t>(bandCount), 0);
        walk.done.reset(new std::atomic<bool>[static_cast<size_t>(bandCount)]);
        for (int32_t b = 0; b < bandCount; ++b)
            walk.done[b].store(false, std::memory_order_relaxed);

        const int threadCount = std::min(resolveJobs(jobs), bandCount);
        std::vector<FastMatcher::Scratch> scratch;
        scratch.reserve(static_cast<size_t>(threadCount));
        for (int t = 0; t < threadCount; ++t)
            scratch.emplace_back(matcher);
        // Bands are loaded whole (their column sums in 32 bits) for cells up
        // to 65536 rows; the cell-by-cell path serves the rest.
        walk.byBands = h <= 65536;
        if (walk.byBands) {
            for (FastMatcher::Scratch& s : scratch)
                s.reserveBand(matcher, working.header.biWidth);
        }

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
                helpers.emplace_back([&walk, &s = scratch[static_cast<size_t>(t)]] {
                    while (walk.takeBand(s)) {
                    }
                });
            } catch (const std::system_error&) {
                break;  // no more threads to be had: the ones running share the bands
            }
        }
        // This thread works bands too, and hands finished lines on between them.
        while (walk.takeBand(scratch[0]))
            report(false);
        report(true);
    }
    if (footer)
        result.text += formatFooter(*footer);
    return result;
}

}  // namespace morvel
