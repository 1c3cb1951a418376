// The one way Morvel writes a file. A regular file (or a path where nothing
// is yet) appears whole or not at all: the bytes go to a temporary file
// beside it, which is flushed to disk and renamed over it. A symbolic link is
// followed and the file it names is replaced that way, so the link stays. A
// path that is something else (a device, a named pipe) is written in place,
// never replaced; a named pipe without a reader is an error, not a wait.
#pragma once

#include <string>
#include <string_view>

namespace morvel {

// Writes `bytes` to `path`. False on failure, with `error` saying why; the
// file at `path` is then as it was (except for a device or pipe written in
// place, which may have taken part of the bytes).
bool writeFileSafely(const std::string& path, std::string_view bytes, std::string& error);

}  // namespace morvel
