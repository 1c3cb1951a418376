#include "engine/match_kernels.h"

#include <cstring>
#include <initializer_list>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MORVEL_X86_KERNELS 1
#include <immintrin.h>
#endif

namespace morvel {

namespace {

// Pairs summed in 32-bit lanes before they are added into the doubles: a pair
// contributes at most 2 x 255 x 255 = 130050, and 16384 of them stay below
// 2^31.
constexpr size_t kChunkPairs = 16384;

inline uint32_t pictureWord(const uint16_t* picture, size_t k)
{
    uint32_t word;
    std::memcpy(&word, picture + 2 * k, sizeof word);
    return word;
}

inline uint64_t pictureOctet(const uint8_t* bytes, size_t k)
{
    uint64_t octet;
    std::memcpy(&octet, bytes + 8 * k, sizeof octet);
    return octet;
}

void productsScalar(const KernelCell& cell, const KernelGlyphs& glyphs, double* sums)
{
    const uint16_t* picture = cell.pixels;
    const uint32_t* words = glyphs.words;
    const size_t pairs = glyphs.pairs;
    const size_t stride = glyphs.stride;
    for (size_t g = 0; g < stride; ++g)
        sums[g] = 0.0;
    for (size_t k0 = 0; k0 < pairs; k0 += kChunkPairs) {
        const size_t k1 = pairs - k0 > kChunkPairs ? k0 + kChunkPairs : pairs;
        for (size_t g = 0; g < stride; ++g) {
            uint32_t sum = 0;
            for (size_t k = k0; k < k1; ++k) {
                const uint32_t a = words[k * stride + g];
                sum += (a & 0xFFFFu) * picture[2 * k] + (a >> 16) * picture[2 * k + 1];
            }
            sums[g] += static_cast<double>(sum);
        }
    }
}

void differencesScalar(const KernelCell& cell, const KernelGlyphs& glyphs, double* sums)
{
    const uint16_t* picture = cell.pixels;
    const uint32_t* words = glyphs.words;
    const size_t pairs = glyphs.pairs;
    const size_t stride = glyphs.stride;
    for (size_t g = 0; g < stride; ++g)
        sums[g] = 0.0;
    for (size_t k0 = 0; k0 < pairs; k0 += kChunkPairs) {
        const size_t k1 = pairs - k0 > kChunkPairs ? k0 + kChunkPairs : pairs;
        for (size_t g = 0; g < stride; ++g) {
            uint32_t sum = 0;
            for (size_t k = k0; k < k1; ++k) {
                const uint32_t a = words[k * stride + g];
                const int32_t d0 = int32_t{picture[2 * k]} - static_cast<int32_t>(a & 0xFFFFu);
                const int32_t d1 = int32_t{picture[2 * k + 1]} - static_cast<int32_t>(a >> 16);
                sum += static_cast<uint32_t>((d0 < 0 ? -d0 : d0) + (d1 < 0 ? -d1 : d1));
            }
            sums[g] += static_cast<double>(sum);
        }
    }
}

void correlationScoresScalar(const double* c, const double* a, const double* b, size_t count, double* scores)
{
    for (size_t g = 0; g < count; ++g)
        scores[g] = (c[g] * c[g]) / (a[g] * b[g]);
}

void differenceScoresScalar(const double* c, const double* a, const double* b, size_t count, double* scores)
{
    for (size_t g = 0; g < count; ++g)
        scores[g] = (c[g] - b[g]) / a[g];
}

int32_t highestScalar(const double* scores, int32_t count, double floor)
{
    double best = floor;
    int32_t bestIndex = -1;
    for (int32_t g = 0; g < count; ++g) {
        if (scores[g] > best) {
            best = scores[g];
            bestIndex = g;
        }
    }
    return bestIndex;
}

int32_t lowestScalar(const double* scores, int32_t count, double ceiling)
{
    double best = ceiling;
    int32_t bestIndex = -1;
    for (int32_t g = 0; g < count; ++g) {
        if (scores[g] < best) {
            best = scores[g];
            bestIndex = g;
        }
    }
    return bestIndex;
}

void mapLevelsScalar(const uint8_t* from, uint8_t* to, size_t count, const uint8_t* table)
{
    for (size_t i = 0; i < count; ++i)
        to[i] = table[from[i]];
}

#ifdef MORVEL_X86_KERNELS

// Each variant has its own target attribute, naming only the instruction set
// that variant is chosen for: a function compiled for one set cannot be
// inlined into, or share a template instance with, a narrower one, so no
// instruction of a wider set can reach a processor that lacks it.
#define MORVEL_AVX2 __attribute__((target("avx2")))
#define MORVEL_AVX512BW __attribute__((target("avx512f,avx512bw")))
#define MORVEL_AVX512VNNI __attribute__((target("avx512f,avx512bw,avx512vnni")))

// 2^52 as the bits of a double: OR-ed onto an integer x below 2^52 it makes
// the double 2^52 + x, from which subtracting 2^52 leaves x exactly.
constexpr long long kDoubleMagic = 0x4330000000000000LL;

// ---- AVX2: 8 glyphs per vector (pairs), 4 per vector (octets) ----

// Adds the eight 32-bit lanes of `lanes` into sums[0..7] as doubles.
MORVEL_AVX2 inline void addLanesAvx2(__m256i lanes, double* sums)
{
    const __m256d low = _mm256_cvtepi32_pd(_mm256_castsi256_si128(lanes));
    const __m256d high = _mm256_cvtepi32_pd(_mm256_extracti128_si256(lanes, 1));
    _mm256_storeu_pd(sums, _mm256_add_pd(_mm256_loadu_pd(sums), low));
    _mm256_storeu_pd(sums + 4, _mm256_add_pd(_mm256_loadu_pd(sums + 4), high));
}

// Stores the four 64-bit lanes of `lanes` (each below 2^52) into sums[0..3].
MORVEL_AVX2 inline void storeQuadsAvx2(__m256i lanes, double* sums)
{
    const __m256i magic = _mm256_set1_epi64x(kDoubleMagic);
    const __m256d values =
        _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(lanes, magic)), _mm256_castsi256_pd(magic));
    _mm256_storeu_pd(sums, values);
}

