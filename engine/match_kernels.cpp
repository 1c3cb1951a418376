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

void productsScalar(const uint16_t* picture, const uint32_t* words, size_t pairs, size_t stride, double* sums)
{
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

void differencesScalar(const uint16_t* picture, const uint32_t* words, size_t pairs, size_t stride, double* sums)
{
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

#ifdef MORVEL_X86_KERNELS

// ---- AVX2: 8 glyphs per vector ----

#define MORVEL_AVX2 __attribute__((target("avx2")))

// Adds the eight 32-bit lanes of `lanes` into sums[0..7] as doubles.
MORVEL_AVX2 inline void addLanesAvx2(__m256i lanes, double* sums)
{
    const __m256d low = _mm256_cvtepi32_pd(_mm256_castsi256_si128(lanes));
    const __m256d high = _mm256_cvtepi32_pd(_mm256_extracti128_si256(lanes, 1));
    _mm256_storeu_pd(sums, _mm256_add_pd(_mm256_loadu_pd(sums), low));
    _mm256_storeu_pd(sums + 4, _mm256_add_pd(_mm256_loadu_pd(sums + 4), high));
}

// One block of 8 x kVectors glyphs: each picture pair is broadcast once and
// meets the same pair of all of them.
template <int kVectors, bool kDifference>
MORVEL_AVX2 inline void blockAvx2(const uint16_t* picture, const uint32_t* words, size_t pairs, size_t stride,
                                  double* sums)
{
    const __m256i ones = _mm256_set1_epi16(1);
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
                if constexpr (kDifference)
                    acc[v] = _mm256_add_epi32(acc[v], _mm256_madd_epi16(_mm256_abs_epi16(_mm256_sub_epi16(p, a)), ones));
                else
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
template <bool kDifference>
MORVEL_AVX2 void sumsAvx2(const uint16_t* picture, const uint32_t* words, size_t pairs, size_t stride, double* sums)
{
    for (size_t g = 0; g < stride; g += kMatchGlyphBlock)
        blockAvx2<4, kDifference>(picture, words + g, pairs, stride, sums + g);
}

MORVEL_AVX2 void productsAvx2(const uint16_t* picture, const uint32_t* words, size_t pairs, size_t stride,
                              double* sums)
{
    sumsAvx2<false>(picture, words, pairs, stride, sums);
}

MORVEL_AVX2 void differencesAvx2(const uint16_t* picture, const uint32_t* words, size_t pairs, size_t stride,
                                 double* sums)
{
    sumsAvx2<true>(picture, words, pairs, stride, sums);
}

MORVEL_AVX2 void correlationScoresAvx2(const double* c, const double* a, const double* b, size_t count,
                                       double* scores)
{
    for (size_t g = 0; g < count; g += 4) {
        const __m256d cg = _mm256_loadu_pd(c + g);
        const __m256d denominator = _mm256_mul_pd(_mm256_loadu_pd(a + g), _mm256_loadu_pd(b + g));
        _mm256_storeu_pd(scores + g, _mm256_div_pd(_mm256_mul_pd(cg, cg), denominator));
    }
}

MORVEL_AVX2 void differenceScoresAvx2(const double* c, const double* a, const double* b, size_t count,
                                      double* scores)
{
    for (size_t g = 0; g < count; g += 4) {
        const __m256d difference = _mm256_sub_pd(_mm256_loadu_pd(c + g), _mm256_loadu_pd(b + g));
        _mm256_storeu_pd(scores + g, _mm256_div_pd(difference, _mm256_loadu_pd(a + g)));
    }
}

// ---- AVX-512: 16 glyphs per vector, optionally with VNNI ----

#define MORVEL_AVX512 __attribute__((target("avx512f,avx512bw")))
#define MORVEL_AVX512VNNI __attribute__((target("avx512f,avx512bw,avx512vnni")))

template <bool kVnni>
struct Avx512Ops;

template <>
struct Avx512Ops<false> {
    // acc + Σ over each lane's two 16-bit products
    MORVEL_AVX512 static inline __m512i madd(__m512i acc, __m512i x, __m512i y)
    {
        return _mm512_add_epi32(acc, _mm512_madd_epi16(x, y));
    }
};

template <>
struct Avx512Ops<true> {
    MORVEL_AVX512VNNI static inline __m512i madd(__m512i acc, __m512i x, __m512i y)
    {
        return _mm512_dpwssd_epi32(acc, x, y);
    }
};

// Adds the sixteen 32-bit lanes of `lanes` into sums[0..15] as doubles. (The
// halves go through memory: the register casts trip a false uninitialised-use
// warning in some compilers' headers.)
MORVEL_AVX512 inline void addLanesAvx512(__m512i lanes, double* sums)
{
    alignas(64) int32_t values[16];
    _mm512_store_si512(values, lanes);
    const __m512d low = _mm512_maskz_cvtepi32_pd(0xFF, _mm256_load_si256(reinterpret_cast<const __m256i*>(values)));
    const __m512d high =
        _mm512_maskz_cvtepi32_pd(0xFF, _mm256_load_si256(reinterpret_cast<const __m256i*>(values + 8)));
    _mm512_storeu_pd(sums, _mm512_add_pd(_mm512_loadu_pd(sums), low));
    _mm512_storeu_pd(sums + 8, _mm512_add_pd(_mm512_loadu_pd(sums + 8), high));
}

template <int kVectors, bool kDifference, bool kVnni>
MORVEL_AVX512VNNI inline void blockAvx512(const uint16_t* picture, const uint32_t* words, size_t pairs,
                                          size_t stride, double* sums)
{
    const __m512i ones = _mm512_set1_epi16(1);
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
            for (int v = 0; v < kVectors; ++v) {
                const __m512i a = _mm512_loadu_si512(row + 16 * v);
                if constexpr (kDifference)
                    acc[v] = Avx512Ops<kVnni>::madd(acc[v], _mm512_abs_epi16(_mm512_sub_epi16(p, a)), ones);
                else
                    acc[v] = Avx512Ops<kVnni>::madd(acc[v], p, a);
            }
        }
#pragma GCC unroll 16
        for (int v = 0; v < kVectors; ++v)
            addLanesAvx512(acc[v], sums + 16 * v);
    }
}

// The VNNI instantiations are only called when the processor has VNNI; the
// others use nothing past AVX-512 BW, whatever their target attribute says.
template <bool kDifference, bool kVnni>
MORVEL_AVX512VNNI void sumsAvx512(const uint16_t* picture, const uint32_t* words, size_t pairs, size_t stride,
                                  double* sums)
{
    size_t g = 0;
    for (; stride - g >= 96; g += 96)
        blockAvx512<6, kDifference, kVnni>(picture, words + g, pairs, stride, sums + g);
    if (stride - g == 64)
        blockAvx512<4, kDifference, kVnni>(picture, words + g, pairs, stride, sums + g);
    else if (stride - g == 32)
        blockAvx512<2, kDifference, kVnni>(picture, words + g, pairs, stride, sums + g);
}

MORVEL_AVX512 void correlationScoresAvx512(const double* c, const double* a, const double* b, size_t count,
                                           double* scores)
{
    for (size_t g = 0; g < count; g += 8) {
        const __m512d cg = _mm512_loadu_pd(c + g);
        const __m512d denominator = _mm512_mul_pd(_mm512_loadu_pd(a + g), _mm512_loadu_pd(b + g));
        _mm512_storeu_pd(scores + g, _mm512_div_pd(_mm512_mul_pd(cg, cg), denominator));
    }
}

MORVEL_AVX512 void differenceScoresAvx512(const double* c, const double* a, const double* b, size_t count,
                                          double* scores)
{
    for (size_t g = 0; g < count; g += 8) {
        const __m512d difference = _mm512_sub_pd(_mm512_loadu_pd(c + g), _mm512_loadu_pd(b + g));
        _mm512_storeu_pd(scores + g, _mm512_div_pd(difference, _mm512_loadu_pd(a + g)));
    }
}

#endif  // MORVEL_X86_KERNELS

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
    switch (level) {
#ifdef MORVEL_X86_KERNELS
    case SimdLevel::Avx2:
        return MatchKernels{&productsAvx2, &differencesAvx2, &correlationScoresAvx2, &differenceScoresAvx2};
    case SimdLevel::Avx512:
        return MatchKernels{&sumsAvx512<false, false>, &sumsAvx512<true, false>, &correlationScoresAvx512,
                            &differenceScoresAvx512};
    case SimdLevel::Avx512Vnni:
        return MatchKernels{&sumsAvx512<false, true>, &sumsAvx512<true, true>, &correlationScoresAvx512,
                            &differenceScoresAvx512};
#endif
    default:
        return MatchKernels{&productsScalar, &differencesScalar, &correlationScoresScalar, &differenceScoresScalar};
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
