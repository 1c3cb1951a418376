#include "cli/terminal_colours.h"

// terminfo's header defines a macro for every capability name (columns,
// lines, ...), so it is kept to this file.
#include <term.h>

namespace morvel::cli {

int terminfoColourCount(const char* term)
{
    if (term == nullptr || *term == '\0')
        return -1;
    // With an error slot, setupterm reports a missing entry there instead of
    // printing it; the descriptor (standard output, the terminal) is only
    // asked for the screen size, never read or written.
    int error = 0;
    if (setupterm(term, 1, &error) != 0)
        return -1;
    const int colours = tigetnum("colors");
    del_curterm(cur_term);
    return colours > 0 ? colours : -1;
}

}  // namespace morvel::cli
