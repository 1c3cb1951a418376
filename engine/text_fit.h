// The size of the text in characters and lines, and the picture size that
// gives it: the picture is scaled so that, walked in cells of the atlas,
// it makes text of that size.
#pragma once

#include <cstdint>
#include <optional>

#include "image/load_picture.h"

namespace morvel {

// The bounds the text is fitted to, in characters and lines.
struct SizeRule {
    int32_t columns = 0;   // 0: no bound on the width
    int32_t rows = 0;      // 0: no bound on the number of lines
    bool stretch = false;  // with both bounds: fill them exactly, aspect aside
    bool enlarge = true;   // false: a picture that fits is not enlarged
    // The width over the height of the cell the text is shown in; 0: the
    // font's own cell (one picture pixel to one pixel of the font).
    double cellRatio = 0;
    // The width is the terminal's: narrowed to what the picture limit
    // allows rather than refused (a width the user typed is kept or refused).
    bool narrowToLimit = false;
};

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

// The fit of a picture of `width` x `height` to `rule`, for glyphs at most
// `maxGlyphWidth` wide and `cellHeight` high, shown in cells of
// `rule.cellRatio` (the picture's height scaled by heightFactor beyond its
// width's factor):
// - columns alone: as fitToColumns, exactly that many characters (with
//   `narrowToLimit`, as fitToColumnsAtMost);
// - rows alone: the picture scaled to rows x h pixels high, so the text has
//   exactly that many lines, and in proportion wide;
// - both: the larger of the two fits that stays inside both bounds (one is
//   met exactly, the other within it), or with `stretch` both met exactly;
// - neither: the natural size (scaled and canvas both the picture's own
//   size); a picture that fits when `enlarge` is off: its own width, and its
//   height times heightFactor (the natural size in the font's own cell).
// The canvas extends the scaled picture as fitToColumns does. None when an
// input is below 1 or the canvas would pass the picture size limit.
std::optional<ColumnFit> fitText(int32_t width, int32_t height, const SizeRule& rule, int32_t maxGlyphWidth,
                                 int32_t cellHeight);

}  // namespace morvel
