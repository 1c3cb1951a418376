// Loading the pictures of a run ahead of their use: while one picture is
// matched, the next ones are decoded on threads of their own, and the
// pictures are still handed out in the order they were named.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <future>

#include "image/load_picture.h"

namespace morvel::cli {

class LoadAhead {
public:
    // Loads picture `index` (0 .. count - 1); called on loading threads,
    // for different pictures at the same time when `depth` is above 1.
    using Loader = std::function<LoadResult(size_t index)>;

    // Starts loading the first `depth` (at least 1) of `count` pictures at
    // once; every take() starts one more, so that `depth` loads are in
    // flight while there are pictures left.
    LoadAhead(size_t count, size_t depth, Loader loader);

    // Waits for the loads in flight, whose results are dropped.
    ~LoadAhead();

    LoadAhead(const LoadAhead&) = delete;
    LoadAhead& operator=(const LoadAhead&) = delete;

    // Picture `index`, waiting for it. Pictures are taken in order, each
    // once, starting at 0.
    LoadResult take(size_t index);

private:
    void startNext();

    size_t count_;
    Loader loader_;
    size_t started_ = 0;                            // pictures whose load has begun
    std::deque<std::future<LoadResult>> inFlight_;  // pictures started_ - size() .. started_ - 1
};

}  // namespace morvel::cli
