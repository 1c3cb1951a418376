#include "engine/text_picture.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <vector>

#include "engine/markup_text.h"
#include "image/colour_picture.h"
#include "image/load_picture.h"
#include "image/png_writer.h"
#include "platform/font.h"
#include "platform/output_file.h"

namespace morvel {
namespace {

// The lines of `text`: [begin, end) offsets without their line ends. A last
// line without an end counts when it is not empty.
std::vector<std::pair<size_t, size_t>> linesOf(const std::string& text)
{
    std::vector<std::pair<size_t, size_t>> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        const size_t next = end == std::string::npos ? text.size() : end + 1;
        if (end == std::string::npos)
            end = text.size();
        if (end > at && text[end - 1] == '\r')
            --end;
        lines.emplace_back(at, end);
        at = next;
    }
    return lines;
}

// For each character code, its glyph in the atlas; none for codes without.
std::array<const GlyphEntry*, 128> glyphsByCode(const AtlasView& glyphs)
{
    std::array<const GlyphEntry*, 128> byCode{};
    for (int32_t g = 0; g < glyphs.glyphCount; ++g) {
        const GlyphEntry& entry = glyphs.glyphs[g];
        if (entry.code >= 0 && entry.code < 128)
            byCode[static_cast<size_t>(entry.code)] = &entry;
    }
    return byCode;
}

// How far a character moves the next one on: its glyph's width, at least 1
// (as the walk moves on).
int32_t advanceOf(const std::array<const GlyphEntry*, 128>& byCode, char c)
{
    const auto code = static_cast<unsigned char>(c);
    const GlyphEntry* entry = code < 128 ? byCode[code] : nullptr;
    return entry ? std::max(entry->width, 1) : 1;
}

// The picture's size: the widest line's advances by a cell per line.
PictureSize pictureSizeOf(const std::string& text, const std::vector<std::pair<size_t, size_t>>& lines,
                          const std::array<const GlyphEntry*, 128>& byCode, int32_t cellHeight)
{
    int64_t widest = 0;
    for (const auto& [begin, end] : lines) {
        int64_t width = 0;
        for (size_t i = begin; i < end; ++i)
            width += advanceOf(byCode, text[i]);
        widest = std::max(widest, width);
    }
    const int64_t height = static_cast<int64_t>(lines.size()) * cellHeight;
    if (widest > INT32_MAX || height > INT32_MAX || widest * height > kMaxPixelBytes / 3)
        return {};
    return {static_cast<int32_t>(widest), static_cast<int32_t>(height)};
}

// Where the character at offset `i` of the text gets its colour: the index
// into the style's colours, or none (a line end, a line past the coloured
// ones, or more characters than colours).
class ColourWalk {
public:
    explicit ColourWalk(const TextPictureStyle& style) : style_(style) {}
    // The colour of the next character of line `line`; none for the ink.
    const uint8_t* next(size_t line)
    {
        if (style_.colours == nullptr || line >= static_cast<size_t>(std::max(style_.colouredLines, 0)) ||
            index_ >= style_.colourCount)
            return nullptr;
        return style_.colours + 3 * index_++;
    }

private:
    const TextPictureStyle& style_;
    size_t index_ = 0;
};

// Copies the atlas cell of `entry` (its width, a cell high) to (x, y).
void copyCell(const AtlasView& glyphs, const GlyphEntry& entry, ImageRecord& picture, int32_t x, int32_t y)
{
    for (int32_t row = 0; row < glyphs.cellHeight; ++row)
        std::memcpy(picture.rows[y + row] + x, glyphs.atlas->rows[entry.top + row] + glyphs.margin,
                    static_cast<size_t>(entry.width));
}

// Lays the ink colour `ink` over the ground `ground` by the coverage that
// gray `level` shows (0: all ink, 255: all ground).
uint8_t mix(uint8_t ground, uint8_t ink, uint8_t level)
{
    return static_cast<uint8_t>((ground * level + ink * (255 - level) + 127) / 255);
}

// The coloured picture of the drawn gray one: each character's cell in its
// colour (the ink colour where it has none).
ImageHandle colourPicture(const ImageRecord& gray, const std::string& text,
                          const std::vector<std::pair<size_t, size_t>>& lines,
                          const std::array<const GlyphEntry*, 128>& byCode, int32_t cellHeight,
                          const TextPictureStyle& style)
{
    ImageHandle colour = makeColourImage(gray.header.biWidth, gray.rowCount);
    if (!colour)
        return nullptr;
    const uint8_t ground = style.dark ? 0 : 255;
    const uint8_t plainInk[3] = {static_cast<uint8_t>(255 - ground), static_cast<uint8_t>(255 - ground),
                                 static_cast<uint8_t>(255 - ground)};
    ColourWalk walk(style);
    for (size_t line = 0; line < lines.size(); ++line) {
        const int32_t top = static_cast<int32_t>(line) * cellHeight;
        int32_t x = 0;
        for (size_t i = lines[line].first; i < lines[line].second; ++i) {
            const uint8_t* ink = walk.next(line);
            if (ink == nullptr)
                ink = plainInk;
            const int32_t width = advanceOf(byCode, text[i]);
            for (int32_t row = top; row < top + cellHeight; ++row) {
                const uint8_t* in = gray.rows[row] + x;
                uint8_t* out = colour->rows[row] + 3 * x;
                for (int32_t k = 0; k < width; ++k, ++in, out += 3) {
                    for (int c = 0; c < 3; ++c)
                        out[c] = mix(ground, ink[c], *in);
                }
            }
            x += width;
        }
        // The rest of a short line is ground.
        for (int32_t row = top; row < top + cellHeight; ++row)
            std::memset(colour->rows[row] + 3 * x, ground, 3 * static_cast<size_t>(gray.header.biWidth - x));
    }
    return colour;
}

}  // namespace

