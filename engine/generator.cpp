#include "engine/generator.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace morvel {

int32_t correlationScore(const ImageRecord& working, const AtlasView& glyphs, int32_t x, int32_t y)
{
    const ImageRecord& atlas = *glyphs.atlas;
    const int32_t h = glyphs.cellHeight;
    double best = -1.0;
    int32_t bestIndex = -1;
    for (int32_t g = 0; g < glyphs.glyphCount; ++g) {
        const GlyphEntry& entry = glyphs.glyphs[g];
        double a2 = 0.0;
        double p2 = 0.0;
        double ap = 0.0;
        for (int32_t r = 0; r < h; ++r) {
            const uint8_t* picture = working.rows[y + r] + x;
            const uint8_t* glyph = atlas.rows[entry.top + r] + glyphs.margin;
            for (int32_t j = 0; j < entry.width; ++j) {
                const double a = glyph[j];
                const double p = picture[j];
                a2 += a * a;
                p2 += p * p;
                ap += a * p;
            }
        }
        const double score = (ap * ap) / (a2 * p2);
        // Strict, and false for 0 / 0: a tie keeps the lower code and an
        // undefined score never wins.
        if (score > best) {
            best = score;
            bestIndex = g;
        }
    }
    return bestIndex < 0 ? 0 : bestIndex;
}

int32_t differenceScore(const ImageRecord& working, const AtlasView& glyphs, int32_t x, int32_t y)
{
    const ImageRecord& atlas = *glyphs.atlas;
    const int32_t h = glyphs.cellHeight;
    double best = 100000000.0;
    int32_t bestIndex = -1;
    for (int32_t g = 0; g < glyphs.glyphCount; ++g) {
        const GlyphEntry& entry = glyphs.glyphs[g];
        int64_t difference = 0;
        for (int32_t r = 0; r < h; ++r) {
            const uint8_t* picture = working.rows[y + r] + x;
            const uint8_t* glyph = atlas.rows[entry.top + r] + glyphs.margin;
            for (int32_t j = 0; j < entry.width; ++j) {
                const int32_t d = picture[j] - glyph[j];
                difference += d < 0 ? -d : d;
            }
        }
        // A glyph without width gives 0 / 0, which never wins.
        const double score = static_cast<double>(difference) / static_cast<double>(int64_t{h} * entry.width);
        if (score < best) {
            best = score;
            bestIndex = g;
        }
    }
    return bestIndex < 0 ? 0 : bestIndex;
}

int32_t bandCount(int32_t height, int32_t cellHeight)
{
    if (cellHeight <= 0 || height <= cellHeight)
        return 0;
    return (height - cellHeight - 1) / cellHeight + 1;
}

int64_t textBytesUpperBound(const ImageRecord& working, const AtlasView& glyphs)
{
    return textBytesUpperBound(working.header.biWidth, working.rowCount, glyphs);
}

int64_t textBytesUpperBound(int32_t width, int32_t height, const AtlasView& glyphs)
{
    const int64_t lines = bandCount(height, glyphs.cellHeight);
    if (lines == 0)
        return 0;
    const int64_t perLine = lineCharactersUpperBound(width, glyphs.glyphs, glyphs.glyphCount, glyphs.maxGlyphWidth);
    return lines * (perLine + 2);
}

int64_t lineCharactersUpperBound(int32_t width, const GlyphEntry* glyphs, int32_t glyphCount, int32_t maxGlyphWidth)
{
    constexpr int64_t none = std::numeric_limits<int64_t>::max();
    int64_t narrowest = none;
    for (int32_t g = 0; g < glyphCount; ++g)
        narrowest = std::min<int64_t>(narrowest, std::max<int32_t>(glyphs[g].width, 1));
    if (narrowest == none)
        narrowest = 1;
    const int64_t span = std::max<int64_t>(0, int64_t{width} - maxGlyphWidth);
    return (span + narrowest - 1) / narrowest;
}

std::string formatFooter(const TextFooter& footer)
{
    char numbers[96];
    std::string text = "\r\n\r\n";
    text += footer.displayName;
    text += "\r\n";
    std::snprintf(numbers, sizeof numbers, "%d Point ", static_cast<int>(footer.pointSize));
    text += numbers;
    text += footer.faceName;
    text += "\r\n";
    std::snprintf(numbers, sizeof numbers, "(Blur %d, Black Level %d)\r\n", static_cast<int>(footer.blurCount),
                  static_cast<int>(footer.blackLevel));
    text += numbers;
    return text;
}

GeneratedText generateText(const ImageRecord& working, const AtlasView& glyphs, MatchMode mode,
                           const TextFooter* footer, const LineCallback& onLine)
{
    GeneratedText result;
    // A picture or atlas the choosers cannot read safely gives no lines.
    const bool usable =
        working.rows && working.header.biBitCount == 8 && atlasViewIsUsable(glyphs) && mode != MatchMode::Tone;
    if (usable) {
        auto* const chooser = mode == MatchMode::Correlation ? &correlationScore : &differenceScore;
        const int32_t width = working.header.biWidth;
        const int32_t height = working.rowCount;
        const int32_t h = glyphs.cellHeight;
        const int32_t m = glyphs.maxGlyphWidth;
        for (int32_t y = 0; y < height - h; y += h) {
            int32_t x = 0;
            int32_t n = 0;
            while (x < width - m) {
                const GlyphEntry& entry = glyphs.glyphs[chooser(working, glyphs, x, y)];
                result.text += static_cast<char>(entry.code);
                // A glyph measured 0 wide still moves on by one pixel, or
                // the line would never end.
                x += entry.width > 0 ? entry.width : 1;
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
