#include "engine/fast_matcher.h"

#include <array>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace morvel {

namespace {

// The table that leaves every level as it is.
const std::array<uint8_t, 256> kSameLevels = [] {
    std::array<uint8_t, 256> table{};
    for (size_t v = 0; v < table.size(); ++v)
        table[v] = static_cast<uint8_t>(v);
    return table;
}();

}  // namespace

FastMatcher::FastMatcher(const AtlasView& glyphs, SimdLevel level)
{
    if (!atlasViewIsUsable(glyphs))
        return;
    level_ = simdLevelSupported(level) ? level : SimdLevel::Scalar;
    kernels_ = matchKernels(level_);
    cellHeight_ = glyphs.cellHeight;
    maxGlyphWidth_ = glyphs.maxGlyphWidth;
    glyphCount_ = glyphs.glyphCount;
    const size_t h = static_cast<size_t>(cellHeight_);
    const size_t m = static_cast<size_t>(maxGlyphWidth_);
    const size_t count = static_cast<size_t>(glyphCount_);
    cellPixels_ = h * m;
    pairCount_ = (cellPixels_ + 1) / 2;
    octetCount_ = (cellPixels_ + 7) / 8;
    stride_ = (count + kMatchGlyphBlock - 1) / kMatchGlyphBlock * kMatchGlyphBlock;

    try {
        entries_.assign(glyphs.glyphs, glyphs.glyphs + count);
        widths_.resize(count);
        for (size_t g = 0; g < count; ++g)
            widths_[g] = entries_[g].width;
        words_.assign(pairCount_ * stride_, 0u);
        octets_.assign(octetCount_ * stride_, 0u);
        pixelSums_.assign(stride_, 0.0);
        // Past the table the denominators are 1, so the scores there are
        // plain numbers; they are never looked at.
        glyphSquares_.assign(stride_, 1.0);
        cellAreas_.assign(stride_, 1.0);
    } catch (const std::bad_alloc&) {
        entries_.clear();
        words_.clear();
        octets_.clear();
        return;
    }

    const ImageRecord& atlas = *glyphs.atlas;
    for (size_t g = 0; g < count; ++g) {
        const GlyphEntry& entry = entries_[g];
        const size_t w = static_cast<size_t>(entry.width);
        int64_t squares = 0;
        int64_t sum = 0;
        for (size_t r = 0; r < h; ++r) {
            const uint8_t* row = atlas.rows[static_cast<size_t>(entry.top) + r] + glyphs.margin;
            for (size_t j = 0; j < w; ++j) {
                const uint32_t a = row[j];
                squares += a * a;
                sum += a;
                // Pixel i of the flattened cell is half i % 2 of word i / 2
                // and byte i % 8 of octet i / 8.
                const size_t i = r * m + j;
                words_[(i / 2) * stride_ + g] |= a << (16 * (i % 2));
                octets_[(i / 8) * stride_ + g] |= uint64_t{a} << (8 * (i % 8));
            }
        }
        glyphSquares_[g] = static_cast<double>(squares);
        pixelSums_[g] = static_cast<double>(sum);
        cellAreas_[g] = static_cast<double>(int64_t{cellHeight_} * entry.width);
    }
    usable_ = true;
}

FastMatcher::Scratch::Scratch(const FastMatcher& matcher)
    : bytes(matcher.octetCount_ * 8 + 8, 0), cell(matcher.pairCount_ * 2, 0),
      columns(static_cast<size_t>(matcher.maxGlyphWidth_), 0),
      upTo(static_cast<size_t>(matcher.maxGlyphWidth_) + 1, 0.0), sums(matcher.stride_, 0.0),
      terms(matcher.stride_, 0.0), scores(matcher.stride_, 0.0)
{}

void FastMatcher::Scratch::reserveBand(const FastMatcher& matcher, int32_t width)
{
    const size_t w = width > 0 ? static_cast<size_t>(width) : 0;
    band.resize(static_cast<size_t>(matcher.cellHeight_) * w + 8);
    bandColumns.resize(w);
    before.resize(w + 1);
    bandWidth = w;
}

