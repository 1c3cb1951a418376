// The inner loops of the fast glyph choosers, one variant per instruction set.
//
// Glyph cells and the picture cell are flattened row by row (h rows of m
// columns, glyph columns at and past the glyph's own width zero) and kept in
// two glyph-interleaved layouts, so that one vector holds the same pixels of
// several consecutive glyphs and the picture's pixels are broadcast against
// it:
//   - pairs:  two 16-bit pixels in a 32-bit word; pair k of glyph g is
//             words[k * stride + g] (the multiply-add kernels without VNNI);
//   - octets: eight 8-bit pixels in a 64-bit word; octet k of glyph g is
//             octets[k * stride + g], pixel 8k + i in byte i (the byte
//             kernels: sums of absolute differences, VNNI byte dot products).
// Both layouts are zero past the cell, and so is the picture cell.
//
// The sums are exact: they are added in 32- or 64-bit lanes for at most a
// chunk of pixels that cannot overflow there, then into doubles, which hold
// every integer below 2^53 exactly (a cell has far fewer than 2^53 / 255^2
// pixels).
#pragma once

#include <cstddef>
#include <cstdint>

namespace morvel {

enum class SimdLevel : int32_t {
    Scalar = 0,      // plain C++, any processor
    Avx2 = 1,        // x86-64 with AVX2
    Avx512 = 2,      // x86-64 with AVX-512 F and BW
    Avx512Vnni = 3,  // the same with the VNNI dot products
};

// Glyphs per block: the glyph stride of the interleaved words is a multiple
// of this, so every variant works on whole blocks.
inline constexpr size_t kMatchGlyphBlock = 32;

// The prepared glyphs as the kernels read them.
struct KernelGlyphs {
    const uint32_t* words = nullptr;  // pairs layout, pairs x stride
    size_t pairs = 0;
    const uint64_t* octets = nullptr;  // octets layout, octetCount x stride
    size_t octetCount = 0;
    const double* pixelSums = nullptr;  // Σa over each glyph's cell (stride entries, exact)
    size_t stride = 0;                  // a multiple of kMatchGlyphBlock
};

// The picture cell in the layout a kernel asks for (see MatchKernels).
struct KernelCell {
    const uint16_t* pixels = nullptr;  // 2 x pairs values
    const uint8_t* bytes = nullptr;    // 8 x octetCount values
};

struct MatchKernels {
    // For every g < stride, with p the picture cell and a glyph g's cell,
    // summed over the whole flattened cell:
    //   products:    sums[g] = Σ a·p
    //   differences: sums[g] = Σ |p - a|
    void (*products)(const KernelCell& cell, const KernelGlyphs& glyphs, double* sums);
    void (*differences)(const KernelCell& cell, const KernelGlyphs& glyphs, double* sums);
    // Which picture layout each reads: the bytes when true, else the 16-bit
    // pixels.
    bool productsFromBytes;
    bool differencesFromBytes;
    // For g < count (a multiple of kMatchGlyphBlock), each division rounded
    // as a lone double division:
    //   correlation: scores[g] = (c[g] · c[g]) / (a[g] · b[g])
    //   difference:  scores[g] = (c[g] - b[g]) / a[g]
    void (*correlationScores)(const double* c, const double* a, const double* b, size_t count, double* scores);
    void (*differenceScores)(const double* c, const double* a, const double* b, size_t count, double* scores);
    // The index of the first of scores[0 .. count-1] above `floor` that no
    // later one exceeds (highest), or below `ceiling` that no later one
    // undercuts (lowest): the strict running comparison of the plain
    // choosers, NaN never chosen; -1 when no score passes.
    int32_t (*highest)(const double* scores, int32_t count, double floor);
    int32_t (*lowest)(const double* scores, int32_t count, double ceiling);
    // to[i] = table[from[i]] for i < count (a black-level stretch on the way
    // into a band); 64 at a time where the processor has AVX-512 VBMI.
    void (*mapLevels)(const uint8_t* from, uint8_t* to, size_t count, const uint8_t* table);
};

// The widest level this build and this processor both support.
SimdLevel bestSimdLevel();

// True when `level` can run here.
bool simdLevelSupported(SimdLevel level);

// The kernels of `level`; the scalar ones when it cannot run here.
MatchKernels matchKernels(SimdLevel level);

const char* simdLevelName(SimdLevel level);

}  // namespace morvel
