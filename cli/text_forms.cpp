#include "cli/text_forms.h"

#include "engine/text_picture.h"
#include "image/png_writer.h"
#include "platform/font.h"

namespace morvel::cli {

HtmlStyle htmlStyleOf(const TextEngine& engine, const Options& o)
{
    HtmlStyle style;
    style.face = engine.font() ? engine.font()->faceUsed() : engine.faceName();
    style.pixelSize = engine.font() ? engine.font()->pixelSize() : engine.cellHeight();
    style.lineHeight = engine.cellHeight();
    style.dark = o.invert;
    style.advances = glyphAdvances(engine.atlasView());
    style.keepLineEnds = o.crlf;
    return style;
}

void splitFills(const std::vector<CellFill>& fills, std::vector<Rgb>& inks, std::vector<Rgb>& grounds)
{
    inks.clear();
    grounds.clear();
    inks.reserve(fills.size());
    grounds.reserve(fills.size());
    for (const CellFill& fill : fills) {
        inks.push_back(fill.ink);
        grounds.push_back(fill.ground);
    }
}

std::optional<std::string> textPicture(const std::string& text, const AtlasView& glyphs, const Font& font,
                                       const Options& o, const std::vector<Rgb>& colours, int32_t lineCount,
                                       ColourMode mode)
{
    std::vector<uint8_t> shown;
    shown.reserve(colours.size() * 3);
    for (const Rgb& c : colours) {
        const Rgb seen = colourOfKey(colourKey(c, mode), mode);
        shown.insert(shown.end(), {seen.red, seen.green, seen.blue});
    }
    TextPictureStyle style;
    style.dark = o.invert;
    if (!shown.empty()) {
        style.colours = shown.data();
        style.colourCount = colours.size();
        style.colouredLines = lineCount;
    }
    if (*o.picture == TextPictureFormat::Svg) {
        return textSvg(text, glyphs, SvgFace{font.faceUsed(), font.pixelSize(), font.ascent()}, style);
    }
    const ImageHandle picture = drawTextPicture(text, glyphs, style);
    return picture ? encodePng(*picture) : std::nullopt;
}

}  // namespace morvel::cli
