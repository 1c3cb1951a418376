// Shrinking a picture by area averaging while its rows arrive, so that a
// decoder can hand over each row as it decodes it and memory holds only the
// smaller picture and a few rows of sums.
#pragma once

#include <cstdint>
#include <memory>

namespace morvel {

// Every new pixel is the mean of the source area under it: the source is
// laid over the new picture, each source pixel counts with the share of its
// area that falls inside the new pixel, and the mean is rounded to the
// nearest level (halves up). The arithmetic is exact (integer weights, 64-bit
// sums, one division at the end), so the result does not depend on the order
// of the two directions: shrinking and then turning a picture a quarter turn
// gives the same bytes as turning it first.
//
// Rows hold `channels` interleaved samples per pixel (1 for gray, 3 for
// colour); each channel is averaged on its own.
class RowShrinker {
public:
    // Shrinks `sourceWidth` x `sourceHeight` to `width` x `height`, each no
    // larger than the source's (at least 1). Finished rows are written to
    // `targetRows[0]` .. `targetRows[height - 1]` (width x channels bytes
    // each), top to bottom, as soon as the source rows under them are in.
    RowShrinker(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height, int32_t channels,
                uint8_t* const* targetRows);

    // False when the sizes cannot be shrunk this way (a size below 1, a
    // target larger than the source, source rows of more than 16 million
    // samples) or the working rows could not be had; addRow then does
    // nothing.
    bool ready() const { return ready_; }

    // Takes the next source row, top to bottom: sourceWidth x channels
    // bytes. Rows past the source height are ignored.
    void addRow(const uint8_t* row);

    // True once every source row has been given (every target row written).
    bool done() const { return ready_ && sourceRow_ >= sourceHeight_; }

private:
    // One target column: the first and last source pixel under it and the
    // weights of those two (the ones between weigh a whole source pixel).
    struct Span {
        int32_t first;
        int32_t last;
        uint32_t firstWeight;
        uint32_t lastWeight;
    };

    void sumRow(const uint8_t* row);
    void emit(int32_t targetRow, const uint64_t* sums);

    int32_t sourceWidth_;
    int32_t sourceHeight_;
    int32_t width_;
    int32_t height_;
    int32_t channels_;
    uint8_t* const* targetRows_;
    bool ready_ = false;

    uint64_t divisor_ = 1;   // source width x source height: the weights' total
    int32_t sourceRow_ = 0;  // the next source row to come
    int32_t openRow_ = 0;    // the target row the next source row starts in
    std::unique_ptr<Span[]> spans_;
    std::unique_ptr<uint32_t[]> rowSums_;  // the current source row, summed across
    std::unique_ptr<uint64_t[]> open_;     // sums of the target row being filled
    std::unique_ptr<uint64_t[]> next_;     // sums of the one after it
};

}  // namespace morvel