namespace {

// Copies the h x m picture block at (x, y), each pixel mapped through
// `levels`, into `flat` row after row and adds each column's values (or
// squares) into `columns`.
template <bool kSquares>
void flattenCell(const ImageRecord& working, int32_t x, int32_t y, size_t h, size_t m, const uint8_t* levels,
                 uint8_t* flat, int64_t* columns)
{
    for (size_t j = 0; j < m; ++j)
        columns[j] = 0;
    for (size_t r = 0; r < h; ++r, flat += m) {
        const uint8_t* row = working.rows[static_cast<size_t>(y) + r] + x;
        for (size_t j = 0; j < m; ++j) {
            const uint32_t v = levels[row[j]];
            flat[j] = static_cast<uint8_t>(v);
            columns[j] += kSquares ? v * v : v;
        }
    }
}

}  // namespace

void FastMatcher::widenCell(bool correlation, Scratch& scratch) const
{
    // The 16-bit kernels read the cell widened; the odd pixel past it, when
    // there is one, stays 0.
    if (correlation ? kernels_.productsFromBytes : kernels_.differencesFromBytes)
        return;
    const uint8_t* bytes = scratch.bytes.data();
    uint16_t* pixels = scratch.cell.data();
    for (size_t i = 0; i < cellPixels_; ++i)
        pixels[i] = bytes[i];
}

void FastMatcher::loadCell(const ImageRecord& working, int32_t x, int32_t y, bool correlation, const uint8_t* levels,
                           Scratch& scratch) const
{
    const size_t h = static_cast<size_t>(cellHeight_);
    const size_t m = static_cast<size_t>(maxGlyphWidth_);
    if (levels == nullptr)
        levels = kSameLevels.data();
    // The bytes past the cell, up to a whole octet, stay 0.
    uint8_t* bytes = scratch.bytes.data();
    if (correlation)
        flattenCell<true>(working, x, y, h, m, levels, bytes, scratch.columns.data());
    else
        flattenCell<false>(working, x, y, h, m, levels, bytes, scratch.columns.data());
    widenCell(correlation, scratch);
    const int64_t* columns = scratch.columns.data();
    double* upTo = scratch.upTo.data();
    for (size_t j = 0; j < m; ++j)
        upTo[j + 1] = upTo[j] + static_cast<double>(columns[j]);
}

namespace {

// Adds the band's h rows (`width` apart) column by column into `columns`:
// squares (each at most 255² = 65025, so a 16-bit product) or values.
template <bool kSquares>
void sumBandColumns(const uint8_t* band, size_t width, size_t h, uint32_t* columns)
{
    size_t x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; x + 16 <= width; x += 16) {
        __m128i acc[4] = {zero, zero, zero, zero};
        const uint8_t* from = band + x;
        for (size_t r = 0; r < h; ++r, from += width) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
            __m128i low = _mm_unpacklo_epi8(v, zero);
            __m128i high = _mm_unpackhi_epi8(v, zero);
            if constexpr (kSquares) {
                low = _mm_mullo_epi16(low, low);
                high = _mm_mullo_epi16(high, high);
            }
            acc[0] = _mm_add_epi32(acc[0], _mm_unpacklo_epi16(low, zero));
            acc[1] = _mm_add_epi32(acc[1], _mm_unpackhi_epi16(low, zero));
            acc[2] = _mm_add_epi32(acc[2], _mm_unpacklo_epi16(high, zero));
            acc[3] = _mm_add_epi32(acc[3], _mm_unpackhi_epi16(high, zero));
        }
        for (int i = 0; i < 4; ++i)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(columns + x + 4 * i), acc[i]);
    }
#endif
    for (; x < width; ++x) {
        uint32_t sum = 0;
        const uint8_t* from = band + x;
        for (size_t r = 0; r < h; ++r, from += width)
            sum += kSquares ? uint32_t{*from} * *from : *from;
        columns[x] = sum;
    }
}

}  // namespace

void FastMatcher::loadBand(MatchMode mode, const ImageRecord& working, int32_t y, const uint8_t* levels,
                           Scratch& scratch) const
{
    const size_t h = static_cast<size_t>(cellHeight_);
    const size_t width = scratch.bandWidth;
    uint8_t* band = scratch.band.data();
    for (size_t r = 0; r < h; ++r) {
        const uint8_t* row = working.rows[static_cast<size_t>(y) + r];
        uint8_t* to = band + r * width;
        if (levels != nullptr) {
            kernels_.mapLevels(row, to, width, levels);
        } else {
            std::memcpy(to, row, width);
        }
    }
    // A column of a band adds at most 65536 x 255² (cells are not taller), so
    // 32 bits hold it.
    uint32_t* columns = scratch.bandColumns.data();
    if (mode == MatchMode::Correlation)
        sumBandColumns<true>(band, width, h, columns);
    else
        sumBandColumns<false>(band, width, h, columns);
    int64_t* before = scratch.before.data();
    before[0] = 0;
    for (size_t x = 0; x < width; ++x)
        before[x + 1] = before[x] + columns[x];
}

