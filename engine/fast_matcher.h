// The fast glyph choosers: the same choice as correlationScore and
// differenceScore, bit for bit, from exact integer sums.
//
// The plain choosers add pixel products in double precision. Every partial
// sum there is an integer below 2^53 (a cell holds far fewer than 2^53 / 255^2
// pixels), so it is exact, and the double made from the integer sum computed
// here is the very same number. The score is then formed with the same double
// expression and compared with the same strict test in the same glyph order,
// so ties and undefined scores (0 / 0) go the same way.
//
// What is prepared once per atlas state (rebuild it after every atlas build
// and every blur): the glyph cells flattened and interleaved for wide loads
// in both kernel layouts (see match_kernels.h), and Σa² and Σa of every
// glyph. What is made once per
// picture cell: Σp² (or Σp) for every glyph width at once, from running
// column sums. The per-glyph work is then one dot product (or one sum of
// absolute differences) over the cell.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/generator.h"
#include "engine/glyph_atlas.h"
#include "engine/match_kernels.h"
#include "image/image_record.h"

namespace morvel {

class FastMatcher {
public:
    // Prepares the glyphs of `glyphs` for the kernels of `level` (the scalar
    // ones when `level` cannot run here). Unusable when the view is not
    // (atlasViewIsUsable) or memory runs out. Keeps no reference to the view.
    explicit FastMatcher(const AtlasView& glyphs, SimdLevel level = bestSimdLevel());

    bool usable() const { return usable_; }
    SimdLevel simdLevel() const { return level_; }
    int32_t cellHeight() const { return cellHeight_; }
    int32_t maxGlyphWidth() const { return maxGlyphWidth_; }
    int32_t glyphCount() const { return glyphCount_; }
    const GlyphEntry& entry(int32_t g) const { return entries_[static_cast<size_t>(g)]; }
    const GlyphEntry* entries() const { return entries_.data(); }

    // Working buffers of one thread; make one per thread before a walk, so
    // the walk itself allocates nothing.
    class Scratch {
    public:
        explicit Scratch(const FastMatcher& matcher);
        // Makes room for the bands of pictures up to `width` pixels wide
        // (loadBand); throws std::bad_alloc when memory runs out.
        void reserveBand(const FastMatcher& matcher, int32_t width);

    private:
        friend class FastMatcher;
        std::vector<uint8_t> band;          // the band's rows, mapped, bandWidth apart, 8 bytes of slack
        std::vector<uint32_t> bandColumns;  // per band column: Σv² or Σv down the band
        std::vector<int64_t> before;        // before[x]: band columns 0 .. x-1 summed
        size_t bandWidth = 0;
        std::vector<uint8_t> bytes;    // the picture cell flattened, zeros up to a whole octet
        std::vector<uint16_t> cell;    // the same as 16-bit pixels, a zero after an odd end
        std::vector<int64_t> columns;  // per column: Σp² or Σp down the cell
        std::vector<double> upTo;      // upTo[w]: columns 0 .. w-1 summed (exact)
        std::vector<double> sums;      // per glyph: Σa·p or Σ|p-a| over the whole cell
        std::vector<double> terms;     // per glyph: the cell's part that depends on its width
        std::vector<double> scores;    // per glyph: the score
    };

    // Index into the glyph table of the glyph whose cell best matches the
    // picture cell at (x, y): the same index correlationScore or
    // differenceScore returns. The matcher must be usable, `working` 8-bit,
    // and the block of h rows by m columns at (x, y) inside it. With
    // `levels` (256 entries) every picture pixel v counts as levels[v]: the
    // choice on the picture mapped through the table (a black-level stretch)
    // without making the mapped copy.
    int32_t choose(MatchMode mode, const ImageRecord& working, int32_t x, int32_t y, Scratch& scratch,
                   const uint8_t* levels = nullptr) const;

    // The same choice for a whole band at a time, as the walk makes it:
    // loadBand takes the h rows at y of `working` (mapped through `levels`
    // when given) and their column sums, once per band; chooseInBand then
    // picks the glyph for the cell at x of that band. `scratch` must have
    // room for the picture's width (Scratch::reserveBand), and the mode must
    // be the one the band was loaded for.
    void loadBand(MatchMode mode, const ImageRecord& working, int32_t y, const uint8_t* levels, Scratch& scratch) const;
    int32_t chooseInBand(MatchMode mode, int32_t x, Scratch& scratch) const;

private:
    // Flattens the picture cell into scratch in the layout the mode's kernel
    // reads and fills its per-width sums: squares for correlation, plain
    // values for difference.
    void loadCell(const ImageRecord& working, int32_t x, int32_t y, bool correlation, const uint8_t* levels,
                  Scratch& scratch) const;
    // Copies the flattened cell bytes into the 16-bit pixels when the mode's
    // kernel reads those.
    void widenCell(bool correlation, Scratch& scratch) const;
    KernelGlyphs kernelGlyphs() const;
    int32_t chooseCorrelation(Scratch& scratch) const;
    int32_t chooseDifference(Scratch& scratch) const;

    bool usable_ = false;
    SimdLevel level_ = SimdLevel::Scalar;
    MatchKernels kernels_{};
    int32_t cellHeight_ = 0;
    int32_t maxGlyphWidth_ = 0;
    int32_t glyphCount_ = 0;
    size_t cellPixels_ = 0;  // h x m
    size_t pairCount_ = 0;   // cell pixels / 2, rounded up
    size_t octetCount_ = 0;  // cell pixels / 8, rounded up
    size_t stride_ = 0;      // glyph count rounded up to whole blocks
    std::vector<GlyphEntry> entries_;
    std::vector<int32_t> widths_;       // the entries' widths, side by side
    std::vector<uint32_t> words_;       // interleaved glyph pixel pairs, pairCount_ x stride_
    std::vector<uint64_t> octets_;      // interleaved glyph pixel octets, octetCount_ x stride_
    std::vector<double> pixelSums_;     // Σa per glyph, exact (0 past the table)
    std::vector<double> glyphSquares_;  // Σa² per glyph, exact (1 past the table)
    std::vector<double> cellAreas_;     // h x width per glyph, exact (1 past the table)
};

}  // namespace morvel
