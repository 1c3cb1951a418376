#include "engine/band_walk.h"

#include <algorithm>

#include "engine/fast_black_level.h"
#include "engine/parallel_walk.h"

namespace morvel {

namespace {

// A band of canvas rows held in `block`: its first `rowCount` rows, seen as
// a picture of their own (the block keeps owning them).
ImageRecord bandOf(const ImageRecord& block, int32_t rowCount)
{
    ImageRecord band = block;
    band.rowCount = rowCount;
    band.header.biHeight = -rowCount;
    band.items = nullptr;
    band.itemCount = 0;
    band.palette = {};
    return band;
}

// Canvas rows first .. first + count - 1 made in `block` (inverted when
// asked), seen as a picture.
ImageRecord makeBand(FittedRows& rows, ImageRecord& block, int32_t first, int32_t count, bool invert)
{
    ImageRecord band = bandOf(block, count);
    rows.fill(first, band);
    if (invert)
        invertGray(band);
    return band;
}

// The lines of one band's walk, without a footer.
GeneratedText walkBand(const ImageRecord& band, const WalkChoice& choice, const uint8_t* table,
                       const LineCallback& onLine)
{
    if (choice.tone)
        return generateToneTextFast(band, *choice.tone, nullptr, onLine, choice.jobs);
    if (choice.matcher != nullptr && choice.matcher->usable())
        return generateTextFast(band, *choice.matcher, choice.mode, nullptr, onLine, choice.jobs, table);
    // Without the prepared glyphs (no memory for them), the plain walk on
    // the stretched band.
    if (table) {
        for (int32_t y = 0; y < band.rowCount; ++y)
            for (int32_t x = 0; x < band.header.biWidth; ++x)
                band.rows[y][x] = table[band.rows[y][x]];
    }
    return generateText(band, *choice.view, choice.mode, nullptr, onLine);
}

}  // namespace

GeneratedText walkFittedCanvas(FittedRows& rows, const WalkChoice& choice, const TextFooter* footer,
                               const LineCallback& onLine, int64_t bandBytes)
{
    GeneratedText result;
    const int32_t h = choice.view->cellHeight;
    const int32_t height = rows.canvasHeight();
    const int32_t lines = bandCount(height, h);
    if (!rows.ready()) {
        result.tooLarge = true;
        return result;
    }
    // A band of n lines is n cells high and one row more: the walk makes a
    // line only while its top is above the band's last cell height.
    const int64_t pitch = imageRowPitch(rows.canvasWidth(), 8);
    const auto linesPerBand = static_cast<int32_t>(std::clamp<int64_t>((bandBytes / pitch - 1) / h, 1, lines));
    const int32_t bandRows = std::min(linesPerBand * h + 1, height);
    ImageHandle block = lines > 0 ? makeGrayImage(rows.canvasWidth(), bandRows) : nullptr;
    if (lines > 0 && !block) {
        result.tooLarge = true;
        return result;
    }
    if (block)
        clearRowFill(*block);

    uint8_t table[256];
    bool stretched = false;
    if (block && !choice.tone) {
        // The stretch takes the range of the whole canvas, rows below the
        // last line included.
        uint8_t lo = 255;
        uint8_t hi = 0;
        for (int32_t first = 0; first < height; first += bandRows)
            foldLevelRange(makeBand(rows, *block, first, std::min(bandRows, height - first), choice.invert), lo, hi);
        stretched = blackLevelTableOfRange(lo, hi, choice.blackLevel, table);
    }
    for (int32_t line = 0; line < lines; line += linesPerBand) {
        const int32_t count = std::min(linesPerBand, lines - line);
        const ImageRecord band = makeBand(rows, *block, line * h, count * h + 1, choice.invert);
        // Each band's lines follow the text of the bands above it.
        const std::string& above = result.text;
        LineCallback seen = onLine;
        if (onLine && !above.empty())
            seen = [&above, &onLine](const std::string& soFar) { onLine(above + soFar); };
        GeneratedText part = walkBand(band, choice, stretched ? table : nullptr, seen);
        if (part.tooLarge) {
            result.tooLarge = true;
            return result;
        }
        result.text += part.text;
        result.widest = std::max(result.widest, part.widest);
    }
    if (footer)
        result.text += formatFooter(*footer);
    return result;
}

}  // namespace morvel
