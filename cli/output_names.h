// Checks on the names of the files morvel-text is to write, made before
// anything is read or written: no output may overwrite an input picture, and
// no file may be named twice as an output.
#pragma once

#include <optional>
#include <string>

#include "cli/options.h"

namespace morvel::cli {

// The message for the first output of `o` (the text file of -o, then each
// --save-gray name) that names an input picture or an earlier output, after
// following symbolic links; none when all are distinct.
std::optional<std::string> outputConflict(const Options& o);

}  // namespace morvel::cli
