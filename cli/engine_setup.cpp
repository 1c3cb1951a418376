#include "cli/engine_setup.h"

#include <string>

#include "cli/output.h"
#include "platform/font.h"

namespace morvel::cli {

bool prepareEngine(TextEngine& engine, const Options& o, std::promise<GlyphCell>& cell, GlyphInk* ink)
{
    if (!engine.setDefaultFont(o.face, o.points, o.weight, o.italic) || engine.font() == nullptr) {
        complain("no usable font for \"" + o.face + "\" at " + std::to_string(o.points) + " points");
        return false;
    }
    const Font& font = *engine.font();
    // The default face stands in for itself unnoticed: on most systems it
    // is not installed and the monospaced face is expected.
    if (font.isSubstitute() && o.faceNamed) {
        complain("font \"" + o.face + "\" is not installed; using \"" + font.faceUsed() + "\"");
    }
    engine.buildGlyphAtlas();
    if (engine.glyphAtlas() == nullptr) {
        complain("cannot build the glyph atlas for \"" + font.faceUsed() + "\" at " + std::to_string(o.points) +
                 " points");
        return false;
    }
    cell.set_value({engine.maxGlyphWidth(), engine.cellHeight()});
    if (ink != nullptr) {
        *ink = glyphInkOf(engine.atlasView());
    }
    for (int32_t i = 0; i < o.blur; ++i) {
        engine.blurFont();
    }
    engine.updateBlackLevelRange();
    return true;
}

bool prepareEngineAndCell(TextEngine& engine, const Options& o, std::promise<GlyphCell>& cell, GlyphInk* ink)
{
    const bool ready = prepareEngine(engine, o, cell, ink);
    if (!ready) {
        try {
            cell.set_value({});
        } catch (const std::future_error&) {
            // Already given: the atlas was built.
        }
    }
    return ready;
}

}  // namespace morvel::cli
