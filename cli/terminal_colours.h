// How many colours a terminal type shows, from the system's terminfo
// database.
#pragma once

namespace morvel::cli {

// The terminfo "colors" capability of the terminal type `term`: 8, 16, 256,
// ...; -1 when `term` is null or empty, not in the database, or has no
// colours (dumb, vt100).
int terminfoColourCount(const char* term);

}  // namespace morvel::cli
