// Text and colours as HTML and SVG write them: the character references
// for the characters markup reserves, and colours as #rrggbb.
#pragma once

#include <cstdint>
#include <string>

namespace morvel {

// Which quote characters are written as references besides &, < and >:
// the double quote always, the apostrophe only when asked (SVG attributes
// may be quoted with it; HTML element text never needs it).
enum class Apostrophe {
    Kept,
    Escaped
};

// Appends `c` to `out`, as a character reference when markup reserves it.
void appendMarkupEscaped(std::string& out, char c, Apostrophe apostrophe = Apostrophe::Kept);

// "#rrggbb" in lower-case hexadecimal.
std::string hexColour(uint8_t red, uint8_t green, uint8_t blue);

}  // namespace morvel
