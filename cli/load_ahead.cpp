#include "cli/load_ahead.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace morvel::cli {

LoadAhead::LoadAhead(size_t count, size_t depth, int64_t budget, Loader loader)
    : count_(count), budget_(budget), loader_(std::move(loader)), holds_(count, -1), ended_(count, false)
{
    for (size_t i = 0; i < depth; ++i)
        startNext();
}

LoadAhead::~LoadAhead()
{
    for (std::future<LoadResult>& load : inFlight_)
        if (load.valid())
            load.wait();
}

void LoadAhead::passTurns()
{
    while (turn_ < count_ && (holds_[turn_] >= 0 || ended_[turn_]))
        ++turn_;
}

void LoadAhead::reserve(size_t index, int64_t bytes)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (index >= count_ || holds_[index] >= 0)
        return;
    changed_.wait(lock, [&] { return turn_ == index && (reserved_ == 0 || reserved_ + bytes <= budget_); });
    holds_[index] = bytes;
    reserved_ += bytes;
    passTurns();
    changed_.notify_all();
}

void LoadAhead::ended(size_t index)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ended_[index] = true;
    passTurns();
    changed_.notify_all();
}

LoadResult LoadAhead::loadPicture(size_t index)
{
    return loader_(index, [this, index](int64_t bytes) { reserve(index, bytes); });
}

void LoadAhead::startNext()
{
    if (started_ >= count_)
        return;
    const size_t index = started_++;
    std::future<LoadResult> load;
    try {
        load = std::async(std::launch::async, [this, index] {
            LoadResult result = loadPicture(index);
            ended(index);
            return result;
        });
    } catch (const std::system_error&) {
        // No thread to be had: take() loads it then (an invalid future).
    }
    inFlight_.push_back(std::move(load));
}

LoadResult LoadAhead::take(size_t index)
{
    LoadResult result;
    const size_t first = started_ - inFlight_.size();
    if (index != first || inFlight_.empty()) {
        result = loadPicture(index);  // out of order: not how it is used
    } else {
        std::future<LoadResult> load = std::move(inFlight_.front());
        inFlight_.pop_front();
        startNext();
        result = load.valid() ? load.get() : loadPicture(index);
    }
    if (index < count_) {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_[index] = true;
        reserved_ -= std::max<int64_t>(holds_[index], 0);
        holds_[index] = 0;
        passTurns();
        changed_.notify_all();
    }
    return result;
}

}  // namespace morvel::cli
