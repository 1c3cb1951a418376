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
    std::vector<TextCell> cells;
    size_t at = 0;
    for (int32_t line = 0; line < lineCount && at < text.size(); ++line) {
        const size_t end = std::min(text.find("\r\n", at), text.size());
        int32_t x = 0;
        for (; at < end; ++at) {
            const int32_t advance = advances[static_cast<unsigned char>(text[at])];
            cells.push_back({x, line * glyphs.cellHeight, advance, glyphs.cellHeight});
            x += advance;
        }
        at = end + 2;
    }
    return cells;
}

}  // namespace morvel
