// The one way Morvel writes a file. Whatever the path names is written the
// way a plain shell redirection would write it, but a regular file is
// replaced whole or not at all, and nothing that is not a regular file is
// ever replaced by one:
//   - "-" is standard output;
//   - /dev/stdout, /dev/stderr, /dev/fd/N and /proc/self/fd/N write to the
//     caller's own descriptor (its offset and append mode kept), even when a
//     regular file stands behind it;
//   - a device or named pipe is opened and written in place;
//   - a symbolic link is followed: what it points to is written, the link
//     stays a link;
//   - a regular file (or a new one) is written to a temporary file in the
//     same directory, flushed and renamed over it, keeping its permission
//     bits and, where allowed, its owner; a file with other hard links, one
//     whose directory cannot take a temporary file, is written in place;
//   - a directory is an error.
// SIGINT, SIGTERM or SIGHUP arriving while temporary files exist removes
// them, then ends the process by the signal's default action.
#pragma once

#include <string>
#include <string_view>

namespace morvel {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens `path` for writing by the rules above. False, with a short reason
    // in `error`, when it cannot be written.
    bool open(const std::string& path, std::string& error);
    bool isOpen() const { return fd_ >= 0; }

    // Appends `bytes`. False, with the reason in `error`, on a write error.
    bool write(std::string_view bytes, std::string& error);

    // Finishes the file: a replaced file is flushed to disk and renamed into
    // place; a file written in place is closed. False, with the reason in
    // `error`, when the file could not be finished; the old file then stays.
    bool commit(std::string& error);

    // Gives up: a temporary file (or a new file made in place) is removed
    // and an old file stays as it was. An old file written in place keeps
    // what was written to it.
    void discard();

private:
    int fd_ = -1;
    bool truncateOnWrite_ = false;  // a regular file written in place, not yet emptied
    std::string tempPath_;          // the temporary file, when replacing
    std::string finalPath_;         // what the temporary file is renamed to
    std::string createdPath_;       // a new file made in place, removed if given up
    int cleanupSlot_ = -1;          // where the signal handler finds tempPath_
};

// Writes the whole of `bytes` to `path` by the rules above. False, with a
// short reason in `error`, when the file could not be written; a replaced
// file then keeps its old content.
bool writeFileSafely(const std::string& path, std::string_view bytes, std::string& error);

}  // namespace morvel
