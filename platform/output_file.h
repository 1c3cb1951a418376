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
//     bits and, where allowed, its owner; a file with other hard links, or
//     one in a directory the process may not write, is written in place,
//     its new text held until the end, its space reserved, and only then
//     written over the old (a full disk leaves the old text whole); any
//     other failure to make the temporary file (no space, no inodes) is an
//     error that leaves the old file as it was;
//   - a directory is an error.
// SIGINT, SIGTERM or SIGHUP arriving while temporary files exist removes
// them, then ends the process by the signal's default action.
#pragma once

#include <sys/stat.h>

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
    // place; a regular file written in place gets the held text; a file
    // written in place is closed. False, with the reason in
    // `error`, when the file could not be finished; the old file then stays.
    bool commit(std::string& error);

    // Gives up: a temporary file (or a new file made in place) is removed
    // and an old file stays as it was. A device or pipe keeps what was
    // written to it.
    void discard();

private:
    // Makes the temporary file that will replace `target` (with the owner
    // and mode of `old`, the file it replaces, when there is one): 1 when
    // made, 0 when the directory may not be written (errno says why), -1
    // for any other failure.
    int makeTemporaryFile(const std::string& target, const struct stat* old);
    static bool writeAll(int fd, std::string_view bytes, std::string& error);
    // Writes the held text over the file written in place (see commit).
    bool replaceInPlace(std::string& error);

    int fd_ = -1;
    bool heldInPlace_ = false;  // a regular file written in place: the text is held until commit
    std::string held_;          // that text
    std::string tempPath_;      // the temporary file, when replacing
    std::string finalPath_;     // what the temporary file is renamed to
    std::string createdPath_;   // a new file made in place, removed if given up
    int cleanupSlot_ = -1;      // where the signal handler finds tempPath_
};

// Writes the whole of `bytes` to `path` by the rules above. False, with a
// short reason in `error`, when the file could not be written; a replaced
// file then keeps its old content.
bool writeFileSafely(const std::string& path, std::string_view bytes, std::string& error);

}  // namespace morvel