ImageHandle drawTextPicture(const std::string& text, const AtlasView& glyphs, const TextPictureStyle& style)
{
    if (!atlasViewIsUsable(glyphs))
        return nullptr;
    const auto lines = linesOf(text);
    const auto byCode = glyphsByCode(glyphs);
    const PictureSize size = pictureSizeOf(text, lines, byCode, glyphs.cellHeight);
    ImageHandle gray = size.width > 0 && size.height > 0 ? makeGrayImage(size.width, size.height) : nullptr;
    if (!gray)
        return nullptr;
    for (int32_t y = 0; y < gray->rowCount; ++y)
        std::memset(gray->rows[y], 255, static_cast<size_t>(recordPitch(*gray)));
    for (size_t line = 0; line < lines.size(); ++line) {
        int32_t x = 0;
        for (size_t i = lines[line].first; i < lines[line].second; ++i) {
            const auto code = static_cast<unsigned char>(text[i]);
            if (const GlyphEntry* entry = code < 128 ? byCode[code] : nullptr)
                copyCell(glyphs, *entry, *gray, x, static_cast<int32_t>(line) * glyphs.cellHeight);
            x += advanceOf(byCode, text[i]);
        }
    }
    if (style.colours != nullptr && style.colouredLines > 0)
        return colourPicture(*gray, text, lines, byCode, glyphs.cellHeight, style);
    if (style.dark) {
        for (int32_t y = 0; y < gray->rowCount; ++y)
            for (int32_t x = 0; x < gray->header.biWidth; ++x)
                gray->rows[y][x] = static_cast<uint8_t>(255 - gray->rows[y][x]);
    }
    clearRowFill(*gray);
    return gray;
}

