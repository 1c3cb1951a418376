// Matching against some of the atlas's characters only: the glyph table cut
// down to a set of characters, on the very same atlas.
#pragma once

#include <string_view>
#include <vector>

#include "engine/glyph_atlas.h"

namespace morvel {

// The entries of `view`'s glyph table whose characters are in `chars`, in
// table order (so ties still go to the lower code).
std::vector<GlyphEntry> glyphsAmong(const AtlasView& view, std::string_view chars);

// `view` matching only against `glyphs` (entries of its own table): the
// same atlas, cell height and widest glyph, so the walk steps and stops as
// it does with the whole table.
AtlasView restrictedView(const AtlasView& view, const std::vector<GlyphEntry>& glyphs);

}  // namespace morvel
