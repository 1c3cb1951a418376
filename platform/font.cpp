#include "platform/font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "image/image_record.h"

#if defined(__SANITIZE_ADDRESS__)
#define MORVEL_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MORVEL_LEAK_CHECKED 1
#endif
#endif

#ifdef MORVEL_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

namespace morvel {

namespace {

// Largest em height, in pixels, a font is made at. Far beyond any text-art
// use; it keeps glyph bitmaps (and an atlas built from them) reasonable.
constexpr int64_t kMaxPixelSize = 2048;

// Load flags for measuring and drawing: hinted outlines, never embedded
// bitmap strikes, so every glyph renders as 256-level coverage.
constexpr FT_Int32 kLoadFlags = FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_NORMAL;

// Pitch bits of lfPitchAndFamily, and the family bit that asks for serifs.
constexpr uint8_t kPitchMask = 0x03;
constexpr uint8_t kVariablePitch = 2;
constexpr uint8_t kFamilyMask = 0xF0;
constexpr uint8_t kFamilyRoman = 0x10;

// fontconfig is initialised once and its configuration stays loaded for the
// life of the process (a toolkit in the same process shares it), unless a
// program done with fonts releases it with releaseFontSystem; no font can be
// made after that.
bool fontconfigReady = false;

bool initFontconfig()
{
    static std::once_flag once;
    bool& ready = fontconfigReady;
    std::call_once(once, [&ready] {
#ifdef MORVEL_LEAK_CHECKED
        // The configuration keeps a few blocks that only FcFini releases
        // and that the leak checker cannot trace from its roots (fontconfig
        // stores some links as offsets). They are made once per process, so
        // only what fontconfig allocates while loading it is left out of
        // the leak report.
        __lsan_disable();
#endif
        ready = FcInit() == FcTrue;
#ifdef MORVEL_LEAK_CHECKED
        __lsan_enable();
#endif
    });
    return ready;
}

struct PatternDeleter {
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using PatternHandle = std::unique_ptr<FcPattern, PatternDeleter>;

// The families the configuration binds to the requested one, the request
// first: the strongly bound families at the head of a substituted pattern
// (aliases such as Courier -> Nimbus Mono PS), before the weakly bound
// generic fallbacks that every name gets.
std::vector<std::string> aliasesOf(FcPattern* substituted)
{
    std::vector<std::string> aliases;
    FcValue value;
    FcValueBinding binding = FcValueBindingWeak;
    for (int i = 0; FcPatternGetWithBinding(substituted, FC_FAMILY, i, &value, &binding) == FcResultMatch; ++i) {
        if (binding == FcValueBindingWeak)
            break;
        if (value.type == FcTypeString && value.u.s)
            aliases.emplace_back(reinterpret_cast<const char*>(value.u.s));
    }
    return aliases;
}

// The best installed match for a family at a weight and slant, with the
// configuration's substitutions applied as every fontconfig client does.
// `aliases`, when given, receives the request's aliases (see aliasesOf).
PatternHandle matchFace(const char* family, int fcWeight, bool italic, bool monospaced,
                        std::vector<std::string>* aliases = nullptr)
{
    PatternHandle pattern(FcPatternCreate());
    if (!pattern)
        return nullptr;
    const auto* name = reinterpret_cast<const FcChar8*>(family);
    if (!FcPatternAddString(pattern.get(), FC_FAMILY, name) ||
        !FcPatternAddInteger(pattern.get(), FC_WEIGHT, fcWeight) ||
        !FcPatternAddInteger(pattern.get(), FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN) ||
        !FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue))
        return nullptr;
    if (monospaced && !FcPatternAddInteger(pattern.get(), FC_SPACING, FC_MONO))
        return nullptr;
    if (!FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern))
        return nullptr;
    if (aliases)
        *aliases = aliasesOf(pattern.get());
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    PatternHandle match(FcFontMatch(nullptr, pattern.get(), &result));
    if (!match || result != FcResultMatch)
        return nullptr;
    FcChar8* file = nullptr;
    if (FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch || !file)
        return nullptr;
    return match;
}

// The family of `match` that one of `names` names (ignoring case), or none.
// A face may carry several family names (e.g. "Roboto" and "Roboto Thin").
const char* matchingFamily(FcPattern* match, const std::vector<std::string>& names)
{
    FcChar8* family = nullptr;
    for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &family) == FcResultMatch; ++i) {
        for (const std::string& name : names) {
            if (family && FcStrCmpIgnoreCase(family, reinterpret_cast<const FcChar8*>(name.c_str())) == 0)
                return reinterpret_cast<const char*>(family);
        }
    }
    return nullptr;
}

