#include "cli/text_size.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "cli/options.h"
#include "image/image_record.h"

namespace morvel::cli {

SizeRule sizeRuleFor(const Options& o, std::optional<TerminalSize> terminal, int32_t footerLines, double cellRatio)
{
    const TerminalSize screen = terminal.value_or(TerminalSize{});
    // The terminal's height for the text: its rows less the footer and the
    // prompt's line, at least one line.
    const int32_t screenRows = screen.rows > 0 ? std::max(1, screen.rows - footerLines - 1) : 0;
    SizeRule rule;
    rule.stretch = o.stretch;
    rule.enlarge = !o.noEnlarge;
    rule.cellRatio = cellRatio;
    const bool noSize = o.columns == 0 && !o.columnsAuto && o.rows == 0 && !o.rowsAuto;
    if (o.columnsNatural) {
        rule.cellRatio = 0;
        return rule;
    }
    // The terminal's width, or where it tells none (or there is no
    // terminal) the default width.
    const int32_t autoColumns = screen.columns > 0 ? screen.columns : kDefaultColumns;
    if (noSize || (o.columnsAuto && o.rowsAuto)) {
        // The whole screen.
        rule.columns = autoColumns;
        rule.rows = screenRows;
        rule.narrowToLimit = true;
    } else {
        rule.columns = o.columnsAuto ? autoColumns : o.columns;
        rule.narrowToLimit = o.columnsAuto;
        rule.rows = o.rowsAuto ? screenRows : o.rows;
    }
    if (rule.columns == 0 && rule.rows == 0) {
        // No bound: the natural size, which is the font's own cell.
        rule.cellRatio = 0;
    }
    return rule;
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

}  // namespace morvel::cli
