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

// The reason given for a picture refused for its size (its file, or its
// pixel block, passes the limit).
inline constexpr const char* kTooLargeReason = "picture larger than the 1 GiB limit";

// True when `path` names a regular file (not a directory, device or pipe).
bool isRegularFile(const std::string& path);

// The whole content of a regular file of at most `maxBytes` bytes; none for
// anything else (missing, unreadable, not regular, too large), with the
// reason in `why` when given (the system's words, "not a regular file" or
// kTooLargeReason).
std::optional<std::vector<uint8_t>> readFileBytes(const std::string& path, int64_t maxBytes = kMaxFileBytes,
                                                  std::string* why = nullptr);

// The first `count` bytes of a regular file (fewer when it is shorter); none
// for anything that is not a readable regular file, with the reason in `why`
// when given. Lets a reader look at a signature before reading a large file
// whole.
std::optional<std::vector<uint8_t>> readFileHead(const std::string& path, size_t count, std::string* why = nullptr);

// A stdio stream open for binary reading on the regular file at `path`, for
// a library that reads files itself; none for anything that is not a
// readable regular file, with the reason in `why` when given. The caller
// closes it with fclose.
std::FILE* openRegularFileStream(const std::string& path, std::string* why = nullptr);

// The size in bytes of the regular file at `path`; none when it is not one.
std::optional<int64_t> regularFileSize(const std::string& path);

}  // namespace morvel
