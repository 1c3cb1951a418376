#include "cli/columns.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "image/image_record.h"

namespace morvel::cli {

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

}  // namespace morvel::cli
