#include "engine/text_fit.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "image/image_record.h"

namespace morvel {

double heightFactor(double cellRatio, int32_t maxGlyphWidth, int32_t cellHeight)
{
    if (!(cellRatio > 0) || maxGlyphWidth < 1 || cellHeight < 1) {
        return 1.0;
    }
    return cellRatio * cellHeight / maxGlyphWidth;
}

std::optional<ColumnFit> withCanvas(int64_t scaledWidth, int64_t scaledHeight, int32_t maxGlyphWidth,
                                    int32_t cellHeight)
{
    const int64_t canvasWidth = scaledWidth + maxGlyphWidth;
    const int64_t canvasHeight = scaledHeight + cellHeight;
    if (canvasWidth > INT32_MAX || canvasHeight > INT32_MAX ||
        imageRowPitch(canvasWidth, 8) * canvasHeight > kMaxPixelBytes) {
        return std::nullopt;
    }
    return ColumnFit{{static_cast<int32_t>(scaledWidth), static_cast<int32_t>(scaledHeight)},
                     {static_cast<int32_t>(canvasWidth), static_cast<int32_t>(canvasHeight)}};
}

std::optional<ColumnFit> fitToColumns(int32_t width, int32_t height, int32_t columns, int32_t maxGlyphWidth,
                                      int32_t cellHeight, double cellRatio)
{
    if (width < 1 || height < 1 || columns < 1 || maxGlyphWidth < 1 || cellHeight < 1) {
        return std::nullopt;
    }
    const int64_t scaledWidth = static_cast<int64_t>(columns) * maxGlyphWidth;
    const double exactHeight = static_cast<double>(height) * static_cast<double>(scaledWidth) / width *
                               heightFactor(cellRatio, maxGlyphWidth, cellHeight);
    if (!(exactHeight < static_cast<double>(INT32_MAX / 2))) {
        return std::nullopt;
    }
    return withCanvas(scaledWidth, std::max<int64_t>(1, std::llround(exactHeight)), maxGlyphWidth, cellHeight);
}

std::optional<ColumnFit> fitToColumnsAtMost(int32_t width, int32_t height, int32_t columns, int32_t maxGlyphWidth,
                                            int32_t cellHeight, double cellRatio)
{
    if (const auto fit = fitToColumns(width, height, columns, maxGlyphWidth, cellHeight, cellRatio)) {
        return fit;
    }
    // The canvas only grows with the columns: the largest count that fits
    // lies between one that fits and `columns`, which does not.
    if (!fitToColumns(width, height, 1, maxGlyphWidth, cellHeight, cellRatio)) {
        return std::nullopt;
    }
    int32_t fits = 1;
    int32_t tooMany = columns;
    while (tooMany - fits > 1) {
        const int32_t middle = fits + (tooMany - fits) / 2;
        if (fitToColumns(width, height, middle, maxGlyphWidth, cellHeight, cellRatio)) {
            fits = middle;
        } else {
            tooMany = middle;
        }
    }
    return fitToColumns(width, height, fits, maxGlyphWidth, cellHeight, cellRatio);
}

namespace {

// Exactly `rows` lines: the picture rows x h pixels high, in proportion wide.
std::optional<ColumnFit> fitToRows(int32_t width, int32_t height, int32_t rows, int32_t maxGlyphWidth,
                                   int32_t cellHeight, double factor)
{
    const int64_t scaledHeight = static_cast<int64_t>(rows) * cellHeight;
    const double exactWidth = static_cast<double>(width) * static_cast<double>(scaledHeight) / height / factor;
    if (!(exactWidth < static_cast<double>(INT32_MAX / 2))) {
        return std::nullopt;
    }
    return withCanvas(std::max<int64_t>(1, std::llround(exactWidth)), scaledHeight, maxGlyphWidth, cellHeight);
}

// Exactly `columns` characters, or with `narrowToLimit` as many as the
// picture limit allows up to that.
std::optional<ColumnFit> fitToWidth(int32_t width, int32_t height, const SizeRule& rule, int32_t maxGlyphWidth,
                                    int32_t cellHeight)
{
    return rule.narrowToLimit
               ? fitToColumnsAtMost(width, height, rule.columns, maxGlyphWidth, cellHeight, rule.cellRatio)
               : fitToColumns(width, height, rule.columns, maxGlyphWidth, cellHeight, rule.cellRatio);
}

}  // namespace

std::optional<ColumnFit> fitText(int32_t width, int32_t height, const SizeRule& rule, int32_t maxGlyphWidth,
                                 int32_t cellHeight)
{
    if (width < 1 || height < 1 || maxGlyphWidth < 1 || cellHeight < 1 || rule.columns < 0 || rule.rows < 0) {
        return std::nullopt;
    }
    if (rule.columns == 0 && rule.rows == 0) {
        const PictureSize natural{width, height};
        return ColumnFit{natural, natural};
    }
    const double factor = heightFactor(rule.cellRatio, maxGlyphWidth, cellHeight);
    // The box in pixels of the font, columns x m by rows x h, and the
    // picture's height as the cell shows it.
    const int64_t boxWidth = static_cast<int64_t>(rule.columns) * maxGlyphWidth;
    const int64_t boxHeight = static_cast<int64_t>(rule.rows) * cellHeight;
    const double shownHeight = height * factor;
    const bool fits =
        (rule.columns == 0 || width <= boxWidth) && (rule.rows == 0 || shownHeight <= static_cast<double>(boxHeight));
    if (fits && !rule.enlarge) {
        if (factor == 1.0) {
            const PictureSize natural{width, height};
            return ColumnFit{natural, natural};
        }
        return withCanvas(width, std::max<int64_t>(1, std::llround(shownHeight)), maxGlyphWidth, cellHeight);
    }
    if (rule.rows == 0) {
        return fitToWidth(width, height, rule, maxGlyphWidth, cellHeight);
    }
    if (rule.columns == 0) {
        return fitToRows(width, height, rule.rows, maxGlyphWidth, cellHeight, factor);
    }
    if (rule.stretch) {
        return withCanvas(boxWidth, boxHeight, maxGlyphWidth, cellHeight);
    }
    // The width binds when the picture scaled to the box's width is no
    // taller than the box: boxWidth / width <= boxHeight / shownHeight.
    const bool widthBinds = factor == 1.0
                                ? boxWidth * height <= boxHeight * width
                                : static_cast<double>(boxWidth) * shownHeight <= static_cast<double>(boxHeight) * width;
    if (widthBinds) {
        return fitToWidth(width, height, rule, maxGlyphWidth, cellHeight);
    }
    return fitToRows(width, height, rule.rows, maxGlyphWidth, cellHeight, factor);
}

}  // namespace morvel
