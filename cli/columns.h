// Fitting the text to a number of columns: the picture size that gives it.
#pragma once

#include <cstdint>
#include <optional>

#include "image/load_picture.h"

namespace morvel::cli {

using morvel::PictureSize;

// How a picture is fitted to a number of columns: scaled (the same factor
// both ways) to `scaled`, then extended at the right and bottom edges to
// `canvas`.
struct ColumnFit {
    PictureSize scaled;
    PictureSize canvas;
};

// The factor the picture's height is scaled by beyond its width's factor so
// that each character covers a part of the picture shaped like the cell it
// is shown in: `cellRatio` (that cell's width over its height) x h / m, for
// glyphs at most m wide in cells h high. 1 for the font's own cell
// (`cellRatio` 0), where picture pixels map one to one to atlas pixels.
double heightFactor(double cellRatio, int32_t maxGlyphWidth, int32_t cellHeight);

// The scaled size with the canvas that lets the walk cover the whole scaled
// picture: one glyph width and one cell height more. None when the canvas
// would pass the picture size limit.
std::optional<ColumnFit> withCanvas(int64_t scaledWidth, int64_t scaledHeight, int32_t maxGlyphWidth,
                                    int32_t cellHeight);

// The fit of a picture of `width` x `height` whose text is to be `columns`
// characters wide, for glyphs at most `maxGlyphWidth` wide and `cellHeight`
// high, shown in cells of `cellRatio` (width over height; 0: the font's own
// cell). The picture is scaled to columns x m pixels wide (m the widest
// glyph) and high in proportion times heightFactor (at least one row): with
// the font's own cell picture pixels map one to one to atlas pixels, so the
// glyph cell's own height-to-width ratio keeps the picture's aspect in the
// text; with another cell the text keeps it where it is shown. The generator places a character only while
// x < width - m and makes a band only while y < height - h, so the canvas adds
// one glyph width and one cell height, repeating the picture's edges: a
// monospaced font then gives exactly `columns` characters, covering the whole
// picture width, and the lines cover the whole picture height, one line more
// at most than its exact proportion. None when an input is below 1 or the
// canvas would pass the picture size limit.
std::optional<ColumnFit> fitToColumns(int32_t width, int32_t height, int32_t columns, int32_t maxGlyphWidth,
                                      int32_t cellHeight, double cellRatio = 0);

// The fit for the most columns, at most `columns`, that fitToColumns allows:
// for --columns auto, where the terminal may be wider than the largest text
// a picture can give. None when not even one column fits.
std::optional<ColumnFit> fitToColumnsAtMost(int32_t width, int32_t height, int32_t columns, int32_t maxGlyphWidth,
                                            int32_t cellHeight, double cellRatio = 0);

}  // namespace morvel::cli
