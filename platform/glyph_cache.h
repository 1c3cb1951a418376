// Rendered glyphs kept on disk beside the resolved faces (the same folder,
// see platform/face_cache.h), so that a run does not pay for hinting and
// rendering the printable characters each time: for one face file at one
// size, the cell's ascent and descent and each printable character's
// advance and coverage bitmap, exactly as the font layer made them. The
// glyph atlas is drawn from them.
//
// An entry's key names everything that shapes the glyphs: the face file's
// state (device, inode, size, modification time) and face index, the family
// resolved, the height, weight and slant asked for and the resolution, the
// load and render flags, the characters rendered, FreeType's version and
// the state of its library file, FREETYPE_PROPERTIES, and the entry format.
// The key is stored whole and compared exactly, so an entry can never stand
// for other glyphs; the entry is read with a size cap, every field checked
// against its range, and its contents against a checksum. Anything amiss is
// a miss, and the glyphs are rendered again.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/face_match.h"
#include "platform/log_font.h"

namespace morvel {

inline constexpr int kFirstPrintable = 32;      // the space
inline constexpr int kPrintableCount = 95;      // 32 .. 126
inline constexpr int32_t kMaxGlyphSide = 8192;  // rows or columns of one glyph bitmap

// One character as rendered: its advance, and the bitmap of its ink placed
// relative to the pen on the baseline.
struct GlyphBitmap {
    int32_t advance = 0;            // whole pixels
    bool drawn = false;             // loaded and rendered with ink to draw
    int32_t left = 0;               // the bitmap's left column, right of the pen
    int32_t top = 0;                // its top row, above the baseline
    int32_t width = 0;              // columns
    int32_t rows = 0;               // rows
    std::vector<uint8_t> coverage;  // rows x width, top row first: 0 no ink .. 255 full ink
};

// A face's printable characters at one size, with the cell they sit in.
struct RenderedGlyphs {
    int32_t pixelSize = 0;  // em height in pixels
    int32_t ascent = 0;     // cell rows above the baseline
    int32_t descent = 0;    // cell rows below it
    std::array<GlyphBitmap, kPrintableCount> printable;
};

// The key of the glyphs of `face` made for `description` at `dpi` with
// FreeType load flags `loadFlags`.
std::string glyphCacheKey(const MatchedFace& face, const LogFont& description, int dpi, int32_t loadFlags);

// The stored glyphs for `key`, when the cache folder is set and holds a
// sound entry for exactly that key.
std::optional<RenderedGlyphs> cachedGlyphs(const std::string& key);

// Stores `glyphs` for `key` when the cache folder is set (glyphs too large
// for an entry are not stored).
void storeGlyphs(const std::string& key, const RenderedGlyphs& glyphs);

}  // namespace morvel