namespace {

std::string hexColour(const uint8_t* rgb)
{
    return morvel::hexColour(rgb[0], rgb[1], rgb[2]);
}

void appendEscaped(std::string& out, char c)
{
    appendMarkupEscaped(out, c, Apostrophe::Escaped);
}

// One line as a <text> element: each run of characters of one colour (the
// ink's when they have none) a <tspan> with every character's x; spaces
// are left out, their advance kept.
void appendSvgLine(std::string& svg, const std::string& text, std::pair<size_t, size_t> line, int32_t baseline,
                   const std::array<const GlyphEntry*, 128>& byCode, ColourWalk& walk, size_t lineIndex)
{
    std::string body;
    std::string xs;
    std::string chars;
    std::string runColour;
    const auto closeRun = [&] {
        if (chars.empty())
            return;
        body += "<tspan x=\"" + xs + "\"" + (runColour.empty() ? "" : " fill=\"" + runColour + "\"") + ">" + chars +
                "</tspan>";
        xs.clear();
        chars.clear();
    };
    int32_t x = 0;
    for (size_t i = line.first; i < line.second; ++i) {
        const char c = text[i];
        const uint8_t* colour = walk.next(lineIndex);
        if (c != ' ') {
            const std::string fill = colour ? hexColour(colour) : std::string();
            if (fill != runColour) {
                closeRun();
                runColour = fill;
            }
            xs += (xs.empty() ? "" : " ") + std::to_string(x);
            appendEscaped(chars, c);
        }
        x += advanceOf(byCode, c);
    }
    closeRun();
    if (!body.empty())
        svg += "<text y=\"" + std::to_string(baseline) + "\">" + body + "</text>\n";
}

}  // namespace

std::string textSvg(const std::string& text, const AtlasView& glyphs, const SvgFace& face,
                    const TextPictureStyle& style)
{
    const auto lines = linesOf(text);
    const auto byCode = glyphsByCode(glyphs);
    const PictureSize size = pictureSizeOf(text, lines, byCode, glyphs.cellHeight);
    bool monospaced = true;
    for (int code = 33; code < 127; ++code)
        monospaced = monospaced && advanceOf(byCode, static_cast<char>(code)) == advanceOf(byCode, ' ');
    std::string family = "'";
    for (const char c : face.family)
        appendEscaped(family, c == '\'' ? ' ' : c);
    family += monospaced ? "', monospace" : "', sans-serif";
    const std::string w = std::to_string(size.width);
    const std::string h = std::to_string(size.height);
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w + " " + h + "\">\n";
    svg += std::string("<rect width=\"") + w + "\" height=\"" + h + "\" fill=\"" + (style.dark ? "#000" : "#fff") +
           "\"/>\n";
    svg += "<g font-family=\"" + family + "\" font-size=\"" + std::to_string(face.pixelSize) + "\" fill=\"" +
           (style.dark ? "#fff" : "#000") + "\">\n";
    ColourWalk walk(style);
    for (size_t line = 0; line < lines.size(); ++line)
        appendSvgLine(svg, text, lines[line], static_cast<int32_t>(line) * glyphs.cellHeight + face.ascent, byCode,
                      walk, line);
    svg += "</g>\n</svg>\n";
    return svg;
}

std::optional<TextPictureFormat> textPictureFormatOf(const std::string& path)
{
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos)
        return std::nullopt;
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".png")
        return TextPictureFormat::Png;
    if (extension == ".svg")
        return TextPictureFormat::Svg;
    return std::nullopt;
}

std::optional<std::string> textPictureBytes(TextPictureFormat format, const std::string& text, const Font& font,
                                            const TextPictureStyle& style, std::string& error)
{
    const std::optional<BuiltAtlas> built = renderGlyphAtlas(font);
    if (!built) {
        error = "cannot draw the glyphs of \"" + font.faceUsed() + "\"";
        return std::nullopt;
    }
    const AtlasView glyphs{built->atlas.get(), built->glyphs.data(), static_cast<int32_t>(built->glyphs.size()),
                           built->cellHeight,  built->maxGlyphWidth, kAtlasMargin};
    std::optional<std::string> bytes;
    if (format == TextPictureFormat::Svg) {
        bytes = textSvg(text, glyphs, SvgFace{font.faceUsed(), font.pixelSize(), font.ascent()}, style);
    } else if (const ImageHandle picture = drawTextPicture(text, glyphs, style)) {
        bytes = encodePng(*picture);
    }
    if (!bytes) {
        error = "the text is too large for a picture";
    }
    return bytes;
}

bool writeTextPicture(const std::string& path, TextPictureFormat format, const std::string& text, const Font& font,
                      const TextPictureStyle& style, std::string& error)
{
    const std::optional<std::string> bytes = textPictureBytes(format, text, font, style, error);
    return bytes && writeFileSafely(path, *bytes, error);
}

}  // namespace morvel