// One block of 8 x kVectors glyphs: each picture pair is broadcast once and
// meets the same pair of all of them in a 16-bit multiply-add.
template <int kVectors>
MORVEL_AVX2 inline void productBlockAvx2(const uint16_t* picture, const uint32_t* words, size_t pairs, size_t stride,
                                         double* sums)
{
    for (int i = 0; i < 8 * kVectors; ++i)
        sums[i] = 0.0;
    for (size_t k0 = 0; k0 < pairs; k0 += kChunkPairs) {
        const size_t k1 = pairs - k0 > kChunkPairs ? k0 + kChunkPairs : pairs;
        __m256i acc[kVectors];
#pragma GCC unroll 16
        for (int v = 0; v < kVectors; ++v)
            acc[v] = _mm256_setzero_si256();
        const uint32_t* row = words + k0 * stride;
        for (size_t k = k0; k < k1; ++k, row += stride) {
            const __m256i p = _mm256_set1_epi32(static_cast<int32_t>(pictureWord(picture, k)));
#pragma GCC unroll 16
            for (int v = 0; v < kVectors; ++v) {
                const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 8 * v));
                acc[v] = _mm256_add_epi32(acc[v], _mm256_madd_epi16(p, a));
            }
        }
#pragma GCC unroll 16
        for (int v = 0; v < kVectors; ++v)
            addLanesAvx2(acc[v], sums + 8 * v);
    }
}

// Blocks of 32 glyphs: four accumulators leave registers for the loads (a
// wider block spills on AVX2's sixteen registers).
MORVEL_AVX2 void productsAvx2(const KernelCell& cell, const KernelGlyphs& glyphs, double* sums)
{
    for (size_t g = 0; g < glyphs.stride; g += kMatchGlyphBlock)
        productBlockAvx2<4>(cell.pixels, glyphs.words + g, glyphs.pairs, glyphs.stride, sums + g);
}