// The generic family names, which any installed face of the kind answers.
bool isGenericFamily(const std::string& name)
{
    for (const char* generic : {"monospace", "mono", "sans-serif", "sans", "serif"}) {
        if (FcStrCmpIgnoreCase(reinterpret_cast<const FcChar8*>(name.c_str()),
                               reinterpret_cast<const FcChar8*>(generic)) == 0)
            return true;
    }
    return false;
}

std::string firstFamily(FcPattern* match)
{
    FcChar8* family = nullptr;
    if (FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch && family)
        return reinterpret_cast<const char*>(family);
    return {};
}

// The face name of a description: at most 31 bytes, also when the record's
// name is not terminated.
std::string faceNameOf(const LogFont& description)
{
    const char* name = description.lfFaceName;
    size_t length = 0;
    while (length < kFaceNameSize - 1 && name[length] != '\0')
        ++length;
    return std::string(name, length);
}

bool isValidUtf8(const std::string& text)
{
    int chars = 0;
    int width = 0;
    return FcUtf8Len(reinterpret_cast<const FcChar8*>(text.c_str()), static_cast<int>(text.size()), &chars, &width) ==
           FcTrue;
}

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
    if (dpi <= 0 || !initFontconfig())
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

    int32_t weight = description.lfWeight;
    if (weight <= 0)
        weight = 400;
    weight = std::min(weight, 1000);
    const int fcWeight = FcWeightFromOpenType(weight);
    const bool italic = description.lfItalic != 0;

    auto impl = std::make_unique<Impl>();
    impl->requested = faceNameOf(description);

    PatternHandle match;
    if (!impl->requested.empty() && isValidUtf8(impl->requested)) {
        std::vector<std::string> aliases;
        match = matchFace(impl->requested.c_str(), fcWeight, italic, false, &aliases);
        // fontconfig always offers some face. It counts as the requested
        // one when it is of the requested family or of one the configuration
        // makes its alias, or when a generic family was asked for.
        aliases.insert(aliases.begin(), impl->requested);
        const char* family = match ? matchingFamily(match.get(), aliases) : nullptr;
        if (family)
            impl->used = family;
        else if (match && isGenericFamily(impl->requested))
            impl->used = firstFamily(match.get());
        else
            match.reset();
    }
    if (!match) {
        // A stand-in of the same pitch: proportional when the description
        // asks for variable pitch, monospaced otherwise (the default face
        // is a monospaced one).
        const bool variable = (description.lfPitchAndFamily & kPitchMask) == kVariablePitch;
        if (variable) {
            const bool serif = (description.lfPitchAndFamily & kFamilyMask) == kFamilyRoman;
            match = matchFace(serif ? "serif" : "sans-serif", fcWeight, italic, false);
        } else {
            match = matchFace("monospace", fcWeight, italic, true);
        }
        if (!match)
            return nullptr;
        impl->used = firstFamily(match.get());
        impl->substitute = true;
    }

    FcChar8* file = nullptr;
    FcPatternGetString(match.get(), FC_FILE, 0, &file);
    impl->path = reinterpret_cast<const char*>(file);
    int index = 0;
    if (FcPatternGetInteger(match.get(), FC_INDEX, 0, &index) == FcResultMatch)
        impl->index = index;

    if (FT_Init_FreeType(&impl->library) != 0) {
        impl->library = nullptr;
        return nullptr;
    }
    if (FT_New_Face(impl->library, impl->path.c_str(), impl->index, &impl->face) != 0) {
        impl->face = nullptr;
        return nullptr;
    }
    if (!FT_IS_SCALABLE(impl->face))
        return nullptr;
    // Characters are looked up by Unicode code point.
    if (FT_Select_Charmap(impl->face, FT_ENCODING_UNICODE) != 0 && impl->face->num_charmaps > 0)
        FT_Set_Charmap(impl->face, impl->face->charmaps[0]);

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

void releaseFontSystem()
{
    if (fontconfigReady) {
        FcFini();
        fontconfigReady = false;
    }
}

}  // namespace morvel
