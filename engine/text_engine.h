// The engine's state and operations in one plain object: the font, the glyph
// atlas with its table and metrics, the blur count, the match mode, the
// source and working pictures, the black-level range and the output text.
// A window owns one and turns its notifications into widget updates; the
// command-line converter drives one without any observer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/fast_matcher.h"
#include "engine/generator.h"
#include "engine/glyph_atlas.h"
#include "engine/text_image.h"
#include "image/image_record.h"
#include "platform/log_font.h"

namespace morvel {

class Font;
class GlyphRenderer;

// What the engine tells its shell. Every method has an empty default.
class EngineObserver {
public:
    virtual ~EngineObserver() = default;
    // Status bar part 0, 1 or 2 takes `text`.
    virtual void statusText(int part, const std::string& text)
    {
        (void)part;
        (void)text;
    }
    // A new font was made from the description (the text box follows it).
    virtual void fontChanged() {}
    // A new atlas was built: show it and lay the window out again.
    virtual void atlasRebuilt() {}
    // The atlas pixels changed in place (a blur): repaint the atlas pane.
    virtual void atlasBlurred() {}
    // The black-level range changed: the slider's maximum follows.
    virtual void blackLevelRangeChanged(int32_t range) { (void)range; }
    // A new working image replaced the old one: show it.
    virtual void workingImageChanged() {}
    // Generation started / finished (wait cursor on / off).
    virtual void generationStarted() {}
    virtual void generationFinished() {}
    // The text box takes `text` and repaints at once (after every line and at
    // the end of a run; an empty text when there is no working image).
    virtual void textChanged(const std::string& text) { (void)text; }
};

class TextEngine {
public:
    explicit TextEngine(EngineObserver* observer = nullptr, int dpi = kDefaultDpi);
    ~TextEngine();
    TextEngine(const TextEngine&) = delete;
    TextEngine& operator=(const TextEngine&) = delete;

    // --- Font and atlas ---
    // Fills the description with the default settings (draft quality, stroke
    // precisions, height -(points x dpi / 72)), makes the font, and sets the
    // point size. Returns false when no font could be made (the old font
    // stays).
    bool setDefaultFont(const std::string& face, int32_t points, int32_t weight)
    {
        return setDefaultFont(face, points, weight, false);
    }
    // The same with the description's italic flag set when `italic` (the
    // converter's --italic); the point size stays `points`.
    bool setDefaultFont(const std::string& face, int32_t points, int32_t weight, bool italic);
    // Takes a description chosen in a font dialog: makes the font and sets
    // the point size from |lfHeight|. Returns false when no font could be made.
    bool applyFontDescription(const LogFont& description);
    // Tests and tools may render from their own glyphs instead of a font.
    void useRenderer(std::unique_ptr<GlyphRenderer> renderer, const std::string& faceName, int32_t pointSize);
    // Renders the current font into a new unblurred atlas and glyph table.
    void buildGlyphAtlas();
    // One blur pass over the atlas, counted.
    void blurFont();
    // Sets the black-level range from the darkest glyph cell.
    void updateBlackLevelRange();

    // --- Pictures ---
    // The loaded picture (8-bit gray), or none after a failed load: the
    // working image then stays as it was.
    void setSourceImage(ImageHandle source);
    // Replaces the working image with the source stretched to `level`.
    void applyBlackLevel(int32_t level);

    // --- Generation ---
    // The toggle's two modes (tone is a setting of its own in the window).
    void setMatchMode(MatchMode mode) { matchMode_ = mode; }
    MatchMode matchMode() const { return matchMode_; }

    // The one entry from a gray picture to its text image. `picture` (8-bit
    // gray) is read, never changed; `settings` say how. The picture is
    // fitted to the settings' size and walked a band of the canvas at a
    // time, so an enlarged picture is never held whole. The footer, when
    // `displayName` is given, names it with the font, the blur count and the
    // level. `onLine` sees the text so far after each line, in order.
    // `fitted` is the fit a loader already scaled the picture by (used when
    // the picture is no larger than its scaled size: a loader only shrinks).
    // The fast choosers and the parallel walk give the plain walks' text
    // byte for byte.
    TextImage makeTextImage(const ImageRecord& picture, const TextSettings& settings, const std::string* displayName,
                            const LineCallback& onLine = {}, const ColumnFit* fitted = nullptr) const;

    // Whether the settings' characters can be matched (in tone mode: some
    // character of the ramp has a width).
    bool canMatch(const TextSettings& settings) const;

    // The window's Generate: the text of the source picture with `settings`
    // at the black level last applied (the working image's), the footer
    // naming `settings.footerLevel` (the slider's position) and, after the
    // footer, the match mode when it is not correlation. Lines reach
    // textChanged as they are made; the status bar gets the width.
    // `picture`, when given, stands in for the source: the same picture as
    // a loader gave it at the settings' size (`fitted` its fit).
    void generateTextImage(const TextSettings& settings, ImageHandle picture = nullptr,
                           const ColumnFit* fitted = nullptr);
    // The same with the toggle's mode at the natural size, the footer naming
    // `blackLevel`.
    void generateTextImage(int32_t blackLevel);
    // The last Generate's text image (its cells, its size).
    const TextImage& lastTextImage() const { return lastText_; }
    // The walk of generateTextImage alone: the text of the working image with
    // `footer` (may be null) appended, without touching the output text,
    // the status bar or the observer. No lines without a working image or
    // atlas.
    GeneratedText generateLines(const TextFooter* footer = nullptr) const;
    // Generation refuses a picture whose text could exceed this many bytes
    // (kMaxTextBytes unless changed).
    void setTextLimit(int64_t bytes) { textLimit_ = bytes; }
    int64_t textLimit() const { return textLimit_; }
    // Threads for generation: 0 (the default) one per processor core, 1 none
    // besides the caller's.
    void setJobs(int jobs) { jobs_ = jobs < 0 ? 0 : jobs; }
    int jobs() const { return jobs_; }
    // The choosers on the working image and atlas; the space (0) when either
    // is missing or the h x m block at (x, y) does not lie inside the picture.
    int32_t correlationScore(int32_t x, int32_t y) const;
    int32_t differenceScore(int32_t x, int32_t y) const;

