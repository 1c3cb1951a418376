// The inner loops of the fast glyph choosers, one variant per instruction set.
//
// Glyph cells and the picture cell are flattened row by row (h rows of m
// columns, glyph columns at and past the glyph's own width zero) and cut into
// pairs of 16-bit pixels. The glyph pairs are stored glyph-interleaved as
// 32-bit words: pair k of glyph g is words[k * stride + g], so one vector
// holds the same pixel pair of 8 or 16 consecutive glyphs and the picture
// pair is broadcast against it.
//
// The sums are exact: they are added in 32-bit lanes for at most a chunk of
// pairs that cannot overflow there, then into doubles, which hold every
// integer below 2^53 exactly (a cell has far fewer than 2^53 / 255^2 pixels).
#pragma once

#include <cstddef>
#include <cstdint>

namespace morvel {

enum class SimdLevel : int32_t {
    Scalar = 0,      // plain C++, any processor
    Avx2 = 1,        // x86-64 with AVX2
    Avx512 = 2,      // x86-64 with AVX-512 F and BW
    Avx512Vnni = 3,  // the same with the VNNI multiply-add
};

// Glyphs per block: the glyph stride of the interleaved words is a multiple
// of this, so every variant works on whole blocks.
inline constexpr size_t kMatchGlyphBlock = 32;

struct MatchKernels {
    // For g < stride, with (p0, p1) = picture[2k], picture[2k + 1] and
    // (a0, a1) the low and high halves of words[k * stride + g], all at most
    // 255, summed over k < pairs:
    //   products:    sums[g] = Σ a0·p0 + a1·p1
    //   differences: sums[g] = Σ |p0 - a0| + |p1 - a1|
    void (*products)(const uint16_t* picture, const uint32_t* words, size_t pairs, size_t stride, double* sums);
    void (*differences)(const uint16_t* picture, const uint32_t* words, size_t pairs, size_t stride,
                        double* sums);
    // For g < count (a multiple of kMatchGlyphBlock), each division rounded
    // as a lone double division:
    //   correlation: scores[g] = (c[g] · c[g]) / (a[g] · b[g])
    //   difference:  scores[g] = (c[g] - b[g]) / a[g]
    void (*correlationScores)(const double* c, const double* a, const double* b, size_t count, double* scores);
    void (*differenceScores)(const double* c, const double* a, const double* b, size_t count, double* scores);
};

// The widest level this build and this processor both support.
SimdLevel bestSimdLevel();

// True when `level` can run here.
bool simdLevelSupported(SimdLevel level);

// The kernels of `level`; the scalar ones when it cannot run here.
MatchKernels matchKernels(SimdLevel level);

const char* simdLevelName(SimdLevel level);

}  // namespace morvel
