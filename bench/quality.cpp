// morvel-quality: how well a text image reproduces its picture, as a number.
//
//   morvel-quality [--font FACE] [--points N] [--dpi N] [--save PGM] PICTURE TEXT
//
// The text (any tool's output, plain ASCII lines) is rendered in the given
// font exactly as the engine lays glyphs out: each character's unblurred
// atlas cell, side by side at its advance, one cell height per line. The
// picture is scaled onto that block. Both are seen as from a few feet away:
// blurred by a Gaussian of sigma one cell width and averaged over squares one
// cell wide. The rendered text's tone is stretched so that its darkest
// possible cell (the densest glyph) is black, since no text can be darker and
// every tool maps black to its densest character. The two are then compared
// by SSIM (Wang et al. 2004: 11 x 11 Gaussian window of sigma 1.5, K1 0.01,
// K2 0.03, L 255, mean over the window positions inside the picture) and
// PSNR, twice: with the blur done on the gray values as stored, and in linear
// light (sRGB decoded before the blur, encoded again after it).
//
// Prints one line: SSIM PSNR SSIM-linear PSNR-linear. --save also writes the
// rendered text, as it looks printed, to a PGM file to look at.
//
//   morvel-quality --colour [--background light|dark] [--font FACE] ... PICTURE TEXT
//
// scores coloured text instead: TEXT may hold ECMA-48 SGR codes (30-37,
// 90-97, 38;5;N, 38;2;R;G;B for the characters, 40-47, 100-107, 48;5;N,
// 48;2;R;G;B for the cells, 39, 49, 7, 27 and 0; any other escape sequence
// is stepped over) as a terminal shows them on the given background (light:
// black on white, the default; dark: white on black), with xterm's palette.
// Each glyph pixel is its cell's ink and ground mixed by the glyph's cover,
// as terminals blend them (on the stored values). The rendered text and the
// picture (its colours scaled onto the block) are blurred in linear light as
// above, with no tone stretch (what the screen shows is scored), taken to
// CIE Lab (D65) and compared by SSIM on each of L*, a* and b* (the same
// window and constants, with L = 100), and by the mean CIE76 colour
// difference. --save writes the rendered text as a binary PPM. Prints: colour-SSIM SSIM-L SSIM-a SSIM-b mean-dE, where the
// colour SSIM weighs the three 0.8 / 0.1 / 0.1, as colour SSIMs on a
// luma-chroma split commonly do.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/colour_text.h"
#include "engine/text_engine.h"
#include "image/load_picture.h"
#include "image/picture_transform.h"
#include "platform/font.h"

