// Loading the pictures of a run one ahead of their use: while one picture is
// matched, the next is decoded on a second thread, and the pictures are
// still handed out in the order they were named.
#pragma once

#include <cstddef>
#include <functional>
#include <future>

#include "image/load_picture.h"

namespace morvel::cli {

class LoadAhead {
public:
    // Loads picture `index` (0 .. count - 1); called on the loading thread,
    // one call at a time.
    using Loader = std::function<LoadResult(size_t index)>;

    // Starts loading the first of `count` pictures at once.
    LoadAhead(size_t count, Loader loader);

    // Waits for the loads in flight, whose results are dropped.
    ~LoadAhead();

    LoadAhead(const LoadAhead&) = delete;
    LoadAhead& operator=(const LoadAhead&) = delete;

    // Picture `index`, waiting for it, and starts loading the one after it.
    // Pictures are taken in order, each once.
    LoadResult take(size_t index);

private:
    void start(size_t index);

    size_t count_;
    Loader loader_;
    size_t pendingIndex_ = 0;
    std::future<LoadResult> pending_;  // picture pendingIndex_; invalid when none is in flight
};

}  // namespace morvel::cli
