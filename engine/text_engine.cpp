#include "engine/text_engine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "engine/band_walk.h"
#include "engine/black_level.h"
#include "engine/blur.h"
#include "engine/fast_black_level.h"
#include "engine/glyph_set.h"
#include "engine/parallel_walk.h"
#include "engine/tone_match.h"
#include "image/picture_transform.h"
#include "platform/font.h"
#include "platform/glyph_renderer.h"

namespace morvel {

TextEngine::TextEngine(EngineObserver* observer, int dpi) : observer_(observer), dpi_(dpi)
{
    std::memset(&fontDescription_, 0, sizeof fontDescription_);
}

TextEngine::~TextEngine() = default;

EngineObserver& TextEngine::events() const
{
    return observer_ ? *observer_ : silent_;
}

const Font* TextEngine::font() const
{
    return font_;
}

bool TextEngine::setDefaultFont(const std::string& face, int32_t points, int32_t weight, bool italic)
{
    // A size that names no height (none, negative, or too large for 32 bits)
    // makes no font.
    const int32_t pixels = points > 0 ? mulDiv(points, dpi_, 72) : -1;
    if (pixels < 0)
        return false;

    LogFont description;
    std::memset(&description, 0, sizeof description);
    description.lfOutPrecision = 3;   // stroke precision
    description.lfClipPrecision = 2;  // stroke precision
    description.lfQuality = 1;        // draft quality
    setFaceName(description, face);
    // Negative: the height names the character height without internal leading.
    description.lfHeight = -pixels;
    description.lfWeight = weight;
    description.lfItalic = italic ? 1 : 0;
    return adoptFont(description, points);
}

bool TextEngine::applyFontDescription(const LogFont& description)
{
    // |lfHeight| must be representable for the point-size rule.
    if (description.lfHeight == std::numeric_limits<int32_t>::min())
        return false;
    return adoptFont(description, mulDiv(std::abs(description.lfHeight), 72, dpi_));
}

bool TextEngine::adoptFont(const LogFont& description, int32_t points)
{
    std::unique_ptr<Font> made = Font::create(description, dpi_);
    if (!made)
        return false;  // the old description, font and point size stay together
    fontDescription_ = description;
    // The description may come without a terminator; the face name is read as
    // a string everywhere else.
    fontDescription_.lfFaceName[kFaceNameSize - 1] = '\0';
    font_ = made.get();
    renderer_ = std::move(made);
    pointSize_ = points;
    events().fontChanged();
    return true;
}

void TextEngine::useRenderer(std::unique_ptr<GlyphRenderer> renderer, const std::string& faceName, int32_t pointSize)
{
    renderer_ = std::move(renderer);
    font_ = nullptr;
    setFaceName(fontDescription_, faceName);
    pointSize_ = pointSize;
}

std::string TextEngine::drawnFaceName() const
{
    return font_ != nullptr ? font_->faceUsed() : faceName();
}

void TextEngine::buildGlyphAtlas()
{
    // Without a font, or when the atlas cannot be made (unusable metrics, no
    // memory), the previous atlas, table and blur count stay in force: the
    // matching steps need a complete atlas and table or none at all.
    if (!renderer_)
        return;
    std::optional<BuiltAtlas> built = renderGlyphAtlas(*renderer_, atlasMargin_);
    if (!built)
        return;

    matcher_.reset();
    ++atlasVersion_;
    atlas_ = std::move(built->atlas);
    glyphs_ = std::move(built->glyphs);
    cellHeight_ = built->cellHeight;
    maxGlyphWidth_ = built->maxGlyphWidth;
    blurCount_ = 0;
    cellSums_ = morvel::glyphCellSums(atlasView());

    events().atlasRebuilt();
    events().statusText(1, "0");
    char status[64];
    std::snprintf(status, sizeof status, " %d", static_cast<int>(pointSize_));
    events().statusText(0, drawnFaceName() + status);
}

void TextEngine::blurFont()
{
    if (!atlas_)
        return;
    blurImage(atlas_.get());
    matcher_.reset();
    ++atlasVersion_;
    ++blurCount_;
    events().statusText(1, std::to_string(blurCount_));
    events().atlasBlurred();
}

void TextEngine::updateBlackLevelRange()
{
    if (!atlas_)
        return;
    blackLevelRange_ = darkestCellMean(atlasView());
    events().blackLevelRangeChanged(blackLevelRange_);
}

void TextEngine::setSourceImage(ImageHandle source)
{
    source_ = std::move(source);
}

void TextEngine::applyBlackLevel(int32_t level)
{
    if (!source_ || level < 0 || level > 255)
        return;
    // When the stretched copy cannot be made the old working image is dropped
    // all the same: it may belong to an earlier picture or level, and
    // generating from it would mislabel the text.
    working_ = stretchToBlackLevelFast(*source_, level);
    appliedLevel_ = level;
    events().workingImageChanged();
}

void TextEngine::generateTextImage(int32_t blackLevel)
{
    TextSettings settings;
    settings.mode = matchMode_;
    settings.footerLevel = blackLevel;
    generateTextImage(settings);
}

void TextEngine::generateTextImage(const TextSettings& asked, ImageHandle picture, const ColumnFit* fitted)
{
    if (!working_ || !source_) {
        events().textChanged(std::string());
        return;
    }
    if (!atlas_)
        return;

    events().generationStarted();
    widest_ = 0;
    outputText_.clear();

    // The picture is walked at the level applied to the working image.
    TextSettings settings = asked;
    settings.blackLevel = appliedLevel_;
    settings.blackLevelMax = false;
    // The window colours the text by its cells.
    settings.cells = true;
    TextImage made = makeTextImage(
        picture ? *picture : *source_, settings, &displayName_,
        [this](const std::string& soFar) { events().textChanged(soFar); }, picture ? fitted : nullptr);
    if (made.failure != TextFailure::None) {
        // Nothing is made; the text box shows the (cleared) output text and
        // the status bar says why.
        events().textChanged(outputText_);
        events().generationFinished();
        events().statusText(2, made.failure == TextFailure::TooLarge ? "Text image too large"
                                                                     : "Cannot make the text image");
        return;
    }
    lastText_ = std::move(made);
    outputText_ = lastText_.text;
    widest_ = lastText_.widest;
    events().textChanged(outputText_);
    events().generationFinished();

    char status[64];
    std::snprintf(status, sizeof status, "%d characters wide", static_cast<int>(widest_));
    events().statusText(2, status);
}

const TextEngine::Choosers& TextEngine::choosersFor(const TextSettings& s) const
{
    const int32_t toneLevel = s.blackLevelMax ? 0 : s.blackLevel;
    const bool tone = s.mode == MatchMode::Tone;
    if (choosers_ && choosers_->atlasVersion == atlasVersion_ && choosers_->chars == s.chars &&
        choosers_->forTone == tone && (!tone || (choosers_->toneLevel == toneLevel && choosers_->gamma == s.gamma)))
        return *choosers_;
    auto made = std::make_unique<Choosers>();
    made->atlasVersion = atlasVersion_;
    made->chars = s.chars;
    made->forTone = tone;
    made->toneLevel = toneLevel;
    made->gamma = s.gamma;
    made->candidates = s.chars.empty() ? glyphs_ : glyphsAmong(atlasView(), s.chars);
    made->view = restrictedView(atlasView(), made->candidates);
    if (tone) {
        // The candidates' tones from the unblurred atlas; --chars takes the
        // place of the ramp.
        made->tone = makeToneSetup(atlasView(), cellSums_, s.chars.empty() ? std::string(kToneRamp) : s.chars,
                                   toneLevel, s.gamma);
    } else {
        try {
            made->matcher = std::make_unique<FastMatcher>(made->view);
        } catch (const std::bad_alloc&) {
            made->matcher.reset();  // the plain walk stands in
        }
    }
    choosers_ = std::move(made);
    return *choosers_;
}

bool TextEngine::canMatch(const TextSettings& settings) const
{
    return atlas_ && (settings.mode != MatchMode::Tone || choosersFor(settings).tone.has_value());
}

std::optional<ColumnFit> TextEngine::fitFor(int32_t width, int32_t height, const SizeRule& size,
                                            const ColumnFit* fitted) const
{
    // The loader's fit when it scaled the picture by it: a loader shrinks
    // the directions that shrink and leaves those that grow at the
    // picture's own size (the fit of the picture's own size, which is not
    // always that of the scaled one).
    if (fitted && width <= fitted->scaled.width && height <= fitted->scaled.height)
        return *fitted;
    if (size.columns == 0 && size.rows == 0)
        return ColumnFit{{width, height}, {width, height}};
    return fitText(width, height, size, maxGlyphWidth_, cellHeight_);
}

TextImage TextEngine::makeTextImage(const ImageRecord& picture, const TextSettings& settings,
                                    const std::string* displayName, const LineCallback& onLine,
                                    const ColumnFit* fitted) const
{
    TextImage result;
    if (!atlas_) {
        result.failure = TextFailure::NoAtlas;
        return result;
    }
    if (picture.header.biBitCount != 8 || picture.rows == nullptr) {
        result.failure = TextFailure::CannotScale;
        return result;
    }
    const Choosers& choosers = choosersFor(settings);
    if (settings.mode == MatchMode::Tone && !choosers.tone) {
        result.failure = TextFailure::NoTone;
        return result;
    }
    // The canvas is made a band at a time as it is walked: an enlarged
    // picture is never held whole.
    const std::optional<ColumnFit> fit = fitFor(picture.header.biWidth, picture.rowCount, settings.size, fitted);
    std::optional<FittedRows> canvas;
    if (fit)
        canvas.emplace(picture, fit->scaled.width, fit->scaled.height, fit->canvas.width, fit->canvas.height);
    if (!canvas || !canvas->ready()) {
        result.failure = TextFailure::CannotScale;
        return result;
    }
    result.content = fit->scaled;
    result.canvas = fit->canvas;
    if (textBytesUpperBound(fit->canvas.width, fit->canvas.height, choosers.view) > textLimit_) {
        result.failure = TextFailure::TooLarge;
        return result;
    }
    result.blackLevel = choosers.tone            ? choosers.tone->blackLevel
                        : settings.blackLevelMax ? blackLevelRange_
                                                 : settings.blackLevel;
    const int32_t named = choosers.tone || settings.footerLevel < 0 ? result.blackLevel : settings.footerLevel;
    const TextFooter footer{displayName != nullptr ? *displayName : std::string(), pointSize_, drawnFaceName(),
                            blurCount_, named};
    const WalkChoice choice{
        &choosers.view,    choosers.matcher.get(), choosers.tone ? &*choosers.tone : nullptr, settings.mode, jobs_,
        result.blackLevel, settings.invert};
    GeneratedText generated = walkFittedCanvas(*canvas, choice, displayName != nullptr ? &footer : nullptr, onLine);
    if (generated.tooLarge) {
        result.failure = TextFailure::NoMemory;
        return result;
    }
    result.cellHeight = cellHeight_;
    result.lineCount = bandCount(fit->canvas.height, cellHeight_);
    result.widest = generated.widest;
    result.text = std::move(generated.text);
    // The footer's last line says when the picture was matched inverted.
    if (displayName != nullptr && settings.invert)
        result.text += "Inverted\r\n";
    // And, when asked, which mode drew the text when it is not the default.
    if (displayName != nullptr && settings.footerNamesMode && settings.mode != MatchMode::Correlation)
        result.text += settings.mode == MatchMode::Tone ? "Tone matching\r\n" : "Difference matching\r\n";
    if (settings.cells)
        result.cells = textCells(result.text, result.lineCount, choosers.view);
    return result;
}

const FastMatcher* TextEngine::matcher() const
{
    if (!atlas_)
        return nullptr;
    if (!matcher_) {
        try {
            matcher_ = std::make_unique<FastMatcher>(atlasView());
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    return matcher_->usable() ? matcher_.get() : nullptr;
}

GeneratedText TextEngine::walk(const TextFooter* footer, const LineCallback& onLine) const
{
    if (textBytesUpperBound(*working_, atlasView()) > textLimit_) {
        GeneratedText refused;
        refused.tooLarge = true;
        return refused;
    }
    if (const FastMatcher* fast = matcher())
        return generateTextFast(*working_, *fast, matchMode_, footer, onLine, jobs_);
    return generateText(*working_, atlasView(), matchMode_, footer, onLine);
}

GeneratedText TextEngine::generateLines(const TextFooter* footer) const
{
    if (!working_ || !atlas_) {
        GeneratedText none;
        if (footer)
            none.text = formatFooter(*footer);
        return none;
    }
    return walk(footer, {});
}

bool TextEngine::blockFits(int32_t x, int32_t y) const
{
    if (!working_ || !working_->rows || working_->header.biBitCount != 8 || !atlasViewIsUsable(atlasView()))
        return false;
    return x >= 0 && y >= 0 && int64_t{x} + maxGlyphWidth_ <= working_->header.biWidth &&
           int64_t{y} + cellHeight_ <= working_->rowCount;
}

int32_t TextEngine::correlationScore(int32_t x, int32_t y) const
{
    // Outside the picture, or with nothing to compare, the space.
    if (!blockFits(x, y))
        return 0;
    return morvel::correlationScore(*working_, atlasView(), x, y);
}

int32_t TextEngine::differenceScore(int32_t x, int32_t y) const
{
    if (!blockFits(x, y))
        return 0;
    return morvel::differenceScore(*working_, atlasView(), x, y);
}

AtlasView TextEngine::atlasView() const
{
    AtlasView view;
    if (!atlas_)
        return view;
    view.atlas = atlas_.get();
    view.glyphs = glyphs_.data();
    view.glyphCount = glyphCount();
    view.cellHeight = cellHeight_;
    view.maxGlyphWidth = maxGlyphWidth_;
    view.margin = atlasMargin_;
    return view;
}

}  // namespace morvel