namespace {

struct Plane {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<double> v;
    double& at(int32_t x, int32_t y) { return v[static_cast<size_t>(y) * static_cast<size_t>(width) + x]; }
    double at(int32_t x, int32_t y) const { return v[static_cast<size_t>(y) * static_cast<size_t>(width) + x]; }
};

Plane planeOf(int32_t width, int32_t height, double fill)
{
    Plane p;
    p.width = width;
    p.height = height;
    p.v.assign(static_cast<size_t>(width) * static_cast<size_t>(height), fill);
    return p;
}

double toLinear(double v)
{
    const double c = v / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double fromLinear(double l)
{
    l = std::clamp(l, 0.0, 1.0);
    const double c = l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055;
    return c * 255.0;
}

std::vector<double> gaussianKernel(double sigma, int radius)
{
    std::vector<double> k(static_cast<size_t>(2 * radius + 1));
    double sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += k[static_cast<size_t>(i + radius)] = std::exp(-(i * i) / (2 * sigma * sigma));
    for (double& w : k)
        w /= sum;
    return k;
}

// Separable Gaussian blur, edges repeated.
Plane blur(const Plane& in, double sigma)
{
    const int radius = static_cast<int>(std::ceil(3 * sigma));
    const std::vector<double> k = gaussianKernel(sigma, radius);
    Plane mid = planeOf(in.width, in.height, 0);
    for (int32_t y = 0; y < in.height; ++y)
        for (int32_t x = 0; x < in.width; ++x) {
            double s = 0;
            for (int i = -radius; i <= radius; ++i)
                s += k[static_cast<size_t>(i + radius)] * in.at(std::clamp(x + i, 0, in.width - 1), y);
            mid.at(x, y) = s;
        }
    Plane out = planeOf(in.width, in.height, 0);
    for (int32_t y = 0; y < in.height; ++y)
        for (int32_t x = 0; x < in.width; ++x) {
            double s = 0;
            for (int i = -radius; i <= radius; ++i)
                s += k[static_cast<size_t>(i + radius)] * mid.at(x, std::clamp(y + i, 0, in.height - 1));
            out.at(x, y) = s;
        }
    return out;
}

// Means over squares `cell` pixels wide (a partial square at the right or
// bottom edge is left out).
Plane sampleSquares(const Plane& in, int32_t cell)
{
    Plane out = planeOf(in.width / cell, in.height / cell, 0);
    for (int32_t sy = 0; sy < out.height; ++sy)
        for (int32_t sx = 0; sx < out.width; ++sx) {
            double s = 0;
            for (int32_t y = 0; y < cell; ++y)
                for (int32_t x = 0; x < cell; ++x)
                    s += in.at(sx * cell + x, sy * cell + y);
            out.at(sx, sy) = s / (cell * cell);
        }
    return out;
}

double meanSsim(const Plane& a, const Plane& b, double range = 255)
{
    const int radius = 5;
    const std::vector<double> k = gaussianKernel(1.5, radius);
    const double c1 = (0.01 * range) * (0.01 * range);
    const double c2 = (0.03 * range) * (0.03 * range);
    double total = 0;
    int64_t count = 0;
    for (int32_t y = radius; y + radius < a.height; ++y)
        for (int32_t x = radius; x + radius < a.width; ++x) {
            double ma = 0, mb = 0, aa = 0, bb = 0, ab = 0;
            for (int i = -radius; i <= radius; ++i)
                for (int j = -radius; j <= radius; ++j) {
                    const double w = k[static_cast<size_t>(i + radius)] * k[static_cast<size_t>(j + radius)];
                    const double va = a.at(x + j, y + i);
                    const double vb = b.at(x + j, y + i);
                    ma += w * va;
                    mb += w * vb;
                    aa += w * va * va;
                    bb += w * vb * vb;
                    ab += w * va * vb;
                }
            const double va = aa - ma * ma, vb = bb - mb * mb, cov = ab - ma * mb;
            total += ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
            ++count;
        }
    return count > 0 ? total / static_cast<double>(count) : 0.0;
}

double psnr(const Plane& a, const Plane& b)
{
    double se = 0;
    for (size_t i = 0; i < a.v.size(); ++i)
        se += (a.v[i] - b.v[i]) * (a.v[i] - b.v[i]);
    const double mse = se / static_cast<double>(a.v.size());
    return mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99.0;
}

struct Scores {
    double ssim;
    double psnr;
};

// Blurs, samples and compares; `darkest` is the densest glyph's cell mean in
// the space the planes are in (gray levels, or linear light when `linear`).
Scores compare(const Plane& picture, const Plane& text, int32_t cell, double darkest, bool linear)
{
    Plane p = sampleSquares(blur(picture, cell), cell);
    Plane t = sampleSquares(blur(text, cell), cell);
    const double white = linear ? 1.0 : 255.0;
    for (double& v : t.v)
        v = std::max(0.0, (v - darkest) / (white - darkest) * white);
    if (linear) {
        for (double& v : p.v)
            v = fromLinear(v);
        for (double& v : t.v)
            v = fromLinear(v);
    }
    return Scores{meanSsim(p, t), psnr(p, t)};
}

// --- coloured text ---------------------------------------------------------

using morvel::cli::Rgb;

// One character cell as a terminal shows it.
struct Cell {
    char code;
    Rgb ink;
    Rgb ground;
};

// The colours in force while a terminal reads the text.
struct SgrState {
    Rgb defaultInk, defaultGround;
    Rgb ink, ground;
    bool reverse = false;
};

Rgb paletteColour(int index)
{
    return morvel::cli::colourOfKey(static_cast<uint32_t>(std::clamp(index, 0, 255)),
                                    morvel::cli::ColourMode::Palette256);
}

// An extended colour (5;N or 2;R;G;B) from p[i + 1] on; `i` is left on its
// last parameter.
Rgb extendedColour(const std::vector<int>& p, size_t& i, Rgb unchanged)
{
    if (i + 2 < p.size() && p[i + 1] == 5) {
        i += 2;
        return paletteColour(p[i]);
    }
    if (i + 4 < p.size() && p[i + 1] == 2) {
        const Rgb c{static_cast<uint8_t>(std::clamp(p[i + 2], 0, 255)),
                    static_cast<uint8_t>(std::clamp(p[i + 3], 0, 255)),
                    static_cast<uint8_t>(std::clamp(p[i + 4], 0, 255))};
        i += 4;
        return c;
    }
    i = p.size();
    return unchanged;
}

// The parameters of one SGR sequence ("" is 0).
void applySgr(const std::string& text, SgrState& state)
{
    std::vector<int> p;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ';');)
        p.push_back(item.empty() ? 0 : std::atoi(item.c_str()));
    if (p.empty())
        p.push_back(0);
    for (size_t i = 0; i < p.size(); ++i) {
        const int v = p[i];
        if (v == 0) {
            state.ink = state.defaultInk;
            state.ground = state.defaultGround;
            state.reverse = false;
        } else if (v == 7 || v == 27) {
            state.reverse = v == 7;
        } else if (v >= 30 && v <= 37) {
            state.ink = paletteColour(v - 30);
        } else if (v >= 90 && v <= 97) {
            state.ink = paletteColour(v - 90 + 8);
        } else if (v >= 40 && v <= 47) {
            state.ground = paletteColour(v - 40);
        } else if (v >= 100 && v <= 107) {
            state.ground = paletteColour(v - 100 + 8);
        } else if (v == 39) {
            state.ink = state.defaultInk;
        } else if (v == 49) {
            state.ground = state.defaultGround;
        } else if (v == 38) {
            state.ink = extendedColour(p, i, state.ink);
        } else if (v == 48) {
            state.ground = extendedColour(p, i, state.ground);
        }
    }
}

