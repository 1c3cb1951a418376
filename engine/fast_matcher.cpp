#include "engine/fast_matcher.h"

#include <cstring>
#include <new>

namespace morvel {

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
    stride_ = (count + kMatchGlyphBlock - 1) / kMatchGlyphBlock * kMatchGlyphBlock;

    try {
        entries_.assign(glyphs.glyphs, glyphs.glyphs + count);
        widths_.resize(count);
        for (size_t g = 0; g < count; ++g)
            widths_[g] = entries_[g].width;
        words_.assign(pairCount_ * stride_, 0u);
        // Past the table the denominators are 1, so the scores there are
        // plain numbers; they are never looked at.
        glyphSquares_.assign(stride_, 1.0);
        cellAreas_.assign(stride_, 1.0);
    } catch (const std::bad_alloc&) {
        entries_.clear();
        words_.clear();
        return;
    }

    const ImageRecord& atlas = *glyphs.atlas;
    for (size_t g = 0; g < count; ++g) {
        const GlyphEntry& entry = entries_[g];
        const size_t w = static_cast<size_t>(entry.width);
        int64_t squares = 0;
        for (size_t r = 0; r < h; ++r) {
            const uint8_t* row = atlas.rows[static_cast<size_t>(entry.top) + r] + glyphs.margin;
            for (size_t j = 0; j < w; ++j) {
                const uint32_t a = row[j];
                squares += a * a;
                // Pixel i of the flattened cell is half i % 2 of word i / 2.
                const size_t i = r * m + j;
                words_[(i / 2) * stride_ + g] |= a << (16 * (i % 2));
            }
        }
        glyphSquares_[g] = static_cast<double>(squares);
        cellAreas_[g] = static_cast<double>(int64_t{cellHeight_} * entry.width);
    }
    usable_ = true;
}

FastMatcher::Scratch::Scratch(const FastMatcher& matcher)
    : cell(matcher.pairCount_ * 2, 0),
      columns(static_cast<size_t>(matcher.maxGlyphWidth_), 0),
      upTo(static_cast<size_t>(matcher.maxGlyphWidth_) + 1, 0.0),
      sums(matcher.stride_, 0.0),
      terms(matcher.stride_, 0.0),
      scores(matcher.stride_, 0.0)
{
}

namespace {

// Copies the h x m picture block at (x, y) into `flat` row after row and adds
// each column's values (or squares) into `columns`.
template <bool kSquares>
void flattenCell(const ImageRecord& working, int32_t x, int32_t y, size_t h, size_t m, uint16_t* flat,
                 int64_t* columns)
{
    for (size_t j = 0; j < m; ++j)
        columns[j] = 0;
    for (size_t r = 0; r < h; ++r, flat += m) {
        const uint8_t* row = working.rows[static_cast<size_t>(y) + r] + x;
        for (size_t j = 0; j < m; ++j) {
            const uint32_t v = row[j];
            flat[j] = static_cast<uint16_t>(v);
            columns[j] += kSquares ? v * v : v;
        }
    }
}

}  // namespace

void FastMatcher::loadCell(const ImageRecord& working, int32_t x, int32_t y, bool squares, Scratch& scratch) const
{
    const size_t h = static_cast<size_t>(cellHeight_);
    const size_t m = static_cast<size_t>(maxGlyphWidth_);
    // The odd pixel past the cell, when there is one, stays 0.
    if (squares)
        flattenCell<true>(working, x, y, h, m, scratch.cell.data(), scratch.columns.data());
    else
        flattenCell<false>(working, x, y, h, m, scratch.cell.data(), scratch.columns.data());
    const int64_t* columns = scratch.columns.data();
    double* upTo = scratch.upTo.data();
    for (size_t j = 0; j < m; ++j)
        upTo[j + 1] = upTo[j] + static_cast<double>(columns[j]);
}

int32_t FastMatcher::chooseCorrelation(Scratch& scratch) const
{
    kernels_.products(scratch.cell.data(), words_.data(), pairCount_, stride_, scratch.sums.data());
    // B = Σp² over the glyph's own width.
    const double* squaresUpTo = scratch.upTo.data();
    double* b = scratch.terms.data();
    for (size_t g = 0; g < widths_.size(); ++g)
        b[g] = squaresUpTo[widths_[g]];
    // (C × C) / (A × B) per glyph: the same doubles the plain loop ends with.
    kernels_.correlationScores(scratch.sums.data(), glyphSquares_.data(), b, stride_, scratch.scores.data());
    const double* scores = scratch.scores.data();
    double best = -1.0;
    int32_t bestIndex = -1;
    for (int32_t g = 0; g < glyphCount_; ++g) {
        // Strict, and false for 0 / 0, as in correlationScore.
        if (scores[g] > best) {
            best = scores[g];
            bestIndex = g;
        }
    }
    return bestIndex < 0 ? 0 : bestIndex;
}

int32_t FastMatcher::chooseDifference(Scratch& scratch) const
{
    kernels_.differences(scratch.cell.data(), words_.data(), pairCount_, stride_, scratch.sums.data());
    // The kernels compare the whole h x m cell; past a glyph's width its
    // cell holds 0, so those columns added the picture's own values, which
    // come off again: D = sum - (Σp over the cell - Σp over the width).
    const double* valuesUpTo = scratch.upTo.data();
    const double cellTotal = valuesUpTo[maxGlyphWidth_];
    double* outside = scratch.terms.data();
    for (size_t g = 0; g < widths_.size(); ++g)
        outside[g] = cellTotal - valuesUpTo[widths_[g]];
    kernels_.differenceScores(scratch.sums.data(), cellAreas_.data(), outside, stride_, scratch.scores.data());
    const double* scores = scratch.scores.data();
    double best = 100000000.0;
    int32_t bestIndex = -1;
    for (int32_t g = 0; g < glyphCount_; ++g) {
        if (scores[g] < best) {
            best = scores[g];
            bestIndex = g;
        }
    }
    return bestIndex < 0 ? 0 : bestIndex;
}

int32_t FastMatcher::choose(MatchMode mode, const ImageRecord& working, int32_t x, int32_t y, Scratch& scratch) const
{
    const bool correlation = mode == MatchMode::Correlation;
    loadCell(working, x, y, correlation, scratch);
    return correlation ? chooseCorrelation(scratch) : chooseDifference(scratch);
}

}  // namespace morvel
