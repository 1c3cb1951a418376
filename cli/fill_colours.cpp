#include "cli/fill_colours.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

namespace morvel::cli {
namespace {

// The least lightness apart that ink and ground are given where there is
// room.
constexpr double kLeastApart = 15.0;
// The lightness apart from which the picture under the ink and under the
// paper says which of the two is lighter.
constexpr double kLeaning = 2.0;
// Coverage is taken within these bounds: below, a glyph shows no ink; above,
// the ground would have to carry an impossible share.
constexpr double kNoInk = 0.002;
constexpr double kMostInk = 0.95;
// A palette pair's candidates: the entries nearest each colour wanted, so
// many of each; and the weight of an entry's distance from the colour
// wanted for it against that of the mix from the cell's mean.
constexpr size_t kPairCandidates = 12;
constexpr double kLikeness = 0.01;
// The pairs best to first order that are weighed exactly.
constexpr size_t kShortlist = 40;

struct Linear {
    double r, g, b;
};

double linearOf(uint8_t sample)
{
    static const std::array<double, 256> table = [] {
        std::array<double, 256> t{};
        for (size_t i = 0; i < t.size(); ++i) {
            const double v = static_cast<double>(i) / 255.0;
            t[i] = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        }
        return t;
    }();
    return table[sample];
}

Linear linearOf(Rgb c)
{
    return {linearOf(c.red), linearOf(c.green), linearOf(c.blue)};
}

uint8_t sampleOf(double linear)
{
    linear = std::clamp(linear, 0.0, 1.0);
    const double v = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    return static_cast<uint8_t>(std::lround(v * 255.0));
}

Rgb rgbOf(Linear c)
{
    return {sampleOf(c.r), sampleOf(c.g), sampleOf(c.b)};
}

double luminanceOf(Linear c)
{
    return 0.2126729 * c.r + 0.7151522 * c.g + 0.0721750 * c.b;
}

// CIE L* of a relative luminance.
double lightnessOf(double y)
{
    constexpr double delta = 6.0 / 29.0;
    const double f = y > delta * delta * delta ? std::cbrt(y) : y / (3 * delta * delta) + 4.0 / 29.0;
    return 116 * f - 16;
}

// One way of parting ink and ground, by an amount a from 0 to `most`:
// a dark ink is the mean scaled down by (1 - a) and its ground scaled up by
// (1 + k a); a light ink is moved a of the way to white and its ground
// k a of the way to black; k = coverage / (1 - coverage) keeps the mix.
struct Parting {
    bool lightInk;
    double k;
    double most;

