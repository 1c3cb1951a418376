// Reading a whole picture from standard input.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace morvel::cli {

// Everything readable from the descriptor `fd` up to its end, or none when
// reading fails or more than `maxBytes` bytes arrive.
std::optional<std::vector<uint8_t>> readAllBytes(int fd, int64_t maxBytes);

}  // namespace morvel::cli