// One block of 4 x kVectors glyphs on the octets: one vpsadbw adds the eight
// absolute differences of a glyph's octet into its 64-bit lane, which cannot
// overflow (a cell's whole sum is far below 2^52).
template <int kVectors>
MORVEL_AVX2 inline void differenceBlockAvx2(const uint8_t* picture, const uint64_t* octets, size_t count, size_t stride,
                                            double* sums)
{
    __m256i acc[kVectors];
#pragma GCC unroll 16
    for (int v = 0; v < kVectors; ++v)
        acc[v] = _mm256_setzero_si256();
    const uint64_t* row = octets;
    for (size_t k = 0; k < count; ++k, row += stride) {
        const __m256i p = _mm256_set1_epi64x(static_cast<long long>(pictureOctet(picture, k)));
#pragma GCC unroll 16
        for (int v = 0; v < kVectors; ++v) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 4 * v));
            acc[v] = _mm256_add_epi64(acc[v], _mm256_sad_epu8(p, a));
        }
    }
#pragma GCC unroll 16
    for (int v = 0; v < kVectors; ++v)
        storeQuadsAvx2(acc[v], sums + 4 * v);
}

MORVEL_AVX2 void differencesAvx2(const KernelCell& cell, const KernelGlyphs& glyphs, double* sums)
{
    for (size_t g = 0; g < glyphs.stride; g += kMatchGlyphBlock)
        differenceBlockAvx2<8>(cell.bytes, glyphs.octets + g, glyphs.octetCount, glyphs.stride, sums + g);
}

MORVEL_AVX2 void correlationScoresAvx2(const double* c, const double* a, const double* b, size_t count, double* scores)
{
    for (size_t g = 0; g < count; g += 4) {
        const __m256d cg = _mm256_loadu_pd(c + g);
        const __m256d denominator = _mm256_mul_pd(_mm256_loadu_pd(a + g), _mm256_loadu_pd(b + g));
        _mm256_storeu_pd(scores + g, _mm256_div_pd(_mm256_mul_pd(cg, cg), denominator));
    }
}

MORVEL_AVX2 void differenceScoresAvx2(const double* c, const double* a, const double* b, size_t count, double* scores)
{
    for (size_t g = 0; g < count; g += 4) {
        const __m256d difference = _mm256_sub_pd(_mm256_loadu_pd(c + g), _mm256_loadu_pd(b + g));
        _mm256_storeu_pd(scores + g, _mm256_div_pd(difference, _mm256_loadu_pd(a + g)));
    }
}

// The running strict comparison in two passes: the extreme of the scores
// (NaN passed over: vmaxpd / vminpd return their second operand, the
// extreme so far, when the first is NaN), then the first score equal to it.
template <bool kHighest>
MORVEL_AVX2 int32_t extremeAvx2(const double* scores, int32_t count, double limit)
{
    const size_t n = static_cast<size_t>(count);
    __m256d acc = _mm256_set1_pd(limit);
    size_t g = 0;
    for (; g + 4 <= n; g += 4) {
        const __m256d s = _mm256_loadu_pd(scores + g);
        acc = kHighest ? _mm256_max_pd(s, acc) : _mm256_min_pd(s, acc);
    }
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, acc);
    double best = limit;
    for (double v : lanes)
        best = kHighest ? (v > best ? v : best) : (v < best ? v : best);
    for (; g < n; ++g)
        best = kHighest ? (scores[g] > best ? scores[g] : best) : (scores[g] < best ? scores[g] : best);
    if (best == limit)
        return -1;
    const __m256d target = _mm256_set1_pd(best);
    g = 0;
    for (; g + 4 <= n; g += 4) {
        const int mask = _mm256_movemask_pd(_mm256_cmp_pd(_mm256_loadu_pd(scores + g), target, _CMP_EQ_OQ));
        if (mask != 0)
            return static_cast<int32_t>(g) + __builtin_ctz(static_cast<unsigned>(mask));
    }
    for (; g < n; ++g)
        if (scores[g] == best)
            return static_cast<int32_t>(g);
    return -1;
}

MORVEL_AVX2 int32_t highestAvx2(const double* scores, int32_t count, double floor)
{
    return extremeAvx2<true>(scores, count, floor);
}

