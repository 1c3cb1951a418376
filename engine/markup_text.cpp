#include "engine/markup_text.h"

#include <cstdio>

namespace morvel {

void appendMarkupEscaped(std::string& out, char c, Apostrophe apostrophe)
{
    switch (c) {
    case '&':
        out += "&amp;";
        break;
    case '<':
        out += "&lt;";
        break;
    case '>':
        out += "&gt;";
        break;
    case '"':
        out += "&quot;";
        break;
    case '\'':
        out += apostrophe == Apostrophe::Escaped ? "&apos;" : "'";
        break;
    default:
        out += c;
    }
}

std::string hexColour(uint8_t red, uint8_t green, uint8_t blue)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", red, green, blue);
    return text;
}

}  // namespace morvel
