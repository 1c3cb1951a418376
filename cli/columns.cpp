#include "cli/columns.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "image/image_record.h"

namespace morvel::cli {

std::optional<ColumnFit> fitToColumns(int32_t width, int32_t height, int32_t columns, int32_t maxGlyphWidth,
                                      int32_t cellHeight)
{
    if (width < 1 || height < 1 || columns < 1 || maxGlyphWidth < 1 || cellHeight < 1) {
        return std::nullopt;
    }
    const int64_t scaledWidth = static_cast<int64_t>(columns) * maxGlyphWidth;
    const double exactHeight = static_cast<double>(height) * static_cast<double>(scaledWidth) / width;
    if (!(exactHeight < static_cast<double>(INT32_MAX / 2))) {
        return std::nullopt;
    }
    const int64_t scaledHeight = std::max<int64_t>(1, std::llround(exactHeight));
    const int64_t canvasWidth = scaledWidth + maxGlyphWidth;
    const int64_t canvasHeight = scaledHeight + cellHeight;
    if (canvasWidth > INT32_MAX || canvasHeight > INT32_MAX ||
        imageRowPitch(canvasWidth, 8) * canvasHeight > kMaxPixelBytes) {
        return std::nullopt;
    }
    return ColumnFit{{static_cast<int32_t>(scaledWidth), static_cast<int32_t>(scaledHeight)},
                     {static_cast<int32_t>(canvasWidth), static_cast<int32_t>(canvasHeight)}};
}

}  // namespace morvel::cli
