#include "cli/load_ahead.h"

#include <system_error>
#include <utility>

namespace morvel::cli {

LoadAhead::LoadAhead(size_t count, size_t depth, Loader loader) : count_(count), loader_(std::move(loader))
{
    for (size_t i = 0; i < depth || i == 0; ++i)
        startNext();
}

LoadAhead::~LoadAhead()
{
    for (std::future<LoadResult>& load : inFlight_)
        if (load.valid())
            load.wait();
}

void LoadAhead::startNext()
{
    if (started_ >= count_)
        return;
    const size_t index = started_++;
    std::future<LoadResult> load;
    try {
        load = std::async(std::launch::async, [this, index] { return loader_(index); });
    } catch (const std::system_error&) {
        // No thread to be had: take() loads it then (an invalid future).
    }
    inFlight_.push_back(std::move(load));
}

LoadResult LoadAhead::take(size_t index)
{
    const size_t first = started_ - inFlight_.size();
    if (index != first || inFlight_.empty())
        return loader_(index);  // out of order: not how it is used
    std::future<LoadResult> load = std::move(inFlight_.front());
    inFlight_.pop_front();
    startNext();
    return load.valid() ? load.get() : loader_(index);
}

}  // namespace morvel::cli
