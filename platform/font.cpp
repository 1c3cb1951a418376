#include "platform/font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "image/image_record.h"
#include "platform/face_match.h"

namespace morvel {

namespace {

// Largest em height, in pixels, a font is made at. Far beyond any text-art
// use; it keeps glyph bitmaps (and an atlas built from them) reasonable.
constexpr int64_t kMaxPixelSize = 2048;

// Load flags for measuring and drawing: hinted outlines, never embedded
// bitmap strikes, so every glyph renders as 256-level coverage.
constexpr FT_Int32 kLoadFlags = FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_NORMAL;

// 26.6 fixed point to whole pixels, rounding up.
int32_t ceilPixels(FT_Pos value)
{
    return static_cast<int32_t>((value + 63) >> 6);
}

// The code point a byte of text stands for: the byte itself (Latin-1).
FT_ULong codePoint(char c)
{
    return static_cast<unsigned char>(c);
}

}  // namespace

struct Font::Impl {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    std::string requested;
    std::string used;
    bool substitute = false;
    std::string path;
    int index = 0;
    int32_t pixelSize = 0;
    int32_t ascent = 0;
    int32_t descent = 0;
    int32_t maxCharWidth = 0;
    std::array<int32_t, 256> advances{};

    Impl() = default;
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl()
    {
        if (face)
            FT_Done_Face(face);
        if (library)
            FT_Done_FreeType(library);
    }

    // Opens the face at `path` and `index` with FreeType, its characters
    // looked up by Unicode code point. False for a file FreeType cannot
    // read or a face without outlines.
    bool openFace()
    {
        if (FT_Init_FreeType(&library) != 0) {
            library = nullptr;
            return false;
        }
        if (FT_New_Face(library, path.c_str(), index, &face) != 0) {
            face = nullptr;
            return false;
        }
        if (!FT_IS_SCALABLE(face))
            return false;
        if (FT_Select_Charmap(face, FT_ENCODING_UNICODE) != 0 && face->num_charmaps > 0)
            FT_Set_Charmap(face, face->charmaps[0]);
        return true;
    }

    // Sets the em height and reads the cell metrics of that size. The cell
    // reaches from the face's ascender to its descender, widened where a
    // printable character's ink goes beyond them, so that every printable
    // character fits its cell from top to bottom.
    bool setPixelSize(int32_t pixels)
    {
        if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixels)) != 0)
            return false;
        const FT_Size_Metrics& metrics = face->size->metrics;
        pixelSize = pixels;
        ascent = std::max(0, ceilPixels(metrics.ascender));
        descent = std::max(0, ceilPixels(-metrics.descender));
        for (FT_ULong code = 32; code <= 126; ++code) {
            if (FT_Load_Char(face, code, kLoadFlags) != 0 || face->glyph->format != FT_GLYPH_FORMAT_OUTLINE)
                continue;
            // The rendered bitmap covers the control box rounded outwards.
            FT_BBox box;
            FT_Outline_Get_CBox(&face->glyph->outline, &box);
            ascent = std::max(ascent, ceilPixels(box.yMax));
            descent = std::max(descent, ceilPixels(-box.yMin));
        }
        return ascent + descent > 0 && ascent + descent <= 4 * kMaxPixelSize;
    }

    int32_t cellHeight() const { return ascent + descent; }

    // The largest em height whose cell (ascent + descent) is at most
    // `cell` (the cell grows with the em), found by bisection; the smallest
    // em when even that cell is taller. False when the largest em still
    // falls short of the cell.
    bool fitCellHeight(int64_t cell)
    {
        int32_t low = 1;  // largest size known to fit, or the smallest size
        int32_t high = static_cast<int32_t>(kMaxPixelSize);
        if (!setPixelSize(high))
            return false;
        if (cellHeight() < cell)
            return false;
        while (low < high) {
            const int32_t middle = low + (high - low + 1) / 2;
            if (!setPixelSize(middle))
                return false;
            if (cellHeight() <= cell)
                low = middle;
            else
                high = middle - 1;
        }
        return setPixelSize(low);
    }

    // Gives the cell exactly `cell` rows when the nearest smaller size falls
    // short (sizes step the cell by two rows now and then): the extra rows
    // go above the characters, as leading.
    void padCellTo(int64_t cell)
    {
        if (cellHeight() < cell)
            ascent += static_cast<int32_t>(cell - cellHeight());
    }

    bool measureAdvances()
    {
        for (int code = 0; code < 256; ++code) {
            if (FT_Load_Char(face, static_cast<FT_ULong>(code), kLoadFlags) != 0) {
                advances[static_cast<size_t>(code)] = 0;
                continue;
            }
            advances[static_cast<size_t>(code)] = static_cast<int32_t>((face->glyph->advance.x + 32) >> 6);
        }
        // The widest printable character. A face's declared maximum advance
        // covers every glyph it holds (and is not hinted), so it can exceed
        // anything drawn here; the printable range is what a cell must fit.
        maxCharWidth = 0;
        for (int code = 32; code <= 126; ++code)
            maxCharWidth = std::max(maxCharWidth, advances[static_cast<size_t>(code)]);
        return maxCharWidth > 0;
    }
};

