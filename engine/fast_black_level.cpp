#include "engine/fast_black_level.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace morvel {

namespace {

// The lowest and highest of `count` bytes, folded into lo and hi; sixteen at
// a time where the processor has SSE2 (every x86-64 does).
void foldRange(const uint8_t* row, int32_t count, uint8_t& lo, uint8_t& hi)
{
    int32_t x = 0;
#if defined(__SSE2__)
    if (count >= 16) {
        __m128i low = _mm_set1_epi8(static_cast<char>(lo));
        __m128i high = _mm_set1_epi8(static_cast<char>(hi));
        for (; x + 16 <= count; x += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
            low = _mm_min_epu8(low, v);
            high = _mm_max_epu8(high, v);
        }
        alignas(16) uint8_t lows[16];
        alignas(16) uint8_t highs[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(lows), low);
        _mm_store_si128(reinterpret_cast<__m128i*>(highs), high);
        for (int i = 0; i < 16; ++i) {
            lo = lows[i] < lo ? lows[i] : lo;
            hi = highs[i] > hi ? highs[i] : hi;
        }
    }
#endif
    for (; x < count; ++x) {
        lo = row[x] < lo ? row[x] : lo;
        hi = row[x] > hi ? row[x] : hi;
    }
}

}  // namespace

void foldLevelRange(const ImageRecord& picture, uint8_t& lo, uint8_t& hi)
{
    if (picture.header.biBitCount != 8 || !picture.rows)
        return;
    // Only real pixels count: the fill bytes past the width are skipped.
    for (int32_t y = 0; y < picture.rowCount; ++y)
        foldRange(picture.rows[y], picture.header.biWidth, lo, hi);
}

bool blackLevelTable(const ImageRecord& picture, int32_t level, uint8_t table[256])
{
    if (level < 0 || level > 255 || picture.header.biBitCount != 8)
        return false;
    if (picture.header.biWidth <= 0 || picture.rowCount <= 0 || !picture.rows)
        return false;
    uint8_t lo = 255;
    uint8_t hi = 0;
    foldLevelRange(picture, lo, hi);
    return blackLevelTableOfRange(lo, hi, level, table);
}

bool blackLevelTableOfRange(uint8_t lo, uint8_t hi, int32_t level, uint8_t table[256])
{
    if (level < 0 || level > 255 || lo >= hi)
        return false;
    // The stretch of every level that occurs, with the same integer
    // arithmetic as the plain loop; the others (and the fill bytes) stay.
    const int32_t span = hi - lo;
    const int32_t reach = 255 - level;
    uint8_t made[256];
    bool identity = true;
    for (int32_t v = 0; v < 256; ++v) {
        made[v] = v < lo || v > hi ? static_cast<uint8_t>(v) : static_cast<uint8_t>(level + (v - lo) * reach / span);
        identity = identity && made[v] == v;
    }
    if (identity)
        return false;  // a full-range picture at black level 0 stays as it is
    for (int32_t v = 0; v < 256; ++v)
        table[v] = made[v];
    return true;
}

namespace {

void applyTable(ImageRecord& picture, const uint8_t table[256])
{
    const int32_t width = picture.header.biWidth;
    for (int32_t y = 0; y < picture.rowCount; ++y) {
        uint8_t* row = picture.rows[y];
        for (int32_t x = 0; x < width; ++x)
            row[x] = table[row[x]];
    }
}

}  // namespace

ImageHandle stretchToBlackLevelFast(const ImageRecord& source, int32_t level)
{
    if (level < 0 || level > 255 || source.header.biBitCount != 8)
        return nullptr;
    ImageHandle working(copyImageRecord(&source));
    if (!working)
        return nullptr;
    stretchToBlackLevelInPlace(*working, level);
    return working;
}

bool stretchToBlackLevelInPlace(ImageRecord& picture, int32_t level)
{
    if (level < 0 || level > 255 || picture.header.biBitCount != 8)
        return false;
    uint8_t table[256];
    if (blackLevelTable(picture, level, table))
        applyTable(picture, table);
    return true;
}

}  // namespace morvel
