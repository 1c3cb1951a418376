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

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

double meanSsim(const Plane& a, const Plane& b)
{
    const int radius = 5;
    const std::vector<double> k = gaussianKernel(1.5, radius);
    const double c1 = (0.01 * 255) * (0.01 * 255);
    const double c2 = (0.03 * 255) * (0.03 * 255);
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

int fail(const std::string& message)
{
    std::fprintf(stderr, "morvel-quality: %s\n", message.c_str());
    return 1;
}

int usage()
{
    std::fprintf(stderr, "usage: morvel-quality [--font FACE] [--points N] [--dpi N] [--save PGM] PICTURE TEXT\n");
    return 2;
}

int run(int argc, char** argv)
{
    std::string face = "Lucida Console";
    int points = 9;
    int dpi = 96;
    std::string save;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--font" || a == "--points" || a == "--dpi" || a == "--save") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (a == "--save")
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
