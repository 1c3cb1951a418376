#include "cli/colour_text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace morvel::cli {
namespace {

constexpr double kBoostChroma = 1.5;
constexpr double kBoostLightness = 0.6;

double linearOf(uint8_t sample)
{
    const double v = sample / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double labCurve(double t)
{
    constexpr double delta = 6.0 / 29.0;
    return t > delta * delta * delta ? std::cbrt(t) : t / (3 * delta * delta) + 4.0 / 29.0;
}

// sRGB to CIE XYZ (D65) to CIE Lab.
Lab labOf(Rgb colour)
{
    return labOfLinear(linearOf(colour.red), linearOf(colour.green), linearOf(colour.blue));
}

double srgbOf(double linear)
{
    const double v = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    return std::clamp(v * 255.0 + 0.5, 0.0, 255.0);
}

double labCurveInverse(double f)
{
    constexpr double delta = 6.0 / 29.0;
    return f > delta ? f * f * f : 3 * delta * delta * (f - 4.0 / 29.0);
}

// CIE Lab (D65) back to sRGB, each channel clamped to 0..255.
Rgb rgbOfLab(Lab lab)
{
    const double fy = (lab.l + 16) / 116;
    const double x = 0.95047 * labCurveInverse(fy + lab.a / 500);
    const double y = labCurveInverse(fy);
    const double z = 1.08883 * labCurveInverse(fy - lab.b / 200);
    const double r = 3.2404542 * x - 1.5371385 * y - 0.4985314 * z;
    const double g = -0.9692660 * x + 1.8760108 * y + 0.0415560 * z;
    const double b = 0.0556434 * x - 0.2040259 * y + 1.0572252 * z;
    return {static_cast<uint8_t>(srgbOf(r)), static_cast<uint8_t>(srgbOf(g)), static_cast<uint8_t>(srgbOf(b))};
}

// The 256 xterm colours: 16 system colours (xterm's defaults), the 6 x 6 x 6
// cube on the levels 0, 95, 135, 175, 215, 255, and 24 grays 8, 18, .., 238.
struct Palette {
    std::array<Rgb, 256> rgb;
    std::array<Lab, 256> lab;
};

const Palette& palette()
{
    static const Palette table = [] {
        Palette p{};
        constexpr Rgb system[16] = {{0, 0, 0},       {205, 0, 0},   {0, 205, 0},   {205, 205, 0},
                                    {0, 0, 238},     {205, 0, 205}, {0, 205, 205}, {229, 229, 229},
                                    {127, 127, 127}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                    {92, 92, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
        for (int i = 0; i < 16; ++i)
            p.rgb[i] = system[i];
        constexpr uint8_t levels[6] = {0, 95, 135, 175, 215, 255};
        for (int i = 0; i < 216; ++i)
            p.rgb[16 + i] = {levels[i / 36], levels[i / 6 % 6], levels[i % 6]};
        for (int i = 0; i < 24; ++i) {
            const auto v = static_cast<uint8_t>(8 + 10 * i);
            p.rgb[232 + i] = {v, v, v};
        }
        for (int i = 0; i < 256; ++i)
            p.lab[i] = labOf(p.rgb[i]);
        return p;
    }();
    return table;
}

// The index in [first, last) of the palette entry nearest to `colour`; on
// a tie the lower index.
uint32_t nearestEntry(Rgb colour, int first, int last)
{
    const Lab target = labOf(colour);
    const Palette& p = palette();
    double best = std::numeric_limits<double>::max();
    int bestIndex = first;
    for (int i = first; i < last; ++i) {
        const double dl = p.lab[i].l - target.l, da = p.lab[i].a - target.a, db = p.lab[i].b - target.b;
        const double distance = dl * dl + da * da + db * db;
        if (distance < best) {
            best = distance;
            bestIndex = i;
        }
    }
    return static_cast<uint32_t>(bestIndex);
}

}  // namespace

Lab labOfLinear(double red, double green, double blue)
{
    const double x = (0.4124564 * red + 0.3575761 * green + 0.1804375 * blue) / 0.95047;
    const double y = 0.2126729 * red + 0.7151522 * green + 0.0721750 * blue;
    const double z = (0.0193339 * red + 0.1191920 * green + 0.9503041 * blue) / 1.08883;
    const double fx = labCurve(x), fy = labCurve(y), fz = labCurve(z);
    return {116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
}

Rgb boostColour(Rgb colour, bool darkBackground)
{
    Lab lab = labOf(colour);
    lab.a *= kBoostChroma;
    lab.b *= kBoostChroma;
    lab.l = darkBackground ? 100 - kBoostLightness * (100 - lab.l) : kBoostLightness * lab.l;
    return rgbOfLab(lab);
}

std::optional<ColourMode> colourModeNamed(const std::string& name)
{
    if (name == "none")
        return ColourMode::None;
    if (name == "16")
        return ColourMode::Palette16;
    if (name == "256")
        return ColourMode::Palette256;
    if (name == "truecolor")
        return ColourMode::TrueColour;
    return std::nullopt;
}

ColourMode autoColourMode(bool terminal, const char* noColor, const char* colorTerm, int terminfoColours)
{
    if (!terminal || (noColor != nullptr && *noColor != '\0'))
        return ColourMode::None;
    if (colorTerm != nullptr && (std::strcmp(colorTerm, "truecolor") == 0 || std::strcmp(colorTerm, "24bit") == 0))
        return ColourMode::TrueColour;
    if (terminfoColours >= 1 << 24)
        return ColourMode::TrueColour;
    if (terminfoColours >= 256)
        return ColourMode::Palette256;
    return terminfoColours >= 8 ? ColourMode::Palette16 : ColourMode::None;
}

uint32_t colourKey(Rgb colour, ColourMode mode)
{
    switch (mode) {
    case ColourMode::Palette16:
        return nearestEntry(colour, 0, 16);
    case ColourMode::Palette256:
        // The system colours are left out: terminals let users change them,
        // while the cube and the gray ramp are fixed.
        return nearestEntry(colour, 16, 256);
    default:
        return uint32_t{colour.red} << 16 | uint32_t{colour.green} << 8 | colour.blue;
    }
}

Rgb colourOfKey(uint32_t key, ColourMode mode)
{
    if (mode == ColourMode::Palette16 || mode == ColourMode::Palette256)
        return palette().rgb[key & 0xff];
    return {static_cast<uint8_t>(key >> 16), static_cast<uint8_t>(key >> 8), static_cast<uint8_t>(key)};
}

std::string sgrForeground(uint32_t key, ColourMode mode)
{
    switch (mode) {
    case ColourMode::Palette16:
        return "\x1b[" + std::to_string(key < 8 ? 30 + key : 90 + (key - 8)) + "m";
    case ColourMode::Palette256:
        return "\x1b[38;5;" + std::to_string(key) + "m";
    case ColourMode::TrueColour: {
        const Rgb c = colourOfKey(key, mode);
        return "\x1b[38;2;" + std::to_string(c.red) + ";" + std::to_string(c.green) + ";" + std::to_string(c.blue) +
               "m";
    }
    default:
        return {};
    }
}

std::string sgrBackground(uint32_t key, ColourMode mode)
{
    switch (mode) {
    case ColourMode::Palette16:
        return "\x1b[" + std::to_string(key < 8 ? 40 + key : 100 + (key - 8)) + "m";
    case ColourMode::Palette256:
        return "\x1b[48;5;" + std::to_string(key) + "m";
    case ColourMode::TrueColour: {
        const Rgb c = colourOfKey(key, mode);
        return "\x1b[48;2;" + std::to_string(c.red) + ";" + std::to_string(c.green) + ";" + std::to_string(c.blue) +
               "m";
    }
    default:
        return {};
    }
}

std::string sgrText(const std::string& text, int32_t lineCount, const std::vector<Rgb>& colours, ColourMode mode,
                    const std::vector<Rgb>& grounds)
{
    if (mode == ColourMode::None)
        return text;
    const bool filled = !grounds.empty();
    if (filled && grounds.size() != colours.size())
        return text;
    std::string out;
    out.reserve(text.size() * 2);
    size_t at = 0;
    size_t next = 0;  // the next colour of `colours`
    for (int32_t line = 0; line < lineCount && at < text.size(); ++line) {
        const size_t end = std::min(text.find("\r\n", at), text.size());
        if (next + (end - at) > colours.size())
            return text;
        // The reset goes right after the last visible character, so that the
        // spaces after it stay at the line's end (where the writer may drop
        // them).
        size_t visibleEnd = end;
        while (!filled && visibleEnd > at && text[visibleEnd - 1] == ' ')
            --visibleEnd;
        bool coloured = false;
        uint32_t current = 0;
        bool grounded = false;
        uint32_t currentGround = 0;
        for (; at < end; ++at, ++next) {
            if (at == visibleEnd)
                out += kSgrReset;
            if (filled) {
                const uint32_t key = colourKey(grounds[next], mode);
                if (!grounded || key != currentGround)
                    out += sgrBackground(key, mode);
                grounded = true;
                currentGround = key;
            }
            if (text[at] != ' ') {
                const uint32_t key = colourKey(colours[next], mode);
                if (!coloured || key != current)
                    out += sgrForeground(key, mode);
                coloured = true;
                current = key;
            }
            out += text[at];
        }
        if (visibleEnd == end)
            out += kSgrReset;
        out += "\r\n";
        at = end + 2;
    }
    if (at < text.size())
        out.append(text, at, std::string::npos);
    return out;
}

}  // namespace morvel::cli
