#include "platform/glyph_cache.h"

#include <dlfcn.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdlib>
#include <string_view>

#include "platform/cache_files.h"
#include "platform/face_cache.h"

namespace morvel {

namespace {

constexpr std::string_view kMagic = "morvel-glyph-cache 1\n";
// Far more than the glyphs of any size text art is made at; larger glyph
// sets are rendered each time.
constexpr size_t kMaxEntryBytes = size_t{32} << 20;
// Bound on an advance and on a bitmap's offset from the pen, in pixels.
constexpr int32_t kMaxOffset = 1 << 20;

// FreeType as this process runs it: the version it was built against and
// the state of the library file actually loaded, so that an upgrade of the
// library (whose hinting may differ) is a different key.
std::string freetypeStamp()
{
    std::string stamp =
        std::to_string(FREETYPE_MAJOR) + "." + std::to_string(FREETYPE_MINOR) + "." + std::to_string(FREETYPE_PATCH);
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&FT_Init_FreeType), &info) != 0 && info.dli_fname != nullptr)
        stamp += std::string(" ") + info.dli_fname + " " + fileStamp(info.dli_fname);
    return stamp;
}

bool inRange(int64_t value, int64_t low, int64_t high)
{
    return value >= low && value <= high;
}

// The checks an entry must pass both to be stored and to be read back.
bool sound(const GlyphBitmap& glyph)
{
    if (!inRange(glyph.advance, -kMaxOffset, kMaxOffset))
        return false;
    if (!glyph.drawn)
        return glyph.left == 0 && glyph.top == 0 && glyph.width == 0 && glyph.rows == 0 && glyph.coverage.empty();
    return inRange(glyph.left, -kMaxOffset, kMaxOffset) && inRange(glyph.top, -kMaxOffset, kMaxOffset) &&
           inRange(glyph.width, 0, kMaxGlyphSide) && inRange(glyph.rows, 0, kMaxGlyphSide) &&
           glyph.coverage.size() == static_cast<size_t>(int64_t{glyph.width} * glyph.rows);
}

bool sound(const RenderedGlyphs& glyphs)
{
    if (!inRange(glyphs.pixelSize, 1, kMaxGlyphSide) || !inRange(glyphs.ascent, 0, 2 * kMaxGlyphSide) ||
        !inRange(glyphs.descent, 0, 2 * kMaxGlyphSide) || glyphs.ascent + glyphs.descent <= 0)
        return false;
    for (const GlyphBitmap& glyph : glyphs.printable) {
        if (!sound(glyph))
            return false;
    }
    return true;
}

void putInt(std::string& out, int32_t value)
{
    const auto bits = static_cast<uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((bits >> shift) & 0xFF));
}

void putChecksum(std::string& out)
{
    const uint64_t sum = fnv1a(out);
    for (int shift = 0; shift < 64; shift += 8)
        out.push_back(static_cast<char>((sum >> shift) & 0xFF));
}

// Reads an entry's fields in order; every read checks that the bytes are
// there, and a failed read fails every later one.
class EntryReader {
public:
    explicit EntryReader(std::string_view bytes) : rest_(bytes) {}

    bool ok() const { return ok_; }
    bool atEnd() const { return ok_ && rest_.empty(); }

    int32_t integer(int64_t low, int64_t high)
    {
        if (!ok_ || rest_.size() < 4) {
            ok_ = false;
            return 0;
        }
        uint32_t bits = 0;
        for (int i = 3; i >= 0; --i)
            bits = bits << 8 | static_cast<unsigned char>(rest_[static_cast<size_t>(i)]);
        rest_.remove_prefix(4);
        const auto value = static_cast<int32_t>(bits);
        ok_ = inRange(value, low, high);
        return value;
    }

    void bytes(size_t count, std::vector<uint8_t>& into)
    {
        if (!ok_ || rest_.size() < count) {
            ok_ = false;
            return;
        }
        into.assign(rest_.begin(), rest_.begin() + static_cast<std::ptrdiff_t>(count));
        rest_.remove_prefix(count);
    }

private:
    std::string_view rest_;
    bool ok_ = true;
};