// The cells of each line of `bytes` as a terminal on `ink` / `ground`
// shows them; trailing blank lines dropped.
std::vector<std::vector<Cell>> parseColourText(const std::string& bytes, Rgb ink, Rgb ground)
{
    SgrState state{ink, ground, ink, ground, false};
    std::vector<std::vector<Cell>> lines(1);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\x1b' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
            size_t end = i + 2;
            while (end < bytes.size() && (bytes[end] < 0x40 || bytes[end] > 0x7e))
                ++end;
            const std::string params = bytes.substr(i + 2, end - i - 2);
            if (end < bytes.size() && bytes[end] == 'm' && params.find_first_not_of("0123456789;") == std::string::npos)
                applySgr(params, state);
            i = end;
        } else if (c == '\x1b' && i + 1 < bytes.size() && bytes[i + 1] == ']') {
            // An operating system command, up to BEL or ST.
            while (i < bytes.size() && bytes[i] != '\a' && !(bytes[i] == '\\' && bytes[i - 1] == '\x1b'))
                ++i;
        } else if (c == '\x1b') {
            ++i;
        } else if (c == '\n') {
            lines.emplace_back();
        } else if (c >= 32 && c <= 126) {
            lines.back().push_back(state.reverse ? Cell{c, state.ground, state.ink} : Cell{c, state.ink, state.ground});
        }
    }
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

struct Lab {
    double l, a, b;
};

Lab labOfLinear(double r, double g, double b)
{
    auto f = [](double t) {
        constexpr double d = 6.0 / 29.0;
        return t > d * d * d ? std::cbrt(t) : t / (3 * d * d) + 4.0 / 29.0;
    };
    const double x = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / 0.95047;
    const double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
    const double z = (0.0193339 * r + 0.1191920 * g + 0.9503041 * b) / 1.08883;
    return {116 * f(y) - 16, 500 * (f(x) - f(y)), 200 * (f(y) - f(z))};
}

// Three linear-light planes, blurred and sampled as seen from afar, in Lab.
std::array<Plane, 3> labSeenFromAfar(const std::array<Plane, 3>& rgb, int32_t cell)
{
    std::array<Plane, 3> seen;
    for (size_t k = 0; k < 3; ++k)
        seen[k] = sampleSquares(blur(rgb[k], cell), cell);
    std::array<Plane, 3> lab = seen;
    for (size_t i = 0; i < seen[0].v.size(); ++i) {
        const Lab c = labOfLinear(seen[0].v[i], seen[1].v[i], seen[2].v[i]);
        lab[0].v[i] = c.l;
        lab[1].v[i] = c.a;
        lab[2].v[i] = c.b;
    }
    return lab;
}

// Channel k (0 red, 1 green, 2 blue) of `c`.
double channel(Rgb c, size_t k)
{
    return k == 0 ? c.red : k == 1 ? c.green : c.blue;
}

