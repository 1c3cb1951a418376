#include "platform/font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "image/image_record.h"
#include "platform/face_cache.h"
#include "platform/face_match.h"
#include "platform/glyph_cache.h"

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

// Copies a rendered bitmap's coverage into `glyph` as levels 0 to 255; a
// bitmap of another kind, or without pixels, leaves it undrawn.
void takeCoverage(const FT_Bitmap& bitmap, FT_Int left, FT_Int top, GlyphBitmap& glyph)
{
    const bool gray = bitmap.pixel_mode == FT_PIXEL_MODE_GRAY;
    const bool mono = bitmap.pixel_mode == FT_PIXEL_MODE_MONO;
    if ((!gray && !mono) || !bitmap.buffer || bitmap.rows > kMaxGlyphSide || bitmap.width > kMaxGlyphSide)
        return;
    const int64_t rows = bitmap.rows;
    const int64_t width = bitmap.width;
    const int64_t pitch = bitmap.pitch;
    glyph.coverage.resize(static_cast<size_t>(rows * width));
    for (int64_t r = 0; r < rows; ++r) {
        // A negative pitch stores the rows bottom-up.
        const unsigned char* source = bitmap.buffer + (pitch >= 0 ? r * pitch : (rows - 1 - r) * -pitch);
        for (int64_t col = 0; col < width; ++col) {
            int coverage;
            if (gray)
                coverage = bitmap.num_grays > 1 ? source[col] * 255 / (bitmap.num_grays - 1) : 0;
            else
                coverage = (source[col >> 3] & (0x80 >> (col & 7))) ? 255 : 0;
            glyph.coverage[static_cast<size_t>(r * width + col)] = static_cast<uint8_t>(std::min(coverage, 255));
        }
    }
    glyph.drawn = true;
    glyph.left = left;
    glyph.top = top;
    glyph.width = static_cast<int32_t>(width);
    glyph.rows = static_cast<int32_t>(rows);
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
    // The size, cell and printable characters: rendered here, or read from
    // the glyph cache (the face is then not opened at all).
    RenderedGlyphs glyphs;
    int32_t maxCharWidth = 0;
    // Every other character (codes 0 to 31 and 127 to 255), made from the
    // face on first use; none of them is drawn in an atlas.
    mutable std::once_flag othersMade;
    mutable std::vector<GlyphBitmap> others;

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

    // Loads character `code` at the face's current size, hinted once for
    // its advance, its outline's control box (into `box`, when it is an
    // outline) and, when `render`, its coverage. False when it cannot be
    // loaded as an outline.
    bool loadGlyph(FT_ULong code, GlyphBitmap& glyph, FT_BBox* box, bool render = true)
    {
        glyph = GlyphBitmap{};
        if (FT_Load_Char(face, code, kLoadFlags) != 0)
            return false;
        FT_GlyphSlot slot = face->glyph;
        glyph.advance = static_cast<int32_t>((slot->advance.x + 32) >> 6);
        const bool outline = slot->format == FT_GLYPH_FORMAT_OUTLINE;
        if (outline && box != nullptr)
            FT_Outline_Get_CBox(&slot->outline, box);
        if (!render || FT_Render_Glyph(slot, FT_LOAD_TARGET_MODE(kLoadFlags)) != 0)
            return outline;
        takeCoverage(slot->bitmap, slot->bitmap_left, slot->bitmap_top, glyph);
        return outline;
    }

    // Sets the em height and measures (and when `render`, renders) the
    // printable characters at it. The cell reaches from the face's ascender
    // to its descender, widened where a printable character's ink goes
    // beyond them, so that every printable character fits its cell from top
    // to bottom.
    bool setPixelSize(int32_t pixels, bool render = true)
    {
        if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixels)) != 0)
            return false;
        const FT_Size_Metrics& metrics = face->size->metrics;
        glyphs.pixelSize = pixels;
        glyphs.ascent = std::max(0, ceilPixels(metrics.ascender));
        glyphs.descent = std::max(0, ceilPixels(-metrics.descender));
        for (int k = 0; k < kPrintableCount; ++k) {
            // The rendered bitmap covers the control box rounded outwards.
            FT_BBox box;
            if (!loadGlyph(static_cast<FT_ULong>(kFirstPrintable + k), glyphs.printable[static_cast<size_t>(k)], &box,
                           render))
                continue;
            glyphs.ascent = std::max(glyphs.ascent, ceilPixels(box.yMax));
            glyphs.descent = std::max(glyphs.descent, ceilPixels(-box.yMin));
        }
        return glyphs.ascent + glyphs.descent > 0 && glyphs.ascent + glyphs.descent <= 4 * kMaxPixelSize;
    }

    int32_t cellHeight() const { return glyphs.ascent + glyphs.descent; }

    // The largest em height whose cell (ascent + descent) is at most
    // `cell` (the cell grows with the em), found by bisection; the smallest
    // em when even that cell is taller. False when the largest em still
    // falls short of the cell.
    bool fitCellHeight(int64_t cell)
    {
        int32_t low = 1;  // largest size known to fit, or the smallest size
        int32_t high = static_cast<int32_t>(kMaxPixelSize);
        if (!setPixelSize(high, false))
            return false;
        if (cellHeight() < cell)
            return false;
        while (low < high) {
            const int32_t middle = low + (high - low + 1) / 2;
            if (!setPixelSize(middle, false))
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
            glyphs.ascent += static_cast<int32_t>(cell - cellHeight());
    }

    // The widest printable character. A face's declared maximum advance
    // covers every glyph it holds (and is not hinted), so it can exceed
    // anything drawn here; the printable range is what a cell must fit.
    bool measureWidest()
    {
        maxCharWidth = 0;
        for (const GlyphBitmap& glyph : glyphs.printable)
            maxCharWidth = std::max(maxCharWidth, glyph.advance);
        return maxCharWidth > 0;
    }

    // The character `c` as rendered.
    const GlyphBitmap& glyphOf(char c) const
    {
        const FT_ULong code = codePoint(c);
        if (code >= kFirstPrintable && code < kFirstPrintable + kPrintableCount)
            return glyphs.printable[code - kFirstPrintable];
        std::call_once(othersMade, [this] { const_cast<Impl*>(this)->makeOthers(); });
        return others[code];
    }

    // Renders the characters outside the printable range at the font's
    // size, opening the face first when the printable ones came from the
    // cache. Characters that cannot be had have no advance and no ink.
    void makeOthers()
    {
        others.assign(256, GlyphBitmap{});
        const bool ready =
            face != nullptr || (openFace() && FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(glyphs.pixelSize)) == 0);
        for (FT_ULong code = 0; ready && code < 256; ++code) {
            if (code < kFirstPrintable || code >= kFirstPrintable + kPrintableCount)
                loadGlyph(code, others[code], nullptr);
        }
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
    // With a cache folder set, glyphs rendered before for the same face
    // file, size and renderer are read back instead.
    const std::string key =
        faceCacheDirectory().empty() ? std::string() : glyphCacheKey(*matched, description, dpi, kLoadFlags);
    auto impl = std::make_unique<Impl>();
    impl->requested = std::move(matched->requested);
    impl->used = std::move(matched->family);
    impl->substitute = matched->substitute;
    impl->path = std::move(matched->path);
    impl->index = matched->index;
    if (!key.empty()) {
        if (std::optional<RenderedGlyphs> cached = cachedGlyphs(key)) {
            impl->glyphs = std::move(*cached);
            if (impl->measureWidest())
                return std::unique_ptr<Font>(new Font(std::move(impl)));
        }
    }
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
    if (!sized || !impl->measureWidest())
        return nullptr;
    if (!key.empty())
        storeGlyphs(key, impl->glyphs);
    return std::unique_ptr<Font>(new Font(std::move(impl)));
}

