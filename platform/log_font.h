// A font description with the fields of the classic LOGFONT record, and the
// rounding helper that point sizes and pixel heights are converted with.
#pragma once

#include <cstdint>
#include <string>

namespace morvel {

inline constexpr int kDefaultDpi = 96;
inline constexpr int kFaceNameSize = 32;  // 31 characters + NUL

struct LogFont {
    int32_t lfHeight;  // < 0: character (em) height in pixels; > 0: cell height
    int32_t lfWidth;
    int32_t lfEscapement;
    int32_t lfOrientation;
    int32_t lfWeight;  // 0 .. 1000, 400 normal, 700 bold
    uint8_t lfItalic;
    uint8_t lfUnderline;
    uint8_t lfStrikeOut;
    uint8_t lfCharSet;
    uint8_t lfOutPrecision;
    uint8_t lfClipPrecision;
    uint8_t lfQuality;
    uint8_t lfPitchAndFamily;
    char lfFaceName[kFaceNameSize];
};

// number * numerator / denominator with an exact 64-bit product and the
// quotient rounded to the nearest integer, halves away from zero. Returns -1
// when the denominator is 0 or the result does not fit 32 bits.
int32_t mulDiv(int32_t number, int32_t numerator, int32_t denominator);

// Copies at most 31 characters of `face` into the description, NUL-terminated.
void setFaceName(LogFont& font, const std::string& face);

}  // namespace morvel