bool readGlyph(EntryReader& in, GlyphBitmap& glyph)
{
    glyph.advance = in.integer(-kMaxOffset, kMaxOffset);
    glyph.drawn = in.integer(0, 1) == 1;
    glyph.left = in.integer(-kMaxOffset, kMaxOffset);
    glyph.top = in.integer(-kMaxOffset, kMaxOffset);
    glyph.width = in.integer(0, kMaxGlyphSide);
    glyph.rows = in.integer(0, kMaxGlyphSide);
    if (in.ok())
        in.bytes(static_cast<size_t>(int64_t{glyph.width} * glyph.rows), glyph.coverage);
    return in.ok() && sound(glyph);
}

std::string entryPath(const std::string& key)
{
    return cacheEntryPath(faceCacheDirectory(), "glyphs", key);
}

}  // namespace

std::string glyphCacheKey(const MatchedFace& face, const LogFont& description, int dpi, int32_t loadFlags)
{
    static const std::string freetype = freetypeStamp();
    const char* properties = std::getenv("FREETYPE_PROPERTIES");
    return "file=" + face.path + "|stamp=" + fileStamp(face.path) + "|index=" + std::to_string(face.index) +
           "|family=" + face.family + "|height=" + std::to_string(description.lfHeight) +
           "|weight=" + std::to_string(description.lfWeight) + "|italic=" + std::to_string(description.lfItalic) +
           "|dpi=" + std::to_string(dpi) + "|load=" + std::to_string(loadFlags) +
           "|render=" + std::to_string(FT_RENDER_MODE_NORMAL) + "|chars=" + std::to_string(kFirstPrintable) + "+" +
           std::to_string(kPrintableCount) + "|freetype=" + freetype +
           "|FREETYPE_PROPERTIES=" + (properties != nullptr ? properties : "");
}

std::optional<RenderedGlyphs> cachedGlyphs(const std::string& key)
{
    if (faceCacheDirectory().empty() || key.find('\n') != std::string::npos)
        return std::nullopt;
    const std::string entry = readCacheEntry(entryPath(key), kMaxEntryBytes);
    // Magic line, key line, the fields, and the checksum of all before it.
    const size_t head = kMagic.size() + key.size() + 1;
    if (entry.size() < head + 8 || entry.compare(0, kMagic.size(), kMagic) != 0 ||
        entry.compare(kMagic.size(), key.size(), key) != 0 || entry[head - 1] != '\n')
        return std::nullopt;
    std::string checked = entry.substr(0, entry.size() - 8);
    putChecksum(checked);
    if (checked != entry)
        return std::nullopt;

    EntryReader in(std::string_view(entry).substr(head, entry.size() - 8 - head));
    RenderedGlyphs glyphs;
    glyphs.pixelSize = in.integer(1, kMaxGlyphSide);
    glyphs.ascent = in.integer(0, 2 * kMaxGlyphSide);
    glyphs.descent = in.integer(0, 2 * kMaxGlyphSide);
    for (GlyphBitmap& glyph : glyphs.printable) {
        if (!readGlyph(in, glyph))
            return std::nullopt;
    }
    if (!in.atEnd() || !sound(glyphs))
        return std::nullopt;
    return glyphs;
}

void storeGlyphs(const std::string& key, const RenderedGlyphs& glyphs)
{
    if (faceCacheDirectory().empty() || key.find('\n') != std::string::npos || !sound(glyphs))
        return;
    std::string entry(kMagic);
    entry += key;
    entry += '\n';
    putInt(entry, glyphs.pixelSize);
    putInt(entry, glyphs.ascent);
    putInt(entry, glyphs.descent);
    for (const GlyphBitmap& glyph : glyphs.printable) {
        if (entry.size() + glyph.coverage.size() > kMaxEntryBytes - 64)
            return;
        for (const int32_t field : {glyph.advance, glyph.drawn ? 1 : 0, glyph.left, glyph.top, glyph.width, glyph.rows})
            putInt(entry, field);
        entry.append(glyph.coverage.begin(), glyph.coverage.end());
    }
    putChecksum(entry);
    writeCacheEntry(faceCacheDirectory(), entryPath(key), entry);
}

}  // namespace morvel