Font::Font(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Font::~Font() = default;

std::unique_ptr<Font> Font::create(const LogFont& description, int dpi)
{
    if (dpi <= 0)
        return nullptr;

    // Requested em height, or cell height when positive.
    int64_t emHeight = 0;
    int64_t cellHeight = 0;
    if (description.lfHeight < 0)
        emHeight = -int64_t{description.lfHeight};
    else if (description.lfHeight > 0)
        cellHeight = description.lfHeight;
    else
        emHeight = mulDiv(9, dpi, 72);  // the program's default 9 points
    if (emHeight > kMaxPixelSize || emHeight < 0 || cellHeight > kMaxPixelSize * 4)
        return nullptr;

    std::optional<MatchedFace> matched = matchFace(description);
    if (!matched)
        return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->requested = std::move(matched->requested);
    impl->used = std::move(matched->family);
    impl->substitute = matched->substitute;
    impl->path = std::move(matched->path);
    impl->index = matched->index;
    if (!impl->openFace())
        return nullptr;

    bool sized = false;
    if (cellHeight > 0) {
        sized = impl->fitCellHeight(cellHeight);
        if (sized)
            impl->padCellTo(cellHeight);
    } else {
        sized = impl->setPixelSize(static_cast<int32_t>(std::max<int64_t>(emHeight, 1)));
    }
    if (!sized || !impl->measureAdvances())
        return nullptr;
    return std::unique_ptr<Font>(new Font(std::move(impl)));
}

TextMetrics Font::textMetrics() const
{
    return TextMetrics{impl_->cellHeight(), impl_->maxCharWidth};
}

int32_t Font::advanceWidth(char c) const
{
    return impl_->advances[codePoint(c)];
}

void Font::drawChar(ImageRecord& raster, int32_t x, int32_t y, char c) const
{
    if (raster.header.biBitCount != 8 || !raster.rows || raster.header.biWidth <= 0 || raster.rowCount <= 0)
        return;

    // The character's cell, clipped to the record; 64-bit so that positions
    // near the ends of the 32-bit range cannot overflow.
    const int64_t cellLeft = x;
    const int64_t cellTop = y;
    const int64_t cellRight = cellLeft + advanceWidth(c);  // exclusive
    const int64_t cellBottom = cellTop + impl_->cellHeight();
    const int64_t left = std::max<int64_t>(cellLeft, 0);
    const int64_t top = std::max<int64_t>(cellTop, 0);
    const int64_t right = std::min<int64_t>(cellRight, raster.header.biWidth);
    const int64_t bottom = std::min<int64_t>(cellBottom, raster.rowCount);
    if (top >= bottom)
        return;
    if (left < right) {
        for (int64_t row = top; row < bottom; ++row)
            std::memset(raster.rows[row] + left, 255, static_cast<size_t>(right - left));
    }

    FT_Face face = impl_->face;
    if (FT_Load_Char(face, codePoint(c), kLoadFlags | FT_LOAD_RENDER) != 0)
        return;
    const FT_Bitmap& bitmap = face->glyph->bitmap;
    const bool gray = bitmap.pixel_mode == FT_PIXEL_MODE_GRAY;
    const bool mono = bitmap.pixel_mode == FT_PIXEL_MODE_MONO;
    if ((!gray && !mono) || !bitmap.buffer)
        return;

    // Ink is kept inside the cell: its rows (the cell metrics are measured
    // to hold the characters from top to bottom) and its columns. Sideways a
    // glyph may overhang its advance (italics, serifs, anti-aliased edges);
    // that ink is left out, so the cell holds its own glyph's ink only and
    // its tone is that of the glyph, not of its neighbours' overhangs.
    const int64_t originX = cellLeft + face->glyph->bitmap_left;
    const int64_t originY = cellTop + impl_->ascent - face->glyph->bitmap_top;
    const int64_t inkLeft = left;
    const int64_t inkRight = right;
    const int64_t rows = bitmap.rows;
    const int64_t width = bitmap.width;
    const int64_t pitch = bitmap.pitch;
    for (int64_t r = std::max<int64_t>(0, top - originY); r < rows && originY + r < bottom; ++r) {
        // A negative pitch stores the rows bottom-up.
        const unsigned char* source = bitmap.buffer + (pitch >= 0 ? r * pitch : (rows - 1 - r) * -pitch);
        uint8_t* target = raster.rows[originY + r];
        for (int64_t col = std::max<int64_t>(0, inkLeft - originX); col < width && originX + col < inkRight; ++col) {
            int coverage;
            if (gray)
                coverage = bitmap.num_grays > 1 ? source[col] * 255 / (bitmap.num_grays - 1) : 0;
            else
                coverage = (source[col >> 3] & (0x80 >> (col & 7))) ? 255 : 0;
            const int ink = 255 - std::min(coverage, 255);
            uint8_t& pixel = target[originX + col];
            if (ink < pixel)
                pixel = static_cast<uint8_t>(ink);
        }
    }
}

const std::string& Font::requestedFace() const
{
    return impl_->requested;
}

const std::string& Font::faceUsed() const
{
    return impl_->used;
}

bool Font::isSubstitute() const
{
    return impl_->substitute;
}

const std::string& Font::filePath() const
{
    return impl_->path;
}

int Font::faceIndex() const
{
    return impl_->index;
}

int32_t Font::pixelSize() const
{
    return impl_->pixelSize;
}

int32_t Font::ascent() const
{
    return impl_->ascent;
}

}  // namespace morvel