MORVEL_AVX2 int32_t lowestAvx2(const double* scores, int32_t count, double ceiling)
{
    return extremeAvx2<false>(scores, count, ceiling);
}

// ---- AVX-512 BW: 16 glyphs per vector (pairs), 8 per vector (octets) ----

// Adds the sixteen 32-bit lanes of `lanes` into sums[0..15] as doubles. (The
// halves go through memory: the register casts trip a false uninitialised-use
// warning in some compilers' headers.)
MORVEL_AVX512BW inline void addLanesAvx512(__m512i lanes, double* sums)
{
    alignas(64) int32_t values[16];
    _mm512_store_si512(values, lanes);
    const __m512d low = _mm512_maskz_cvtepi32_pd(0xFF, _mm256_load_si256(reinterpret_cast<const __m256i*>(values)));
    const __m512d high =
        _mm512_maskz_cvtepi32_pd(0xFF, _mm256_load_si256(reinterpret_cast<const __m256i*>(values + 8)));
    _mm512_storeu_pd(sums, _mm512_add_pd(_mm512_loadu_pd(sums), low));
    _mm512_storeu_pd(sums + 8, _mm512_add_pd(_mm512_loadu_pd(sums + 8), high));
}

// Stores the eight 64-bit lanes of `lanes` (each below 2^52) into sums[0..7].
MORVEL_AVX512BW inline void storeOctetLanesAvx512(__m512i lanes, double* sums)
{
    const __m512i magic = _mm512_set1_epi64(kDoubleMagic);
    const __m512d values =
        _mm512_sub_pd(_mm512_castsi512_pd(_mm512_or_si512(lanes, magic)), _mm512_castsi512_pd(magic));
    _mm512_storeu_pd(sums, values);
}

template <int kVectors>
MORVEL_AVX512BW inline void productBlockAvx512(const uint16_t* picture, const uint32_t* words, size_t pairs,
                                               size_t stride, double* sums)
{
    for (int i = 0; i < 16 * kVectors; ++i)
        sums[i] = 0.0;
    for (size_t k0 = 0; k0 < pairs; k0 += kChunkPairs) {
        const size_t k1 = pairs - k0 > kChunkPairs ? k0 + kChunkPairs : pairs;
        __m512i acc[kVectors];
#pragma GCC unroll 16
        for (int v = 0; v < kVectors; ++v)
            acc[v] = _mm512_setzero_si512();
        const uint32_t* row = words + k0 * stride;
        for (size_t k = k0; k < k1; ++k, row += stride) {
            const __m512i p = _mm512_set1_epi32(static_cast<int32_t>(pictureWord(picture, k)));
#pragma GCC unroll 16
            for (int v = 0; v < kVectors; ++v)
                acc[v] = _mm512_add_epi32(acc[v], _mm512_madd_epi16(p, _mm512_loadu_si512(row + 16 * v)));
        }
#pragma GCC unroll 16
        for (int v = 0; v < kVectors; ++v)
            addLanesAvx512(acc[v], sums + 16 * v);
    }
}

MORVEL_AVX512BW void productsAvx512(const KernelCell& cell, const KernelGlyphs& glyphs, double* sums)
{
    const size_t stride = glyphs.stride;
    size_t g = 0;
    for (; stride - g >= 96; g += 96)
        productBlockAvx512<6>(cell.pixels, glyphs.words + g, glyphs.pairs, stride, sums + g);
    if (stride - g == 64)
        productBlockAvx512<4>(cell.pixels, glyphs.words + g, glyphs.pairs, stride, sums + g);
    else if (stride - g == 32)
        productBlockAvx512<2>(cell.pixels, glyphs.words + g, glyphs.pairs, stride, sums + g);
}

