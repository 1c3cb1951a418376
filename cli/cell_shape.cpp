#include "cli/cell_shape.h"

#include <cstdio>

#include "cli/options.h"

namespace morvel::cli {

double cellRatioOf(const TerminalSize& size)
{
    if (size.columns < 1 || size.rows < 1 || size.pixelWidth < size.columns || size.pixelHeight < size.rows) {
        return 0;
    }
    const double ratio =
        (static_cast<double>(size.pixelWidth) / size.columns) / (static_cast<double>(size.pixelHeight) / size.rows);
    return ratio >= kMinFontRatio && ratio <= kMaxFontRatio ? ratio : 0;
}

bool cellFromTerminal(const Options& o)
{
    return !o.columnsNatural && !o.fontRatioFont && !(o.fontRatio > 0) && !o.html && !o.picture;
}

CellChoice chooseCell(const Options& o, const std::optional<TerminalSize>& terminal, double answeredRatio)
{
    if (o.columnsNatural) {
        return {0, "--columns natural"};
    }
    if (o.fontRatioFont) {
        return {0, "--font-ratio font"};
    }
    if (o.fontRatio > 0) {
        return {o.fontRatio, "--font-ratio"};
    }
    if (o.html || o.picture) {
        return {0, "the page's font"};
    }
    if (!terminal) {
        return {kDefaultCellRatio, "not a terminal"};
    }
    if (const double ratio = cellRatioOf(*terminal); ratio > 0) {
        return {ratio, "the terminal's size in pixels"};
    }
    if (answeredRatio > 0) {
        return {answeredRatio, "the terminal's answer"};
    }
    return {kDefaultCellRatio, "the terminal gives no cell size"};
}

std::string describeCell(const CellChoice& cell)
{
    if (!(cell.ratio > 0)) {
        return "cell the font's own (" + cell.source + ")";
    }
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.3g", cell.ratio);
    return std::string("cell width/height ") + ratio + " (" + cell.source + ")";
}

}  // namespace morvel::cli
