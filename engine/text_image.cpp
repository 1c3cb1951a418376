#include "engine/text_image.h"

#include <algorithm>
#include <array>

namespace morvel {

std::vector<TextCell> textCells(const std::string& text, int32_t lineCount, const AtlasView& glyphs)
{
    std::array<int32_t, 256> advances;
    advances.fill(1);
    for (int32_t g = 0; g < glyphs.glyphCount; ++g) {
        const GlyphEntry& entry = glyphs.glyphs[g];
        if (entry.code >= 0 && entry.code < 256)
            advances[static_cast<size_t>(entry.code)] = std::max(entry.width, 1);
    }
    // One cell per character of the picture lines, reserved at once: a long
    // text has millions.
    size_t count = 0;
    for (size_t from = 0, line = 0; line < static_cast<size_t>(std::max(lineCount, 0)) && from < text.size(); ++line) {
        const size_t lineEnd = std::min(text.find("\r\n", from), text.size());
        count += lineEnd - from;
        from = lineEnd + 2;
    }
    std::vector<TextCell> cells;
    cells.reserve(count);
    size_t at = 0;
    for (int32_t line = 0; line < lineCount && at < text.size(); ++line) {
        const size_t end = std::min(text.find("\r\n", at), text.size());
        int32_t x = 0;
        for (; at < end; ++at) {
            const auto code = static_cast<uint8_t>(text[at]);
            const int32_t advance = advances[code];
            cells.push_back({x, line * glyphs.cellHeight, static_cast<uint16_t>(advance), code});
            x += advance;
        }
        at = end + 2;
    }
    return cells;
}

}  // namespace morvel