template <int kVectors>
MORVEL_AVX512BW inline void differenceBlockAvx512(const uint8_t* picture, const uint64_t* octets, size_t count,
                                                  size_t stride, double* sums)
{
    __m512i acc[kVectors];
#pragma GCC unroll 16
    for (int v = 0; v < kVectors; ++v)
        acc[v] = _mm512_setzero_si512();
    const uint64_t* row = octets;
    for (size_t k = 0; k < count; ++k, row += stride) {
        const __m512i p = _mm512_set1_epi64(static_cast<long long>(pictureOctet(picture, k)));
#pragma GCC unroll 16
        for (int v = 0; v < kVectors; ++v)
            acc[v] = _mm512_add_epi64(acc[v], _mm512_sad_epu8(p, _mm512_loadu_si512(row + 8 * v)));
    }
#pragma GCC unroll 16
    for (int v = 0; v < kVectors; ++v)
        storeOctetLanesAvx512(acc[v], sums + 8 * v);
}

MORVEL_AVX512BW void differencesAvx512(const KernelCell& cell, const KernelGlyphs& glyphs, double* sums)
{
    const size_t stride = glyphs.stride;
    size_t g = 0;
    for (; stride - g >= 96; g += 96)
        differenceBlockAvx512<12>(cell.bytes, glyphs.octets + g, glyphs.octetCount, stride, sums + g);
    if (stride - g == 64)
        differenceBlockAvx512<8>(cell.bytes, glyphs.octets + g, glyphs.octetCount, stride, sums + g);
    else if (stride - g == 32)
        differenceBlockAvx512<4>(cell.bytes, glyphs.octets + g, glyphs.octetCount, stride, sums + g);
}

MORVEL_AVX512BW void correlationScoresAvx512(const double* c, const double* a, const double* b, size_t count,
                                             double* scores)
{
    for (size_t g = 0; g < count; g += 8) {
        const __m512d cg = _mm512_loadu_pd(c + g);
        const __m512d denominator = _mm512_mul_pd(_mm512_loadu_pd(a + g), _mm512_loadu_pd(b + g));
        _mm512_storeu_pd(scores + g, _mm512_div_pd(_mm512_mul_pd(cg, cg), denominator));
    }
}

MORVEL_AVX512BW void differenceScoresAvx512(const double* c, const double* a, const double* b, size_t count,
                                            double* scores)
{
    for (size_t g = 0; g < count; g += 8) {
        const __m512d difference = _mm512_sub_pd(_mm512_loadu_pd(c + g), _mm512_loadu_pd(b + g));
        _mm512_storeu_pd(scores + g, _mm512_div_pd(difference, _mm512_loadu_pd(a + g)));
    }
}

template <bool kHighest>
MORVEL_AVX512BW int32_t extremeAvx512(const double* scores, int32_t count, double limit)
{
    const size_t n = static_cast<size_t>(count);
    const __m512d fill = _mm512_set1_pd(limit);
    __m512d acc = fill;
    for (size_t g = 0; g < n; g += 8) {
        // Past the end the limit stands in, which never wins.
        const __mmask8 inside = static_cast<__mmask8>(n - g >= 8 ? 0xFF : (1u << (n - g)) - 1);
        const __m512d s = _mm512_mask_loadu_pd(fill, inside, scores + g);
        acc = kHighest ? _mm512_maskz_max_pd(0xFF, s, acc) : _mm512_maskz_min_pd(0xFF, s, acc);
    }
    // (Reduced through memory: the reduce intrinsics trip the same false
    // uninitialised-use warning as above.)
    alignas(64) double lanes[8];
    _mm512_store_pd(lanes, acc);
    double best = limit;
    for (double v : lanes)
        best = kHighest ? (v > best ? v : best) : (v < best ? v : best);
    if (best == limit)
        return -1;
    const __m512d target = _mm512_set1_pd(best);
    for (size_t g = 0; g < n; g += 8) {
        const __mmask8 inside = static_cast<__mmask8>(n - g >= 8 ? 0xFF : (1u << (n - g)) - 1);
        const __mmask8 equal =
            _mm512_mask_cmp_pd_mask(inside, _mm512_mask_loadu_pd(fill, inside, scores + g), target, _CMP_EQ_OQ);
        if (equal != 0)
            return static_cast<int32_t>(g) + __builtin_ctz(static_cast<unsigned>(equal));
    }
    return -1;
}