int32_t FastMatcher::chooseInBand(MatchMode mode, int32_t x, Scratch& scratch) const
{
    const size_t h = static_cast<size_t>(cellHeight_);
    const size_t m = static_cast<size_t>(maxGlyphWidth_);
    const size_t width = scratch.bandWidth;
    const uint8_t* from = scratch.band.data() + x;
    uint8_t* bytes = scratch.bytes.data();
    // Whole 8-byte words: a row's copy may run past its m bytes, which the
    // next row's copy then covers; the band and the cell both have 8 bytes
    // of slack, and the cell's bytes past h x m are cleared again after.
    for (size_t r = 0; r < h; ++r, from += width) {
        for (size_t j = 0; j < m; j += 8) {
            uint64_t word;
            std::memcpy(&word, from + j, sizeof word);
            std::memcpy(bytes + r * m + j, &word, sizeof word);
        }
    }
    std::memset(bytes + cellPixels_, 0, scratch.bytes.size() - cellPixels_);
    const bool correlation = mode == MatchMode::Correlation;
    widenCell(correlation, scratch);
    // The cell's column sums over the first w columns, for every w, from the
    // band's running sums (exact integers).
    const int64_t* before = scratch.before.data() + x;
    double* upTo = scratch.upTo.data();
    for (size_t j = 0; j <= m; ++j)
        upTo[j] = static_cast<double>(before[j] - before[0]);
    return correlation ? chooseCorrelation(scratch) : chooseDifference(scratch);
}

KernelGlyphs FastMatcher::kernelGlyphs() const
{
    KernelGlyphs view;
    view.words = words_.data();
    view.pairs = pairCount_;
    view.octets = octets_.data();
    view.octetCount = octetCount_;
    view.pixelSums = pixelSums_.data();
    view.stride = stride_;
    return view;
}

int32_t FastMatcher::chooseCorrelation(Scratch& scratch) const
{
    const KernelCell cell{scratch.cell.data(), scratch.bytes.data()};
    kernels_.products(cell, kernelGlyphs(), scratch.sums.data());
    // B = Σp² over the glyph's own width.
    const double* squaresUpTo = scratch.upTo.data();
    double* b = scratch.terms.data();
    for (size_t g = 0; g < widths_.size(); ++g)
        b[g] = squaresUpTo[widths_[g]];
    // (C × C) / (A × B) per glyph: the same doubles the plain loop ends with.
    kernels_.correlationScores(scratch.sums.data(), glyphSquares_.data(), b, stride_, scratch.scores.data());
    // Strict, and false for 0 / 0, as in correlationScore.
    const int32_t bestIndex = kernels_.highest(scratch.scores.data(), glyphCount_, -1.0);
    return bestIndex < 0 ? 0 : bestIndex;
}

int32_t FastMatcher::chooseDifference(Scratch& scratch) const
{
    const KernelCell cell{scratch.cell.data(), scratch.bytes.data()};
    kernels_.differences(cell, kernelGlyphs(), scratch.sums.data());
    // The kernels compare the whole h x m cell; past a glyph's width its
    // cell holds 0, so those columns added the picture's own values, which
    // come off again: D = sum - (Σp over the cell - Σp over the width).
    const double* valuesUpTo = scratch.upTo.data();
    const double cellTotal = valuesUpTo[maxGlyphWidth_];
    double* outside = scratch.terms.data();
    for (size_t g = 0; g < widths_.size(); ++g)
        outside[g] = cellTotal - valuesUpTo[widths_[g]];
    kernels_.differenceScores(scratch.sums.data(), cellAreas_.data(), outside, stride_, scratch.scores.data());
    const int32_t bestIndex = kernels_.lowest(scratch.scores.data(), glyphCount_, 100000000.0);
    return bestIndex < 0 ? 0 : bestIndex;
}

int32_t FastMatcher::choose(MatchMode mode, const ImageRecord& working, int32_t x, int32_t y, Scratch& scratch,
                            const uint8_t* levels) const
{
    const bool correlation = mode == MatchMode::Correlation;
    loadCell(working, x, y, correlation, levels, scratch);
    return correlation ? chooseCorrelation(scratch) : chooseDifference(scratch);
}

}  // namespace morvel