    // --- State ---
    AtlasView atlasView() const;
    const ImageRecord* glyphAtlas() const { return atlas_.get(); }
    const std::vector<GlyphEntry>& glyphTable() const { return glyphs_; }
    int32_t cellHeight() const { return cellHeight_; }
    int32_t maxGlyphWidth() const { return maxGlyphWidth_; }
    int32_t glyphCount() const { return static_cast<int32_t>(glyphs_.size()); }
    int32_t atlasMargin() const { return atlasMargin_; }
    int32_t blurCount() const { return blurCount_; }
    // Each glyph cell's pixel sum in the atlas as built, before any blur: the
    // glyphs' own tones (glyphCellSums), kept per build for tone matching.
    const std::vector<int64_t>& glyphCellSums() const { return cellSums_; }
    int32_t pointSize() const { return pointSize_; }
    int32_t blackLevelRange() const { return blackLevelRange_; }
    const LogFont& fontDescription() const { return fontDescription_; }
    const Font* font() const;  // none before the first font, or with useRenderer
    std::string faceName() const { return fontDescription_.lfFaceName; }
    // The face the glyphs are drawn in: the installed face that stands in
    // for the description's face when that one is not installed. This is
    // the face the footer and status bar name.
    std::string drawnFaceName() const;
    const ImageRecord* sourceImage() const { return source_.get(); }
    const ImageRecord* workingImage() const { return working_.get(); }
    const std::string& outputText() const { return outputText_; }
    int32_t widestLine() const { return widest_; }
    const std::string& displayName() const { return displayName_; }
    void setDisplayName(const std::string& name) { displayName_ = name; }
    int dpi() const { return dpi_; }

private:
    EngineObserver* observer_;
    mutable EngineObserver silent_;  // stands in when there is no observer
    EngineObserver& events() const;
    // True when the h x m block at (x, y) lies inside the working image and
    // the atlas can be compared against it.
    bool blockFits(int32_t x, int32_t y) const;
    // The prepared glyphs of the current atlas state, made on first use after
    // each build or blur; none when they cannot be made (the plain walk
    // stands in).
    const FastMatcher* matcher() const;
    // Makes the font of `description` and, when it can be made, takes it with
    // the description and point size. False (nothing changed) otherwise.
    bool adoptFont(const LogFont& description, int32_t points);
    // The walk itself, fast when the matcher is there.
    GeneratedText walk(const TextFooter* footer, const LineCallback& onLine) const;

    // The glyphs matched against for a set of characters and mode, made once
    // and kept until the atlas or those settings change.
    struct Choosers {
        uint64_t atlasVersion = 0;
        std::string chars;
        bool forTone = false;
        int32_t toneLevel = 0;
        double gamma = 0;
        std::vector<GlyphEntry> candidates;
        AtlasView view;
        std::unique_ptr<FastMatcher> matcher;
        std::optional<ToneSetup> tone;
    };
    const Choosers& choosersFor(const TextSettings& settings) const;
    // The fit of a picture of width x height to `size` (`fitted`: the fit a
    // loader scaled it by); none when it cannot be scaled.
    std::optional<ColumnFit> fitFor(int32_t width, int32_t height, const SizeRule& size, const ColumnFit* fitted) const;

    int dpi_;
    LogFont fontDescription_{};
    std::unique_ptr<GlyphRenderer> renderer_;
    Font* font_ = nullptr;  // renderer_ when it is a real font
    int32_t pointSize_ = 0;

    ImageHandle atlas_;
    std::vector<GlyphEntry> glyphs_;
    int32_t atlasMargin_ = kAtlasMargin;
    int32_t cellHeight_ = -1;
    int32_t maxGlyphWidth_ = -1;
    int32_t blurCount_ = 0;
    std::vector<int64_t> cellSums_;
    int32_t blackLevelRange_ = 0;
    mutable std::unique_ptr<FastMatcher> matcher_;  // dropped whenever the atlas changes
    uint64_t atlasVersion_ = 0;                     // counts builds and blurs
    mutable std::unique_ptr<Choosers> choosers_;
    int32_t appliedLevel_ = 0;  // the working image's black level
    TextImage lastText_;
    int jobs_ = 0;

    MatchMode matchMode_ = MatchMode::Correlation;
    ImageHandle source_;
    ImageHandle working_;
    std::string displayName_ = "No Image Loaded";
    std::string outputText_;
    int32_t widest_ = 0;
    int64_t textLimit_ = kMaxTextBytes;
};

}  // namespace morvel