MORVEL_AVX512BW int32_t highestAvx512(const double* scores, int32_t count, double floor)
{
    return extremeAvx512<true>(scores, count, floor);
}

MORVEL_AVX512BW int32_t lowestAvx512(const double* scores, int32_t count, double ceiling)
{
    return extremeAvx512<false>(scores, count, ceiling);
}

// ---- AVX-512 VNNI: byte dot products, 8 glyphs per vector (octets) ----

// vpdpbusd multiplies unsigned bytes by signed ones. The glyph bytes are the
// unsigned side; the picture goes in as p - 128 (its top bit flipped), so a
// lane gathers Σ a·(p - 128), and Σ a·p = that + 128·Σa, Σa being fixed per
// glyph. A glyph's octet fills two 32-bit lanes; an octet adds at most
// 8 x 255 x 128 = 261120 in size to their sum, so 8192 octets keep the sum of
// the two lanes within 32 bits.
constexpr size_t kChunkOctets = 8192;

template <int kVectors>
MORVEL_AVX512VNNI inline void productBlockVnni(const uint8_t* picture, const uint64_t* octets, size_t count,
                                               size_t stride, const double* pixelSums, double* sums)
{
    for (int i = 0; i < 8 * kVectors; ++i)
        sums[i] = 128.0 * pixelSums[i];
    const __m512i flip = _mm512_set1_epi8(static_cast<char>(0x80));
    for (size_t k0 = 0; k0 < count; k0 += kChunkOctets) {
        const size_t k1 = count - k0 > kChunkOctets ? k0 + kChunkOctets : count;
        __m512i acc[kVectors];
#pragma GCC unroll 16
        for (int v = 0; v < kVectors; ++v)
            acc[v] = _mm512_setzero_si512();
        const uint64_t* row = octets + k0 * stride;
        for (size_t k = k0; k < k1; ++k, row += stride) {
            const __m512i p =
                _mm512_xor_si512(_mm512_set1_epi64(static_cast<long long>(pictureOctet(picture, k))), flip);
#pragma GCC unroll 16
            for (int v = 0; v < kVectors; ++v)
                acc[v] = _mm512_dpbusd_epi32(acc[v], _mm512_loadu_si512(row + 8 * v), p);
        }
#pragma GCC unroll 16
        for (int v = 0; v < kVectors; ++v) {
            // Both signed 32-bit halves of each glyph's lane, added in 64 bits.
            // (The all-lanes masked forms: the plain ones trip a false
            // uninitialised-use warning in some compilers' headers.)
            const __m512i low = _mm512_maskz_srai_epi64(0xFF, _mm512_maskz_slli_epi64(0xFF, acc[v], 32), 32);
            const __m512i high = _mm512_maskz_srai_epi64(0xFF, acc[v], 32);
            const __m256i total = _mm512_maskz_cvtepi64_epi32(0xFF, _mm512_add_epi64(low, high));
            _mm512_storeu_pd(sums + 8 * v,
                             _mm512_add_pd(_mm512_loadu_pd(sums + 8 * v), _mm512_maskz_cvtepi32_pd(0xFF, total)));
        }
    }
}

MORVEL_AVX512VNNI void productsVnni(const KernelCell& cell, const KernelGlyphs& glyphs, double* sums)
{
    const size_t stride = glyphs.stride;
    size_t g = 0;
    for (; stride - g >= 96; g += 96)
        productBlockVnni<12>(cell.bytes, glyphs.octets + g, glyphs.octetCount, stride, glyphs.pixelSums + g, sums + g);
    if (stride - g == 64)
        productBlockVnni<8>(cell.bytes, glyphs.octets + g, glyphs.octetCount, stride, glyphs.pixelSums + g, sums + g);
    else if (stride - g == 32)
        productBlockVnni<4>(cell.bytes, glyphs.octets + g, glyphs.octetCount, stride, glyphs.pixelSums + g, sums + g);
}

// ---- AVX-512 VBMI: 64 table look-ups at a time ----

