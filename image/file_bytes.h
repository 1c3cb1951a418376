// Reading picture files safely: only regular files, never more than a limit.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace morvel {

// Largest picture file read whole into memory.
inline constexpr int64_t kMaxFileBytes = int64_t{1} << 30;

// True when `path` names a regular file (not a directory, device or pipe).
bool isRegularFile(const std::string& path);

// The whole content of a regular file of at most `maxBytes` bytes; none for
// anything else (missing, unreadable, not regular, too large).
std::optional<std::vector<uint8_t>> readFileBytes(const std::string& path, int64_t maxBytes = kMaxFileBytes);

// The first `count` bytes of a regular file (fewer when it is shorter); none
// for anything that is not a readable regular file. Lets a reader look at a
// signature before reading a large file whole.
std::optional<std::vector<uint8_t>> readFileHead(const std::string& path, size_t count);

// A stdio stream open for binary reading on the regular file at `path`, for
// a library that reads files itself; none for anything that is not a
// readable regular file. The caller closes it with fclose.
std::FILE* openRegularFileStream(const std::string& path);

}  // namespace morvel