// The rendered coloured text in linear light, each glyph pixel its ink and
// ground mixed by the glyph's cover on the stored values.
std::array<Plane, 3> renderColourText(const std::vector<std::vector<Cell>>& lines, const morvel::AtlasView& view,
                                      int32_t width, Rgb ground)
{
    const int32_t h = view.cellHeight;
    std::array<Plane, 3> out;
    for (size_t k = 0; k < 3; ++k)
        out[k] = planeOf(width, static_cast<int32_t>(lines.size()) * h, toLinear(channel(ground, k)));
    for (size_t l = 0; l < lines.size(); ++l) {
        int32_t x = 0;
        for (const Cell& cell : lines[l]) {
            const morvel::GlyphEntry& g = view.glyphs[static_cast<unsigned char>(cell.code) - 32];
            for (int32_t r = 0; r < h; ++r)
                for (int32_t j = 0; j < g.width && x + j < width; ++j) {
                    const double cover = 1.0 - view.atlas->rows[g.top + r][view.margin + j] / 255.0;
                    for (size_t k = 0; k < 3; ++k)
                        out[k].at(x + j, static_cast<int32_t>(l) * h + r) =
                            toLinear(cover * channel(cell.ink, k) + (1 - cover) * channel(cell.ground, k));
                }
            x += g.width;
        }
    }
    return out;
}

int fail(const std::string& message);

// Scores coloured text (see the top of the file); `dark`: the terminal's
// own colours are white on black.
int runColour(const morvel::AtlasView& view, const std::string& picturePath, const std::string& textPath, bool dark,
              const std::string& save)
{
    std::ifstream in(textPath, std::ios::binary);
    if (!in)
        return fail("cannot read " + textPath);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const Rgb white{255, 255, 255}, black{0, 0, 0};
    const Rgb ground = dark ? black : white;
    const auto lines = parseColourText(bytes, dark ? white : black, ground);
    int32_t width = 0;
    for (const auto& line : lines) {
        int32_t w = 0;
        for (const Cell& c : line)
            w += view.glyphs[static_cast<unsigned char>(c.code) - 32].width;
        width = std::max(width, w);
    }
    const int32_t height = static_cast<int32_t>(lines.size()) * view.cellHeight;
    const int32_t cell = view.maxGlyphWidth;
    if (width < 11 * cell || height < 11 * cell)
        return fail("text too small to score");
    const std::array<Plane, 3> text = renderColourText(lines, view, width, ground);
    if (!save.empty()) {
        std::ofstream ppm(save, std::ios::binary);
        ppm << "P6\n" << width << " " << height << "\n255\n";
        for (size_t i = 0; i < text[0].v.size(); ++i)
            for (size_t k = 0; k < 3; ++k)
                ppm.put(static_cast<char>(std::lround(fromLinear(text[k].v[i]))));
    }

    morvel::LoadOptions options;
    options.colour = true;
    options.fit = [width, height](int32_t, int32_t) { return std::optional<morvel::PictureSize>({width, height}); };
    morvel::LoadResult loaded = morvel::readPicture(picturePath, options);
    if (!loaded.colour || loaded.colour->header.biWidth != width || loaded.colour->rowCount != height)
        return fail("cannot read picture " + picturePath + " in colour at the text's size");
    std::array<Plane, 3> picture;
    for (size_t k = 0; k < 3; ++k) {
        picture[k] = planeOf(width, height, 0);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                picture[k].at(x, y) = toLinear(loaded.colour->rows[y][x * 3 + static_cast<int32_t>(k)]);
    }
    const std::array<Plane, 3> p = labSeenFromAfar(picture, cell);
    const std::array<Plane, 3> t = labSeenFromAfar(text, cell);
    double ssim[3];
    for (size_t k = 0; k < 3; ++k)
        ssim[k] = meanSsim(p[k], t[k], 100.0);
    double difference = 0;
    for (size_t i = 0; i < p[0].v.size(); ++i)
        difference += std::sqrt((p[0].v[i] - t[0].v[i]) * (p[0].v[i] - t[0].v[i]) +
                                (p[1].v[i] - t[1].v[i]) * (p[1].v[i] - t[1].v[i]) +
                                (p[2].v[i] - t[2].v[i]) * (p[2].v[i] - t[2].v[i]));
    difference /= static_cast<double>(p[0].v.size());
    std::printf("%.4f %.4f %.4f %.4f %.3f\n", 0.8 * ssim[0] + 0.1 * ssim[1] + 0.1 * ssim[2], ssim[0], ssim[1], ssim[2],
                difference);
    return 0;
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "morvel-quality: %s\n", message.c_str());
    return 1;
}

