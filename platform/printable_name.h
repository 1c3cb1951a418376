// File names as Morvel shows them in messages, titles and footers: one
// line, whatever bytes the name holds.
#pragma once

#include <string>

namespace morvel {

// `name` with each control character (below 32, and 127) written as an
// escape: \n, \r, \t, or \xHH for the others. Other bytes stay as they are.
std::string printableName(const std::string& name);

}  // namespace morvel
