// Enlarging a picture by linear interpolation, one row of the result at a
// time, so that a large result need never be held whole.
#pragma once

#include <cstdint>
#include <memory>

namespace morvel {

// Every new pixel is read off the source at its centre: a new pixel i of n
// laid over a source of s pixels sits at u = (i + 1/2) s / n - 1/2, and takes
// the two source pixels around u in the shares their distance gives, rounded
// to 1/256 (positions before the first centre or past the last take that
// pixel alone). Across first, then down: each direction's sum is exact in
// 32 bits, and the result is rounded to the nearest level (halves up) once.
// A direction whose size stays the same keeps its pixels as they are.
//
// Rows hold `channels` interleaved samples per pixel (1 to 4); each channel is
// interpolated on its own.
class RowEnlarger {
public:
    // Enlarges `sourceWidth` x `sourceHeight` (the rows `sourceRows`, which
    // must outlive the enlarger) to `width` x `height`, each at least the
    // source's size.
    RowEnlarger(const uint8_t* const* sourceRows, int32_t sourceWidth, int32_t sourceHeight, int32_t width,
                int32_t height, int32_t channels);

    // False when the sizes cannot be enlarged this way (a size below 1, a
    // result smaller than the source, more than 4 channels) or the working
    // rows could not be had; row then does nothing.
    bool ready() const { return ready_; }

    // Writes row `y` (0 .. height - 1) of the result to `out`: width x
    // channels bytes. Rows may be asked for in any order; in order is
    // fastest.
    void row(int32_t y, uint8_t* out);

private:
    // Where one new pixel reads the source: the first of its two source
    // pixels and the second's share, in 256ths.
    struct Tap {
        int32_t first;
        uint32_t share;
    };

    static void placeTaps(Tap* taps, int32_t source, int32_t size);
    // Source row `sourceY` interpolated across, into `across`.
    void interpolateAcross(int32_t sourceY, uint32_t* across) const;
    // The across-interpolated source row `sourceY`, made once while it is
    // one of the two last used.
    const uint32_t* acrossRow(int32_t sourceY);

    const uint8_t* const* sourceRows_;
    int32_t sourceWidth_;
    int32_t sourceHeight_;
    int32_t width_;
    int32_t height_;
    int32_t channels_;
    bool ready_ = false;
    std::unique_ptr<Tap[]> columns_;
    std::unique_ptr<Tap[]> rows_;
    std::unique_ptr<uint32_t[]> cache_[2];
    int32_t cached_[2] = {-1, -1};  // the source rows the cache holds
    int32_t older_ = 0;             // the cache slot to use next
};

}  // namespace morvel
