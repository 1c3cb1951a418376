#include "engine/tone_match.h"

#include <algorithm>
#include <cmath>

namespace morvel {

std::vector<int64_t> glyphCellSums(const AtlasView& glyphs)
{
    std::vector<int64_t> sums;
    if (!atlasViewIsUsable(glyphs))
        return sums;
    sums.reserve(static_cast<size_t>(glyphs.glyphCount));
    for (int32_t g = 0; g < glyphs.glyphCount; ++g) {
        const GlyphEntry& entry = glyphs.glyphs[g];
        int64_t sum = 0;
        for (int32_t r = 0; r < glyphs.cellHeight; ++r) {
            const uint8_t* row = glyphs.atlas->rows[entry.top + r] + glyphs.margin;
            for (int32_t j = 0; j < entry.width; ++j)
                sum += row[j];
        }
        sums.push_back(sum);
    }
    return sums;
}

std::optional<ToneSetup> makeToneSetup(const AtlasView& glyphs, const std::vector<int64_t>& cellSums,
                                       const std::string& ramp, int32_t blackLevel, double gamma)
{
    if (!atlasViewIsUsable(glyphs) || cellSums.size() != static_cast<size_t>(glyphs.glyphCount))
        return std::nullopt;
    ToneSetup setup;
    setup.cellHeight = glyphs.cellHeight;
    setup.maxGlyphWidth = glyphs.maxGlyphWidth;

    std::vector<bool> taken(static_cast<size_t>(glyphs.glyphCount), false);
    for (const char ch : ramp) {
        const int32_t code = static_cast<unsigned char>(ch);
        for (int32_t g = 0; g < glyphs.glyphCount; ++g) {
            const GlyphEntry& entry = glyphs.glyphs[g];
            if (entry.code != code || entry.width <= 0 || taken[static_cast<size_t>(g)])
                continue;
            taken[static_cast<size_t>(g)] = true;
            const int64_t area = int64_t{glyphs.cellHeight} * entry.width;
            setup.candidates.push_back(
                ToneCandidate{g, code, entry.width, area, toneMean(cellSums[static_cast<size_t>(g)], area), 0});
        }
    }
    if (setup.candidates.empty())
        return std::nullopt;
    std::sort(setup.candidates.begin(), setup.candidates.end(),
              [](const ToneCandidate& a, const ToneCandidate& b) { return a.code < b.code; });

    // The darkest candidate (the first of equal tones), and its mean rounded
    // up: the darkest level the text can show.
    const ToneCandidate* darkest = &setup.candidates.front();
    setup.narrowest = darkest->width;
    for (ToneCandidate& c : setup.candidates) {
        if (c.tone < darkest->tone)
            darkest = &c;
        setup.narrowest = std::min(setup.narrowest, c.width);
        auto found = std::find(setup.groupWidths.begin(), setup.groupWidths.end(), c.width);
        c.group = static_cast<int32_t>(found - setup.groupWidths.begin());
        if (found == setup.groupWidths.end())
            setup.groupWidths.push_back(c.width);
    }
    const int64_t darkestSum = cellSums[static_cast<size_t>(darkest->glyph)];
    const int64_t darkestLevel = std::clamp<int64_t>((darkestSum + darkest->area - 1) / darkest->area, 0, 255);
    // The darkest level the curve gives is that rounded-up mean, so the
    // darkest candidates count as that level: a flat black area (or a flat
    // white one inverted) then asks exactly for the densest character and
    // carries no error, instead of adding the fraction up, cell by cell,
    // until the next denser-looking character wins and scatters over it.
    const int64_t floorTone = darkestLevel << kToneFractionBits;
    for (ToneCandidate& c : setup.candidates)
        c.tone = std::max(c.tone, floorTone);
    setup.darkest = std::max(darkest->tone, floorTone);
    const int32_t low = std::max<int32_t>(std::clamp(blackLevel, 0, 255), static_cast<int32_t>(darkestLevel));
    setup.blackLevel = low;

    // The smoothstep keeps light areas light and shadows dark; gamma below 1
    // lifts the midtones a little.
    const double g = std::clamp(gamma, kMinToneGamma, kMaxToneGamma);
    for (int p = 0; p < 256; ++p) {
        const double u = p / 255.0;
        const double s = u * u * (3.0 - 2.0 * u);
        const double level = low + (255 - low) * std::pow(s, g);
        setup.curve[p] = static_cast<uint8_t>(std::clamp(std::lround(level), 0L, 255L));
    }
    return setup;
}

GeneratedText generateToneText(const ImageRecord& picture, const ToneSetup& setup, const TextFooter* footer,
                               const LineCallback& onLine)
{
    GeneratedText result;
    if (picture.rows && picture.header.biBitCount == 8 && !setup.candidates.empty()) {
        const int32_t width = picture.header.biWidth;
        const int32_t height = picture.rowCount;
        const int32_t h = setup.cellHeight;
        for (int32_t y = 0; y < height - h; y += h) {
            int32_t x = 0;
            int32_t n = 0;
            int64_t error = 0;  // never carried from one band to the next
            while (x < width - setup.maxGlyphWidth) {
                auto meanOf = [&](const ToneCandidate& c) {
                    int64_t sum = 0;
                    for (int32_t r = 0; r < h; ++r)
                        for (int32_t j = 0; j < c.width; ++j)
                            sum += setup.curve[picture.rows[y + r][x + j]];
                    return toneMean(sum, c.area);
                };
                const ToneCandidate& chosen = chooseTone(setup, meanOf, error);
                result.text += static_cast<char>(chosen.code);
                x += chosen.width;
                ++n;
            }
            result.text += "\r\n";
            if (onLine)
                onLine(result.text);
            if (n > result.widest)
                result.widest = n;
        }
    }
    if (footer)
        result.text += formatFooter(*footer);
    return result;
}

}  // namespace morvel
