#include "cli/html_page.h"

#include <algorithm>
#include <set>

#include "engine/markup_text.h"

namespace morvel::cli {
namespace {

std::string hexColour(Rgb colour)
{
    return morvel::hexColour(colour.red, colour.green, colour.blue);
}

void appendEscaped(std::string& out, char c)
{
    appendMarkupEscaped(out, c);
}

// The font-family value: the face, quoted, then a generic family.
std::string fontFamily(const HtmlStyle& style)
{
    std::string family = "\"";
    for (const char c : style.face) {
        if (c == '"' || c == '\\')
            family += '\\';
        family += c;
    }
    family += "\", ";
    family += isMonospaced(style.advances) ? "monospace" : "sans-serif";
    return family;
}

}  // namespace

bool isMonospaced(const GlyphAdvances& advances)
{
    return std::all_of(advances.begin() + 33, advances.begin() + 127,
                       [&advances](int32_t a) { return a == advances[32]; });
}

std::string escapeHtml(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text)
        appendEscaped(out, c);
    return out;
}

std::string htmlPageStart(const HtmlStyle& style, const std::string& title)
{
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
    page += escapeHtml(title);
    page += "</title>\n<style>\n";
    page += style.dark ? "html { background: #000; color: #fff; }\n" : "html { background: #fff; color: #000; }\n";
    page += "body { margin: 8px; }\n";
    page += "pre { margin: 0 0 1em; font-family: " + fontFamily(style) +
            "; font-size: " + std::to_string(style.pixelSize) + "px; line-height: " + std::to_string(style.lineHeight) +
            "px; white-space: pre; }\n";
    if (isMonospaced(style.advances)) {
        // The browser's advance (1ch, fractional) brought to the walk's whole
        // pixels, whatever face it ends up using.
        page += "pre { letter-spacing: calc(" + std::to_string(style.advances[' ']) + "px - 1ch); }\n";
    } else {
        // One box per character of the picture lines, as wide as the walk's
        // advance for it (w7 is 7 pixels wide); runs of spaces share a box.
        page += "pre i { display: inline-block; font-style: normal; }\n";
        std::set<int32_t> widths(style.advances.begin() + 32, style.advances.begin() + 127);
        for (const int32_t w : widths)
            page += ".w" + std::to_string(w) + " { width: " + std::to_string(w) + "px; }\n";
    }
    page += "</style>\n</head>\n<body>\n";
    return page;
}

std::string htmlPre(const HtmlStyle& style, const std::string& text, int32_t lineCount, const std::vector<Rgb>& colours,
                    ColourMode mode, const std::vector<Rgb>& grounds)
{
    const bool filled = !grounds.empty() && grounds.size() == colours.size();
    const bool boxed = !isMonospaced(style.advances);
    // A line break right after <pre> is dropped by every HTML parser; this
    // one is that break, so the text's own first line (empty or not) stays.
    std::string out = "<pre>\n";
    out.reserve(text.size() * (boxed ? 20 : 3));
    size_t at = 0;
    size_t next = 0;
    const bool coloured = mode != ColourMode::None;
    for (int32_t line = 0; line < lineCount && at < text.size(); ++line) {
        const size_t end = std::min(text.find("\r\n", at), text.size());
        const bool colourLine = coloured && next + (end - at) <= colours.size();
        const bool fillLine = filled && colourLine;
        size_t shownEnd = end;
        while (!style.keepLineEnds && !fillLine && shownEnd > at && text[shownEnd - 1] == ' ')
            --shownEnd;
        bool open = false;
        uint32_t current = 0;
        uint32_t currentGround = 0;
        for (; at < end; ++at, ++next) {
            const char c = text[at];
            if (at >= shownEnd)
                continue;
            if (colourLine && (c != ' ' || fillLine)) {
                // A space keeps the ink of the run it is in.
                const uint32_t key = c != ' ' || !open ? colourKey(colours[next], mode) : current;
                const uint32_t ground = fillLine ? colourKey(grounds[next], mode) : 0;
                if (!open || key != current || ground != currentGround) {
                    if (open)
                        out += "</span>";
                    out += "<span style=\"color:" + hexColour(colourOfKey(key, mode));
                    if (fillLine)
                        out += ";background:" + hexColour(colourOfKey(ground, mode));
                    out += "\">";
                    open = true;
                    current = key;
                    currentGround = ground;
                }
            }
            if (boxed && c == ' ') {
                // A run of spaces shows nothing inside it: one box for all
                // (unless each has a ground of its own).
                size_t last = at;
                while (!fillLine && last + 1 < shownEnd && text[last + 1] == ' ')
                    ++last;
                const int64_t width = int64_t{style.advances[' ']} * static_cast<int64_t>(last - at + 1);
                out += last == at ? "<i class=w" : "<i style=width:";
                out += std::to_string(width) + (last == at ? ">" : "px>");
                out.append(last - at + 1, ' ');
                out += "</i>";
                next += last - at;
                at = last;
            } else if (boxed) {
                out += "<i class=w" + std::to_string(style.advances[static_cast<unsigned char>(c) & 0x7f]) + ">";
                appendEscaped(out, c);
                out += "</i>";
            } else {
                appendEscaped(out, c);
            }
        }
        if (open)
            out += "</span>";
        out += '\n';
        at = end + 2;
    }
    // The footer, as text.
    while (at < text.size()) {
        const size_t end = std::min(text.find("\r\n", at), text.size());
        size_t shownEnd = end;
        while (!style.keepLineEnds && shownEnd > at && text[shownEnd - 1] == ' ')
            --shownEnd;
        for (; at < shownEnd; ++at)
            appendEscaped(out, text[at]);
        if (end < text.size())
            out += '\n';
        at = end + 2;
    }
    out += "</pre>\n";
    return out;
}

std::string htmlPageEnd()
{
    return "</body>\n</html>\n";
}

}  // namespace morvel::cli
