#include "engine/glyph_set.h"

namespace morvel {

std::vector<GlyphEntry> glyphsAmong(const AtlasView& view, std::string_view chars)
{
    std::vector<GlyphEntry> glyphs;
    for (int32_t g = 0; g < view.glyphCount; ++g) {
        const GlyphEntry& entry = view.glyphs[g];
        if (chars.find(static_cast<char>(entry.code)) != std::string_view::npos)
            glyphs.push_back(entry);
    }
    return glyphs;
}

AtlasView restrictedView(const AtlasView& view, const std::vector<GlyphEntry>& glyphs)
{
    AtlasView restricted = view;
    restricted.glyphs = glyphs.data();
    restricted.glyphCount = static_cast<int32_t>(glyphs.size());
    return restricted;
}

}  // namespace morvel
