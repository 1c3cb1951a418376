// The text image as a picture to share: a PNG drawn with the very glyphs the
// text was matched against, or an SVG whose text elements name the face and
// fix every character's place. Each character sits where the walk put it:
// line k at k cell heights, each character its glyph's advance after the
// one before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/glyph_atlas.h"
#include "image/image_record.h"

namespace morvel {

class Font;

struct TextPictureStyle {
    bool dark = false;  // light text on black instead of black on white
    // Red, green and blue of each character of the first `colouredLines`
    // lines, in text order (line ends have none), or none: the text then
    // has the one ink colour. The other lines (the footer) keep that ink.
    const uint8_t* colours = nullptr;
    size_t colourCount = 0;
    int32_t colouredLines = 0;
};

// The text (lines ended by CR LF or LF) drawn from the unblurred atlas
// `glyphs`: the picture as wide as the widest line's advances and a cell
// height per line; every character's cell is its glyph's cell copied from
// the atlas (black on white; inverted when dark). 8-bit gray without
// colours, 24-bit with them (each pixel the ink colour over the ground by
// the glyph's coverage). A character without a glyph advances 1 and stays
// blank. None when memory runs out or the text draws nothing.
ImageHandle drawTextPicture(const std::string& text, const AtlasView& glyphs, const TextPictureStyle& style);

// What the SVG says about the face beyond the atlas.
struct SvgFace {
    std::string family;     // the face the glyphs were drawn with
    int32_t pixelSize = 0;  // its em height in pixels
    int32_t ascent = 0;     // from a cell's top to the baseline
};

// The text as an SVG document of the same size as drawTextPicture's: a
// ground rectangle, then each line's characters as <text> with every
// character's x given (spaces are left out, so nothing depends on how a
// viewer treats white space), in `face` at its pixel size (then the generic
// monospace or sans-serif), coloured runs as <tspan fill>.
std::string textSvg(const std::string& text, const AtlasView& glyphs, const SvgFace& face,
                    const TextPictureStyle& style);

enum class TextPictureFormat {
    Png,
    Svg
};

// The format a file name asks for by its extension (.png, .svg, any letter
// case); none for another.
std::optional<TextPictureFormat> textPictureFormatOf(const std::string& path);

// The text as the bytes of a picture file in `format`, drawn with `font`
// unblurred (the face the text was made with). None, with a short reason in
// `error`, when it cannot be made.
std::optional<std::string> textPictureBytes(TextPictureFormat format, const std::string& text, const Font& font,
                                            const TextPictureStyle& style, std::string& error);

// Writes the text as a picture in `format` to `path` through the one
// writer, drawn with `font` unblurred (the face the text was made with).
// False, with a short reason in `error`, when it cannot be made or written.
bool writeTextPicture(const std::string& path, TextPictureFormat format, const std::string& text, const Font& font,
                      const TextPictureStyle& style, std::string& error);

}  // namespace morvel
