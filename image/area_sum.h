// Shrinking a picture by area averaging from pixels that arrive in any
// order (the passes of an interlaced picture), so that the picture is never
// held at its full size: memory holds one sum per pixel of the result.
#pragma once

#include <cstdint>
#include <memory>

namespace morvel {

// The area average of RowShrinker, byte for byte: every source pixel adds
// its level times the share of its area inside each new pixel (the same
// integer weights) to that pixel's sum, and the sums are divided and rounded
// as RowShrinker divides them. A sum does not depend on the order of its
// terms, so pixels may come in any order, each once.
class AreaSum {
public:
    // Shrinks `sourceWidth` x `sourceHeight` to `width` x `height`, each no
    // larger than the source's (at least 1); `channels` (1 to 4) samples a
    // pixel.
    AreaSum(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height, int32_t channels);

    // False for sizes RowShrinker refuses, or when the sums could not be had
    // (width x height x channels of them, 8 bytes each).
    bool ready() const { return ready_; }

    // The bytes of sums a shrink to width x height x channels holds.
    static int64_t bytesFor(int32_t width, int32_t height, int32_t channels);

    // Adds the pixels of source row `y` at columns first, first + step, ...
    // (`row` holds the whole row: sourceWidth x channels bytes, read only
    // at those columns). Rows outside the source are ignored.
    void addPixels(int32_t y, const uint8_t* row, int32_t first = 0, int32_t step = 1);

    // Writes the result, rows top to bottom, to `targetRows[0]` ..
    // `targetRows[height - 1]` (width x channels bytes each). A pixel that
    // never came counts as 0.
    void finish(uint8_t* const* targetRows) const;

private:
    // Where a source pixel falls in one direction: the new pixel it starts
    // in and its weight there; the rest of its weight (unit - weight) goes
    // to the next new pixel.
    struct Split {
        int32_t target;
        uint32_t weight;
    };

    // A new column's source pixels, for whole rows: the first and last
    // under it and their weights (those between weigh a whole unit).
    struct Span {
        int32_t first;
        int32_t last;
        uint32_t firstWeight;
        uint32_t lastWeight;
    };

    static void placeSplits(Split* splits, int32_t source, int32_t size);
    // A whole row summed across, span by span.
    void sumWholeRow(const uint8_t* row);
    // The pixels at first, first + step, ... summed across one by one.
    void sumPixels(const uint8_t* row, int32_t first, int32_t step);

    int32_t sourceWidth_;
    int32_t sourceHeight_;
    int32_t width_;
    int32_t height_;
    int32_t channels_;
    bool ready_ = false;
    std::unique_ptr<Split[]> columns_;
    std::unique_ptr<Split[]> rows_;
    std::unique_ptr<Span[]> spans_;
    std::unique_ptr<uint32_t[]> across_;  // one source row's pixels summed across
    std::unique_ptr<uint64_t[]> sums_;    // width x height x channels
};

}  // namespace morvel
