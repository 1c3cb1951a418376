// The font layer: a font made from a description, its face found through
// fontconfig (see platform/face_match.h for which face a description gets)
// and rendered with FreeType; the font says which face it really used.
#pragma once

#include <memory>
#include <string>

#include "platform/face_match.h"
#include "platform/glyph_renderer.h"
#include "platform/log_font.h"

namespace morvel {

class Font final : public GlyphRenderer {
public:
    // A font for the description at `dpi` dots per inch, or none when no face
    // can be had at all (no fonts installed, an unusable size).
    static std::unique_ptr<Font> create(const LogFont& description, int dpi = kDefaultDpi);
    ~Font() override;
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    TextMetrics textMetrics() const override;
    int32_t advanceWidth(char c) const override;
    void drawChar(ImageRecord& raster, int32_t x, int32_t y, char c) const override;

    const std::string& requestedFace() const;  // the description's face name
    const std::string& faceUsed() const;       // family name of the face really used
    bool isSubstitute() const;                 // the requested face is not installed (see above)
    const std::string& filePath() const;       // the font file, for a toolkit to load the same face
    int faceIndex() const;                     // face index inside that file
    int32_t pixelSize() const;                 // em height in pixels the glyphs are rendered at
    int32_t ascent() const;                    // pixels from a cell's top to the baseline

private:
    struct Impl;
    explicit Font(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace morvel
