// Output files of morvel-text: the text with the chosen line ends, and the
// gray picture as a PGM, both written through the one output writer.
#pragma once

#include <string>

#include "image/image_record.h"
#include "platform/output_file.h"

namespace morvel::cli {

// Writes `text`, whose lines end in CR LF, to `out`: as it is when `crlf`
// (the window's very text), otherwise with every CR LF turned into LF and
// the spaces at the end of each line dropped, so the text pastes cleanly.
// The caller gives the text up:
// the line ends are turned in place and the whole text goes out in one
// write. False, with the reason in `error`, on a write error.
bool writeText(OutputFile& out, std::string text, bool crlf, std::string& error);

// Writes "morvel-text: MESSAGE" on standard error.
void complain(const std::string& message);

// Writes the 8-bit gray picture as a binary PGM ("P5", maxval 255) to `path`
// ("-": standard output), whole or not at all. On failure `error` says why.
bool writePgm(const std::string& path, const ImageRecord& picture, std::string& error);

}  // namespace morvel::cli