int usage()
{
    std::fprintf(stderr, "usage: morvel-quality [--colour [--background light|dark]] [--font FACE] [--points N] [--dpi "
                         "N] [--save PGM] PICTURE TEXT\n");
    return 2;
}

int run(int argc, char** argv)
{
    std::string face = "Lucida Console";
    int points = 9;
    int dpi = 96;
    std::string save;
    bool colour = false;
    bool dark = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--colour") {
            colour = true;
        } else if ((a == "--font" || a == "--points" || a == "--dpi" || a == "--save" || a == "--background") &&
                   i + 1 < argc) {
            const std::string value = argv[++i];
            if (a == "--background")
                dark = value == "dark";
            else if (a == "--save")
                save = value;
            else if (a == "--font")
                face = value;
            else if (a == "--points")
                points = std::atoi(value.c_str());
            else
                dpi = std::atoi(value.c_str());
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2)
        return usage();

    morvel::TextEngine engine(nullptr, dpi);
    if (!engine.setDefaultFont(face, points, 400))
        return fail("no font");
    engine.buildGlyphAtlas();  // unblurred: the glyphs as they are printed
    const morvel::AtlasView view = engine.atlasView();
    if (!view.atlas)
        return fail("no atlas");
    if (colour)
        return runColour(view, files[0], files[1], dark, save);
    const int32_t h = view.cellHeight;

    std::ifstream in(files[1], std::ios::binary);
    if (!in)
        return fail("cannot read " + files[1]);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    while (!lines.empty() && lines.back().find_first_not_of(' ') == std::string::npos)
        lines.pop_back();
    auto glyphOf = [&](char c) -> const morvel::GlyphEntry& {
        const int code = static_cast<unsigned char>(c);
        return view.glyphs[code >= 32 && code <= 126 ? code - 32 : 0];
    };
    int32_t width = 0;
    for (const std::string& line : lines) {
        int32_t w = 0;
        for (char c : line)
            w += glyphOf(c).width;
        width = std::max(width, w);
    }
    const int32_t height = static_cast<int32_t>(lines.size()) * h;
    const int32_t cell = view.maxGlyphWidth;
    if (width < 11 * cell || height < 11 * cell)
        return fail("text too small to score");

    // The text as printed, and the densest glyph's cell mean.
    Plane text = planeOf(width, height, 255);
    for (size_t l = 0; l < lines.size(); ++l) {
        int32_t x = 0;
        for (char c : lines[l]) {
            const morvel::GlyphEntry& g = glyphOf(c);
            for (int32_t r = 0; r < h; ++r)
                for (int32_t j = 0; j < g.width; ++j)
                    text.at(x + j, static_cast<int32_t>(l) * h + r) = view.atlas->rows[g.top + r][view.margin + j];
            x += g.width;
        }
    }
    if (!save.empty()) {
        std::ofstream pgm(save, std::ios::binary);
        pgm << "P5\n" << width << " " << height << "\n255\n";
        for (double v : text.v)
            pgm.put(static_cast<char>(static_cast<uint8_t>(v)));
    }
    double darkest = 255, darkestLinear = 1;
    for (int32_t k = 0; k < view.glyphCount; ++k) {
        const morvel::GlyphEntry& g = view.glyphs[k];
        if (g.width <= 0)
            continue;
        double s = 0, sl = 0;
        for (int32_t r = 0; r < h; ++r)
            for (int32_t j = 0; j < g.width; ++j) {
                const uint8_t v = view.atlas->rows[g.top + r][view.margin + j];
                s += v;
                sl += toLinear(v);
            }
        darkest = std::min(darkest, s / (h * g.width));
        darkestLinear = std::min(darkestLinear, sl / (h * g.width));
    }

    morvel::ImageHandle source = morvel::loadPicture(files[0]);
    if (!source)
        return fail("cannot read picture " + files[0]);
    morvel::ImageHandle scaled = morvel::resizeGray(*source, width, height);
    if (!scaled)
        return fail("cannot scale the picture");
    Plane picture = planeOf(width, height, 0);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            picture.at(x, y) = scaled->rows[y][x];

    const Scores gray = compare(picture, text, cell, darkest, false);
    for (double& v : picture.v)
        v = toLinear(v);
    for (double& v : text.v)
        v = toLinear(v);
    const Scores linear = compare(picture, text, cell, darkestLinear, true);
    std::printf("%.3f %.2f %.3f %.2f\n", gray.ssim, gray.psnr, linear.ssim, linear.psnr);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const int status = run(argc, argv);
    morvel::releaseFontSystem();
    return status;
}
