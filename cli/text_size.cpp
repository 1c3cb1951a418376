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

}  // namespace morvel::cli
