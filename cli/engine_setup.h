// The engine prepared once for a run of the converter: the font, the glyph
// atlas, its blurs and its black-level range, with the glyph size handed
// to the loaders as soon as the atlas is built.
#pragma once

#include <cstdint>
#include <future>

#include "cli/fill_colours.h"
#include "cli/options.h"
#include "engine/text_engine.h"

namespace morvel::cli {

// The glyph size that fitting a picture to the text's size needs: known
// once the atlas is built, zero when there is none.
struct GlyphCell {
    int32_t maxWidth = 0;
    int32_t height = 0;
};

// Font, atlas, blurs and black-level range, once for every picture:
// generation reads the atlas and never changes it. `cell` is given the
// atlas's glyph size as soon as it is known; `ink`, when given, where the
// glyphs put ink before the atlas is blurred.
bool prepareEngine(TextEngine& engine, const Options& o, std::promise<GlyphCell>& cell, GlyphInk* ink);

// Font, atlas and the rest as prepareEngine makes them; `cell` is given a
// value on every path (zero when the engine cannot be prepared).
bool prepareEngineAndCell(TextEngine& engine, const Options& o, std::promise<GlyphCell>& cell, GlyphInk* ink);

}  // namespace morvel::cli
