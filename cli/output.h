// Output files of morvel-text: a file that appears whole or not at all, the
// text with the chosen line ends, and the gray picture as a PGM.
#pragma once

#include <cstdio>
#include <string>

#include "image/image_record.h"

namespace morvel::cli {

// Writes go to a temporary file beside `path`; commit() flushes it to disk
// and renames it over `path`. Until then `path` is untouched, and a failed or
// abandoned file removes its temporary file. `error()` tells what went wrong
// (empty while all is well).
class AtomicFile {
public:
    explicit AtomicFile(std::string path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool isOpen() const { return stream_ != nullptr; }
    std::FILE* stream() const { return stream_; }
    bool commit();
    void discard();
    const std::string& error() const { return error_; }

private:
    void fail(const char* what, int err);

    std::string path_;
    std::string tempPath_;
    std::FILE* stream_ = nullptr;
    std::string error_;
};

// Writes `text`, whose lines end in CR LF, to `out`: as it is when `crlf`
// (the window's very text), otherwise with every CR LF turned into LF and
// the spaces at the end of each line dropped, so the text pastes cleanly. The caller gives the text up:
// the line ends are turned in place and the whole text goes out in one
// write. Returns false on a write error.
bool writeText(std::FILE* out, std::string text, bool crlf);

// Writes the 8-bit gray picture as a binary PGM ("P5", maxval 255), whole or
// not at all. On failure `error` says why.
bool writePgm(const std::string& path, const ImageRecord& picture, std::string& error);

}  // namespace morvel::cli
