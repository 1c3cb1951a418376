#include "cli/text_size.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "cli/options.h"
#include "image/image_record.h"

namespace morvel::cli {

SizeRule sizeRuleFor(const Options& o, std::optional<TerminalSize> terminal, int32_t footerLines)
{
    const TerminalSize screen = terminal.value_or(TerminalSize{});
    // The terminal's height for the text: its rows less the footer and the
    // prompt's line, at least one line.
    const int32_t screenRows = screen.rows > 0 ? std::max(1, screen.rows - footerLines - 1) : 0;
    SizeRule rule;
    rule.stretch = o.stretch;
    const bool noSize = o.columns == 0 && !o.columnsAuto && o.rows == 0 && !o.rowsAuto;
    if (noSize || (o.columnsAuto && o.rowsAuto)) {
        // The whole screen (nothing without a terminal: the natural size).
        rule.columns = screen.columns;
        rule.rows = screenRows;
        rule.enlarge = false;
        rule.narrowToLimit = true;
        return rule;
    }
    rule.columns = o.columnsAuto ? screen.columns : o.columns;
    rule.narrowToLimit = o.columnsAuto;
    rule.rows = o.rowsAuto ? screenRows : o.rows;
    return rule;
}

}  // namespace morvel::cli