#define MORVEL_AVX512VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// Two two-register byte permutes cover the low and high 128 entries; the top
// bit of each index picks between them.
MORVEL_AVX512VBMI void mapLevelsVbmi(const uint8_t* from, uint8_t* to, size_t count, const uint8_t* table)
{
    const __m512i t0 = _mm512_loadu_si512(table);
    const __m512i t1 = _mm512_loadu_si512(table + 64);
    const __m512i t2 = _mm512_loadu_si512(table + 128);
    const __m512i t3 = _mm512_loadu_si512(table + 192);
    size_t i = 0;
    for (; i + 64 <= count; i += 64) {
        const __m512i v = _mm512_loadu_si512(from + i);
        const __m512i low = _mm512_permutex2var_epi8(t0, v, t1);
        const __m512i high = _mm512_permutex2var_epi8(t2, v, t3);
        _mm512_storeu_si512(to + i, _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high));
    }
    for (; i < count; ++i)
        to[i] = table[from[i]];
}

#endif  // MORVEL_X86_KERNELS

// The widest table look-up for the kernels of `level`: the byte permutes with
// the AVX-512 levels when the processor also has VBMI.
auto mapLevelsFor(SimdLevel level) -> void (*)(const uint8_t*, uint8_t*, size_t, const uint8_t*)
{
#ifdef MORVEL_X86_KERNELS
    if ((level == SimdLevel::Avx512 || level == SimdLevel::Avx512Vnni) && __builtin_cpu_supports("avx512vbmi"))
        return &mapLevelsVbmi;
#endif
    (void)level;
    return &mapLevelsScalar;
}

}  // namespace
bool simdLevelSupported(SimdLevel level)
{
    switch (level) {
    case SimdLevel::Scalar:
        return true;
#ifdef MORVEL_X86_KERNELS
    case SimdLevel::Avx2:
        return __builtin_cpu_supports("avx2");
    case SimdLevel::Avx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    case SimdLevel::Avx512Vnni:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vnni");
#else
    case SimdLevel::Avx2:
    case SimdLevel::Avx512:
    case SimdLevel::Avx512Vnni:
        return false;
#endif
    }
    return false;
}

SimdLevel bestSimdLevel()
{
    static const SimdLevel best = [] {
        for (SimdLevel level : {SimdLevel::Avx512Vnni, SimdLevel::Avx512, SimdLevel::Avx2})
            if (simdLevelSupported(level))
                return level;
        return SimdLevel::Scalar;
    }();
    return best;
}

MatchKernels matchKernels(SimdLevel level)
{
    if (!simdLevelSupported(level))
        level = SimdLevel::Scalar;
    const auto mapLevels = mapLevelsFor(level);
    switch (level) {
#ifdef MORVEL_X86_KERNELS
    case SimdLevel::Avx2:
        return MatchKernels{&productsAvx2,         &differencesAvx2, false,       true,     &correlationScoresAvx2,
                            &differenceScoresAvx2, &highestAvx2,     &lowestAvx2, mapLevels};
    case SimdLevel::Avx512:
        return MatchKernels{
            &productsAvx512,         &differencesAvx512, false,         true,     &correlationScoresAvx512,
            &differenceScoresAvx512, &highestAvx512,     &lowestAvx512, mapLevels};
    case SimdLevel::Avx512Vnni:
        // VNNI adds the byte dot product; the rest is the AVX-512 BW code.
        return MatchKernels{
            &productsVnni,           &differencesAvx512, true,          true,     &correlationScoresAvx512,
            &differenceScoresAvx512, &highestAvx512,     &lowestAvx512, mapLevels};
#endif
    default:
        return MatchKernels{
            &productsScalar,         &differencesScalar, false,         false,    &correlationScoresScalar,
            &differenceScoresScalar, &highestScalar,     &lowestScalar, mapLevels};
    }
}

const char* simdLevelName(SimdLevel level)
{
    switch (level) {
    case SimdLevel::Scalar:
        return "scalar";
    case SimdLevel::Avx2:
        return "avx2";
    case SimdLevel::Avx512:
        return "avx512bw";
    case SimdLevel::Avx512Vnni:
        return "avx512vnni";
    }
    return "scalar";
}

}  // namespace morvel
