// Loading the pictures of a run ahead of their use: while one picture is
// matched, the next ones are decoded on threads of their own, and the
// pictures are still handed out in the order they were named. What the
// loads hold at once is bounded by a budget of bytes, not by their count.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <vector>

#include "image/load_picture.h"

namespace morvel::cli {

class LoadAhead {
public:
    // Tells the budget the bytes a picture will hold (see reserve).
    using Reserve = std::function<void(int64_t bytes)>;
    // Loads picture `index` (0 .. count - 1); called on loading threads,
    // for different pictures at the same time when `depth` is above 1. It
    // calls `reserve` once it knows what the picture will hold.
    using Loader = std::function<LoadResult(size_t index, const Reserve& reserve)>;

    // Starts loading the first `depth` of `count` pictures at once; every
    // take() starts one more, so that `depth` loads are in flight while
    // there are pictures left. With `depth` 0 the first picture is loaded
    // by take() on the calling thread. The pictures loading or loaded
    // and not yet taken hold at most `budget` bytes between them, or one
    // picture whatever it holds.
    LoadAhead(size_t count, size_t depth, int64_t budget, Loader loader);

    // Waits for the loads in flight, whose results are dropped.
    ~LoadAhead();

    LoadAhead(const LoadAhead&) = delete;
    LoadAhead& operator=(const LoadAhead&) = delete;

    // Picture `index`, waiting for it. Pictures are taken in order, each
    // once, starting at 0; its bytes leave the budget.
    LoadResult take(size_t index);

    // Called by the loader of picture `index` before it decodes: the bytes
    // the picture will hold while it loads and until it is taken. Waits
    // until every picture before it has reserved (or ended its load without)
    // and the bytes fit beside those reserved and not yet taken; a picture
    // with nothing else reserved always fits. Only the first call for a
    // picture counts.
    void reserve(size_t index, int64_t bytes);

private:
    // The load of picture `index`, its reservations made for it.
    LoadResult loadPicture(size_t index);
    void startNext();
    // The load of `index` has ended: it reserves nothing more.
    void ended(size_t index);
    // Moves the turn past the pictures that have reserved or ended.
    void passTurns();

    size_t count_;
    int64_t budget_;
    Loader loader_;
    size_t started_ = 0;                            // pictures whose load has begun
    std::deque<std::future<LoadResult>> inFlight_;  // pictures started_ - size() .. started_ - 1

    std::mutex mutex_;
    std::condition_variable changed_;
    size_t turn_ = 0;             // the picture whose reservation comes next
    int64_t reserved_ = 0;        // bytes of the pictures reserved and not taken
    std::vector<int64_t> holds_;  // each picture's reserved bytes; -1 before it reserves
    std::vector<bool> ended_;     // each picture's load has ended
};

}  // namespace morvel::cli
