#include "cli/output.h"

#include <cstdio>

#include <string_view>

namespace morvel::cli {

bool writeText(OutputFile& out, std::string text, bool crlf, std::string& error)
{
    if (!crlf) {
        // Moves every byte but the CR of each CR LF, and the spaces that end
        // a line, down over the dropped ones.
        size_t kept = 0;
        size_t lineStart = 0;
        const size_t size = text.size();
        for (size_t i = 0; i < size; ++i) {
            if (text[i] == '\r' && i + 1 < size && text[i + 1] == '\n') {
                continue;
            }
            if (text[i] == '\n') {
                while (kept > lineStart && text[kept - 1] == ' ') {
                    --kept;
                }
                lineStart = kept + 1;
            }
            text[kept++] = text[i];
        }
        text.resize(kept);
    }
    return out.write(text, error);
}

bool writePgm(const std::string& path, const ImageRecord& picture, std::string& error)
{
    OutputFile file;
    if (!file.open(path, error)) {
        return false;
    }
    const int32_t width = picture.header.biWidth;
    const int32_t height = picture.rowCount;
    // Rows carry fill bytes up to their pitch; only the pixels are written,
    // gathered into writes of about a megabyte.
    constexpr size_t kChunk = size_t{1} << 20;
    std::string chunk = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    for (int32_t y = 0; y < height; ++y) {
        chunk.append(reinterpret_cast<const char*>(picture.rows[y]), static_cast<size_t>(width));
        if (chunk.size() >= kChunk) {
            if (!file.write(chunk, error)) {
                return false;
            }
            chunk.clear();
        }
    }
    return file.write(chunk, error) && file.commit(error);
}

void complain(const std::string& message)
{
    std::fprintf(stderr, "morvel-text: %s\n", message.c_str());
}

}  // namespace morvel::cli