    Linear ink(Linear m, double a) const
    {
        if (lightInk)
            return {m.r + a * (1 - m.r), m.g + a * (1 - m.g), m.b + a * (1 - m.b)};
        return {m.r * (1 - a), m.g * (1 - a), m.b * (1 - a)};
    }
    Linear ground(Linear m, double a) const
    {
        const double b = k * a;
        if (lightInk)
            return {m.r - b * (1 - m.r), m.g - b * (1 - m.g), m.b - b * (1 - m.b)};
        return {m.r * (1 + b), m.g * (1 + b), m.b * (1 + b)};
    }
    // The lightness between the two, which grows with a.
    double apart(double y, double a) const
    {
        const double b = k * a;
        return lightInk ? lightnessOf(y + a * (1 - y)) - lightnessOf(y - b * (1 - y))
                        : lightnessOf(y * (1 + b)) - lightnessOf(y * (1 - a));
    }
};

// The parting one way for the mean `m`: how far it may go before a channel
// of the ground leaves 0..1 (the ink never does).
Parting partingFor(Linear m, double k, bool lightInk)
{
    double most = 1.0;
    for (const double v : {m.r, m.g, m.b}) {
        if (lightInk && v < 1)
            most = std::min(most, v / ((1 - v) * k));
        if (!lightInk && v > 0)
            most = std::min(most, (1 / v - 1) / k);
    }
    if (!lightInk && std::max({m.r, m.g, m.b}) <= 0)
        most = 0;
    return {lightInk, k, std::max(most, 0.0)};
}

}  // namespace

GlyphInk glyphInkOf(const AtlasView& unblurred)
{
    GlyphInk ink;
    if (!atlasViewIsUsable(unblurred))
        return ink;
    ink.cellHeight = unblurred.cellHeight;
    for (int32_t g = 0; g < unblurred.glyphCount; ++g) {
        const GlyphEntry& entry = unblurred.glyphs[g];
        if (entry.code < 0 || entry.code >= 128 || entry.width <= 0)
            continue;
        const auto code = static_cast<size_t>(entry.code);
        std::vector<float>& cover = ink.cover[code];
        double sum = 0;
        for (int32_t r = 0; r < ink.cellHeight; ++r)
            for (int32_t j = 0; j < entry.width; ++j) {
                const float v =
                    1.0f - static_cast<float>(unblurred.atlas->rows[entry.top + r][unblurred.margin + j]) / 255.0f;
                cover.push_back(v);
                sum += v;
            }
        ink.width[code] = entry.width;
        ink.share[code] = sum / static_cast<double>(cover.size());
    }
    return ink;
}

CellFill partedFill(Rgb mean, double coverage, bool lightInk, double apart)
{
    if (coverage < kNoInk)
        return {mean, mean};
    const double c = std::min(coverage, kMostInk);
    const Linear m = linearOf(mean);
    const double y = luminanceOf(m);
    const double k = c / (1 - c);
    Parting way = partingFor(m, k, lightInk);
    const Parting other = partingFor(m, k, !lightInk);
    const double room = way.apart(y, way.most);
    if (room < apart && other.apart(y, other.most) > room)
        way = other;
    // The smallest amount that parts them by `apart`, or all there is.
    double a = way.most;
    if (way.apart(y, a) > apart) {
        double low = 0, high = a;
        for (int i = 0; i < 30; ++i) {
            const double middle = (low + high) / 2;
            (way.apart(y, middle) < apart ? low : high) = middle;
        }
        a = high;
    }
    if (a <= 0)
        return {mean, mean};
    return {rgbOf(way.ink(m, a)), rgbOf(way.ground(m, a))};
}

namespace {

// The offset inside a cell starting at `start` and `size` long of the
// walked-picture position under colour pixel `at`.
int64_t offsetInCell(int64_t at, int64_t start, int64_t size, int64_t contentSize, int64_t colourSize)
{
    return std::clamp((2 * at + 1) * contentSize / (2 * colourSize) - start, int64_t{0}, size - 1);
}

// Sums over one cell's pixels, with x a pixel's colour in linear light and
// a the glyph's cover of it: of x, of a x, of 1, of a and of a a.
struct CellSums {
    double all[3] = {0, 0, 0};
    double inked[3] = {0, 0, 0};
    double count = 0;
    double cover = 0;
    double coverSquared = 0;
};

// The ink i and ground g of channel `k` whose mix a i + (1 - a) g comes
// nearest, in squares summed over the cell's pixels, to the picture there:
// the solution of the normal equations, or where the cover is the same
// everywhere (and they have none) the mean for both. The mix of the two
// over the cell is its mean colour; where one leaves 0..1 it is held at
// the bound and the other keeps the mean as far as it can.
std::pair<double, double> inkAndGround(const CellSums& s, size_t k)
{
    const double mean = s.all[k] / s.count;
    const double paper = s.count - s.cover;
    const double aa = s.coverSquared;
    const double ag = s.cover - s.coverSquared;
    const double gg = paper - ag;
    const double ax = s.inked[k];
    const double gx = s.all[k] - s.inked[k];
    const double det = aa * gg - ag * ag;
    if (det <= 1e-9 * s.count * s.count || paper <= 1e-9)
        return {mean, mean};
    double ink = (gg * ax - ag * gx) / det;
    double ground = (aa * gx - ag * ax) / det;
    if (ink < 0 || ink > 1) {
        ink = std::clamp(ink, 0.0, 1.0);
        ground = std::clamp((s.all[k] - ink * s.cover) / paper, 0.0, 1.0);
    } else if (ground < 0 || ground > 1) {
        ground = std::clamp(ground, 0.0, 1.0);
        ink = std::clamp((s.all[k] - ground * paper) / s.cover, 0.0, 1.0);
    }
    return {ink, ground};
}

// The colours as `mode` shows them: for the palettes the entries nearest
// to each.
CellFill shownFill(CellFill fill, ColourMode mode)
{
    if (mode == ColourMode::TrueColour)
        return fill;
    return {colourOfKey(colourKey(fill.ink, mode), mode), colourOfKey(colourKey(fill.ground, mode), mode)};
}

Lab labOf(Linear c)
{
    return labOfLinear(c.r, c.g, c.b);
}

double distanceSquared(Lab p, Lab q)
{
    return (p.l - q.l) * (p.l - q.l) + (p.a - q.a) * (p.a - q.a) + (p.b - q.b) * (p.b - q.b);
}

// How CIE Lab changes near `c` with each linear channel (central
// differences): a colour d away from c in linear light lies about
// d.r slopes[0] + d.g slopes[1] + d.b slopes[2] away in Lab.
std::array<Lab, 3> labSlopes(Linear c)
{
    constexpr double h = 1e-4;
    std::array<Lab, 3> slopes{};
    for (size_t k = 0; k < 3; ++k) {
        Linear up = c, down = c;
        (k == 0 ? up.r : k == 1 ? up.g : up.b) += h;
        (k == 0 ? down.r : k == 1 ? down.g : down.b) -= h;
        const Lab p = labOf(up), q = labOf(down);
        slopes[k] = {(p.l - q.l) / (2 * h), (p.a - q.a) / (2 * h), (p.b - q.b) / (2 * h)};
    }
    return slopes;
}

// A palette's entries, in linear light and in CIE Lab.
struct PaletteEntry {
    Rgb rgb;
    Linear linear;
    Lab lab;
};

std::vector<PaletteEntry> entriesOf(ColourMode mode, uint32_t first, uint32_t last)
{
    std::vector<PaletteEntry> entries;
    for (uint32_t key = first; key < last; ++key) {
        const Rgb rgb = colourOfKey(key, mode);
        entries.push_back({rgb, linearOf(rgb), labOf(linearOf(rgb))});
    }
    return entries;
}

const std::vector<PaletteEntry>& paletteEntries(ColourMode mode)
{
    static const std::vector<PaletteEntry> sixteen = entriesOf(ColourMode::Palette16, 0, 16);
    static const std::vector<PaletteEntry> cube = entriesOf(ColourMode::Palette256, 16, 256);
    return mode == ColourMode::Palette16 ? sixteen : cube;
}

// Appends to `out` the indices of the `count` entries nearest `target`
// (all of them when there are no more).
void addNearest(const std::vector<PaletteEntry>& entries, Lab target, size_t count, std::vector<size_t>& out)
{
    std::vector<std::pair<double, size_t>> distances;
    distances.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        distances.emplace_back(distanceSquared(entries[i].lab, target), i);
    count = std::min(count, distances.size());
    std::partial_sort(distances.begin(), distances.begin() + static_cast<std::ptrdiff_t>(count), distances.end());
    for (size_t i = 0; i < count; ++i)
        out.push_back(distances[i].second);
}

// The palette pair of a cell whose glyph covers `share` of it: the entries
// whose mix comes nearest the cell's mean colour in CIE Lab, each also
// weighed, lightly, by how near it is to the colour wanted for it (`ink`,
// `ground`), so that of pairs that mix alike the one that draws what the
// picture does inside the cell wins. The candidates: for 16 colours all,
// for 256 those nearest the mean, the ink and the ground. Two entries
// mixed reach colours that neither reaches alone, so the cell keeps its
// colour far better than with the entry nearest each.
CellFill palettePair(Linear mean, double share, Linear ink, Linear ground, ColourMode mode)
{
    const std::vector<PaletteEntry>& entries = paletteEntries(mode);
    const Lab meanLab = labOf(mean), inkLab = labOf(ink), groundLab = labOf(ground);
    std::vector<size_t> inks, grounds;
    addNearest(entries, inkLab, kPairCandidates, inks);
    addNearest(entries, meanLab, kPairCandidates, inks);
    addNearest(entries, groundLab, kPairCandidates, grounds);
    addNearest(entries, meanLab, kPairCandidates, grounds);
    for (std::vector<size_t>* list : {&inks, &grounds}) {
        std::sort(list->begin(), list->end());
        list->erase(std::unique(list->begin(), list->end()), list->end());
    }
    const std::array<Lab, 3> slopes = labSlopes(mean);
    struct Pair {
        double cost, likeness;
        size_t ink, ground;
    };
    std::vector<Pair> pairs;
    pairs.reserve(inks.size() * grounds.size());
    for (const size_t i : inks) {
        const PaletteEntry& p = entries[i];
        const double inkCost = share * distanceSquared(p.lab, inkLab);
        for (const size_t g : grounds) {
            const PaletteEntry& q = entries[g];
            // The mix's distance from the mean, in Lab to first order.
            const double dr = share * p.linear.r + (1 - share) * q.linear.r - mean.r;
            const double dg = share * p.linear.g + (1 - share) * q.linear.g - mean.g;
            const double db = share * p.linear.b + (1 - share) * q.linear.b - mean.b;
            const Lab off = {dr * slopes[0].l + dg * slopes[1].l + db * slopes[2].l,
                             dr * slopes[0].a + dg * slopes[1].a + db * slopes[2].a,
                             dr * slopes[0].b + dg * slopes[1].b + db * slopes[2].b};
            const double likeness = kLikeness * (inkCost + (1 - share) * distanceSquared(q.lab, groundLab));
            pairs.push_back({distanceSquared(off, Lab{0, 0, 0}) + likeness, likeness, i, g});
        }
    }
    // The few best to first order, weighed again exactly.
    const auto shortlist = pairs.begin() + static_cast<std::ptrdiff_t>(std::min(kShortlist, pairs.size()));
    std::partial_sort(pairs.begin(), shortlist, pairs.end(),
                      [](const Pair& x, const Pair& y) { return x.cost < y.cost; });
    double best = std::numeric_limits<double>::max();
    CellFill fill{entries[pairs[0].ink].rgb, entries[pairs[0].ground].rgb};
    for (auto pair = pairs.begin(); pair != shortlist; ++pair) {
        const PaletteEntry& p = entries[pair->ink];
        const PaletteEntry& q = entries[pair->ground];
        const Linear mix = {share * p.linear.r + (1 - share) * q.linear.r,
                            share * p.linear.g + (1 - share) * q.linear.g,
                            share * p.linear.b + (1 - share) * q.linear.b};
        const double cost = distanceSquared(labOf(mix), meanLab) + pair->likeness;
        if (cost < best) {
            best = cost;
            fill = {p.rgb, q.rgb};
        }
    }
    return fill;
}

// A cell's fill from its sums: the ink and ground that reproduce the
// picture under the cell best, or, where those are too alike, the mean
// parted.
CellFill fillOfSums(const CellSums& sums, bool lightInk, ColourMode mode)
{
    const Linear mean = {sums.all[0] / sums.count, sums.all[1] / sums.count, sums.all[2] / sums.count};
    const double share = sums.cover / sums.count;
    if (share < kNoInk)
        return shownFill({rgbOf(mean), rgbOf(mean)}, mode);
    const auto [inkRed, groundRed] = inkAndGround(sums, 0);
    const auto [inkGreen, groundGreen] = inkAndGround(sums, 1);
    const auto [inkBlue, groundBlue] = inkAndGround(sums, 2);
    const Linear inked = {inkRed, inkGreen, inkBlue};
    const Linear bare = {groundRed, groundGreen, groundBlue};
    if (mode != ColourMode::TrueColour)
        return palettePair(mean, share, inked, bare, mode);
    CellFill fill{rgbOf(inked), rgbOf(bare)};
    const double apart = lightnessOf(luminanceOf(inked)) - lightnessOf(luminanceOf(bare));
    // Too alike: parted from the mean, the way the picture leans inside the
    // cell if it leans at all.
    if (std::abs(apart) < kLeastApart)
        fill = partedFill(rgbOf(mean), share, std::abs(apart) >= kLeaning ? apart > 0 : lightInk, kLeastApart);
    return shownFill(fill, mode);
}

}  // namespace

std::vector<CellFill> fillColours(const TextImage& image, const GlyphInk& ink, const ImageRecord& colour, bool lightInk,
                                  ColourMode mode)
{
    const PictureSize content = image.content;
    std::vector<CellFill> fills;
    const int64_t colourWidth = colour.header.biWidth;
    const int64_t colourHeight = colour.rowCount;
    if (mode == ColourMode::None || colour.header.biBitCount != 24 || colour.rows == nullptr || colourWidth < 1 ||
        colourHeight < 1 || content.width < 1 || content.height < 1 || ink.cellHeight < 1)
        return fills;
    const int64_t h = std::max(image.cellHeight, 1);
    fills.reserve(image.cells.size());
    for (const TextCell& cell : image.cells) {
        const int64_t top = cell.y;
        const int64_t x = cell.x;
        const int64_t width = std::max<int64_t>(cell.width, 1);
        const std::vector<float>& cover = ink.cover[static_cast<size_t>(cell.code & 0x7f)];
        // A glyph's cover is read only where it has the cell's shape.
        const bool covered = static_cast<int64_t>(cover.size()) == width * h;
        const Span rows = coveredSpan(top, top + h, content.height, colourHeight);
        const Span columns = coveredSpan(x, x + width, content.width, colourWidth);
        CellSums sums;
        for (int64_t cy = rows.first; cy < rows.last; ++cy) {
            const int64_t r = offsetInCell(cy, top, h, content.height, colourHeight);
            const uint8_t* pixel = colour.rows[cy] + columns.first * 3;
            for (int64_t cx = columns.first; cx < columns.last; ++cx, pixel += 3) {
                const int64_t j = offsetInCell(cx, x, width, content.width, colourWidth);
                const double w = covered ? cover[static_cast<size_t>(r * width + j)] : 0.0;
                for (size_t k = 0; k < 3; ++k) {
                    const double v = linearOf(pixel[k]);
                    sums.all[k] += v;
                    sums.inked[k] += w * v;
                }
                sums.count += 1;
                sums.cover += w;
                sums.coverSquared += w * w;
            }
        }
        fills.push_back(fillOfSums(sums, lightInk, mode));
    }
    return fills;
}

}  // namespace morvel::cli
