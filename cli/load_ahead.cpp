#include "cli/load_ahead.h"

#include <system_error>
#include <utility>

namespace morvel::cli {

LoadAhead::LoadAhead(size_t count, Loader loader) : count_(count), loader_(std::move(loader))
{
    start(0);
}

LoadAhead::~LoadAhead()
{
    if (pending_.valid())
        pending_.wait();
}

void LoadAhead::start(size_t index)
{
    pendingIndex_ = index;
    if (index >= count_)
        return;
    try {
        pending_ = std::async(std::launch::async, [this, index] { return loader_(index); });
    } catch (const std::system_error&) {
        // No thread to be had: take() loads it then.
    }
}

LoadResult LoadAhead::take(size_t index)
{
    LoadResult picture;
    if (index == pendingIndex_ && pending_.valid())
        picture = pending_.get();
    else
        picture = loader_(index);
    start(index + 1);
    return picture;
}

}  // namespace morvel::cli
