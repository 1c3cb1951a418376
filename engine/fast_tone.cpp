#include "engine/fast_tone.h"

namespace morvel {

int32_t walkToneBand(const ImageRecord& picture, const ToneSetup& setup, int32_t y, ToneScratch& scratch, char* out)
{
    const int32_t width = picture.header.biWidth;
    const auto columns = static_cast<size_t>(width);
    scratch.before.assign(columns + 1, 0);
    scratch.means.resize(setup.groupWidths.size());
    int64_t* const before = scratch.before.data();

    // Column sums first (before[x + 1] holds column x), then running totals.
    for (int32_t r = 0; r < setup.cellHeight; ++r) {
        const uint8_t* row = picture.rows[y + r];
        for (size_t x = 0; x < columns; ++x)
            before[x + 1] += setup.curve[row[x]];
    }
    for (size_t x = 0; x < columns; ++x)
        before[x + 1] += before[x];

    const int32_t h = setup.cellHeight;
    int64_t* const means = scratch.means.data();
    int64_t error = 0;
    int32_t n = 0;
    for (int32_t x = 0; x < width - setup.maxGlyphWidth;) {
        for (size_t k = 0; k < setup.groupWidths.size(); ++k) {
            const int32_t w = setup.groupWidths[k];
            means[k] = toneMean(before[x + w] - before[x], int64_t{h} * w);
        }
        const ToneCandidate& chosen = chooseTone(
            setup, [means](const ToneCandidate& c) { return means[c.group]; }, error);
        out[n++] = static_cast<char>(chosen.code);
        x += chosen.width;
    }
    return n;
}

}  // namespace morvel
