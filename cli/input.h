// Reading the pictures named on the command line, including those that are
// not regular files: standard input, named pipes, /dev/stdin, /dev/fd/N and
// process substitutions, read to their end as a command-line program may.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/load_picture.h"

namespace morvel::cli {

// Everything readable from the descriptor `fd` up to its end. None, with
// the reason in `why`, when reading fails, when more than `maxBytes` bytes
// arrive (reading stops there), or when the first bytes show no GIF, JPEG or
// PNG signature (reading stops there too).
std::optional<std::vector<uint8_t>> readAllBytes(int fd, int64_t maxBytes, std::string& why);

// The picture named `path` ("-": standard input), loaded with `options`.
LoadResult readNamedPicture(const std::string& path, const LoadOptions& options);

}  // namespace morvel::cli