TextMetrics Font::textMetrics() const
{
    return TextMetrics{impl_->cellHeight(), impl_->maxCharWidth};
}

int32_t Font::advanceWidth(char c) const
{
    return impl_->glyphOf(c).advance;
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

    const GlyphBitmap& glyph = impl_->glyphOf(c);
    if (!glyph.drawn)
        return;

    // Ink is kept inside the cell: its rows (the cell metrics are measured
    // to hold the characters from top to bottom) and its columns. Sideways a
    // glyph may overhang its advance (italics, serifs, anti-aliased edges);
    // that ink is left out, so the cell holds its own glyph's ink only and
    // its tone is that of the glyph, not of its neighbours' overhangs.
    const int64_t originX = cellLeft + glyph.left;
    const int64_t originY = cellTop + impl_->glyphs.ascent - glyph.top;
    const int64_t rows = glyph.rows;
    const int64_t width = glyph.width;
    for (int64_t r = std::max<int64_t>(0, top - originY); r < rows && originY + r < bottom; ++r) {
        const uint8_t* source = glyph.coverage.data() + r * width;
        uint8_t* target = raster.rows[originY + r];
        for (int64_t col = std::max<int64_t>(0, left - originX); col < width && originX + col < right; ++col) {
            const int ink = 255 - source[col];
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
    return impl_->glyphs.pixelSize;
}

int32_t Font::ascent() const
{
    return impl_->glyphs.ascent;
}

}  // namespace morvel
