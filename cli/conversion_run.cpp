#include "cli/conversion_run.h"

#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>

#include "cli/cell_shape.h"
#include "cli/input.h"
#include "cli/output.h"
#include "cli/output_names.h"
#include "cli/terminal.h"
#include "cli/terminal_colours.h"
#include "engine/text_picture.h"
#include "image/png_writer.h"
#include "platform/font.h"
#include "platform/printable_name.h"

namespace morvel::cli {

namespace {

// What the pictures loaded ahead may hold between them (a picture alone may
// hold more).
constexpr int64_t kLoadAheadBudget = int64_t{256} << 20;

void complain(const std::string& message)
{
    std::fprintf(stderr, "morvel-text: %s\n", message.c_str());
}

// Font, atlas, blurs and black-level range, once for every picture:
// generation reads the atlas and never changes it. `cell` is given the
// atlas's glyph size as soon as it is known; `ink`, when given, where the
// glyphs put ink before the atlas is blurred.
bool prepareEngine(TextEngine& engine, const Options& o, std::promise<GlyphCell>& cell, GlyphInk* ink)
{
    if (!engine.setDefaultFont(o.face, o.points, o.weight, o.italic) || engine.font() == nullptr) {
        complain("no usable font for \"" + o.face + "\" at " + std::to_string(o.points) + " points");
        return false;
    }
    const Font& font = *engine.font();
    // The default face stands in for itself unnoticed: on most systems it
    // is not installed and the monospaced face is expected.
    if (font.isSubstitute() && o.faceNamed) {
        complain("font \"" + o.face + "\" is not installed; using \"" + font.faceUsed() + "\"");
    }
    engine.buildGlyphAtlas();
    if (engine.glyphAtlas() == nullptr) {
        complain("cannot build the glyph atlas for \"" + font.faceUsed() + "\" at " + std::to_string(o.points) +
                 " points");
        return false;
    }
    cell.set_value({engine.maxGlyphWidth(), engine.cellHeight()});
    if (ink != nullptr) {
        *ink = glyphInkOf(engine.atlasView());
    }
    for (int32_t i = 0; i < o.blur; ++i) {
        engine.blurFont();
    }
    engine.updateBlackLevelRange();
    return true;
}

// A regular file of at most 64 KiB (standard input and what cannot be
// examined are not small).
bool isSmallFile(const std::string& path)
{
    struct stat info {};
    return path != kStdinName && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= 65536;
}

// The bounds of `size` as a message names them.
std::string describeSize(const SizeRule& size)
{
    if (size.rows == 0) {
        return std::to_string(size.columns) + " columns";
    }
    if (size.columns == 0) {
        return std::to_string(size.rows) + " rows";
    }
    return std::to_string(size.columns) + " columns and " + std::to_string(size.rows) + " rows";
}

// The lines of the footer, as convert appends it.
int32_t footerLines(const Options& o)
{
    if (!o.footer) {
        return 0;
    }
    return o.invert ? 6 : 5;
}

// Settles --background auto: inverts for a dark terminal, as the terminal
// answered, else as COLORFGBG says, else light. Says what it chose when
// asked to be verbose. Returns true for a dark background.
bool settleBackground(Options& o, bool toTerminal, const TerminalAnswers& answers)
{
    std::string how = "--background";
    bool dark = o.background == BackgroundChoice::Dark;
    if (o.background == BackgroundChoice::Auto) {
        const char* colours = std::getenv("COLORFGBG");
        const auto named = colours ? backgroundFromColorFgBg(colours) : std::nullopt;
        if (!toTerminal) {
            how = "not a terminal";
        } else if (answers.background) {
            dark = *answers.background == Background::Dark;
            how = "the terminal's answer";
        } else if (named) {
            dark = *named == Background::Dark;
            how = "COLORFGBG";
        } else {
            how = answers.why;
        }
    }
    o.invert = o.invert || dark;
    if (o.verbose) {
        complain(std::string("background ") + (dark ? "dark" : "light") + " (" + how + ")");
    }
    return dark;
}

// What transparent parts of a picture are laid over: the page's colour in
// HTML and in a picture of the text (black when inverted), else black on a
// dark background and white on a light one, whether or not the picture is
// inverted afterwards (a white logo on a dark terminal stays white).
RgbColour groundColour(const Options& o, bool dark)
{
    const bool black = o.html || o.picture ? o.invert : dark;
    const uint8_t level = black ? 0 : 255;
    return {level, level, level};
}

// Font, atlas and the rest as prepareEngine makes them; `cell` is given a
// value on every path (zero when the engine cannot be prepared).
bool prepareEngineAndCell(TextEngine& engine, const Options& o, std::promise<GlyphCell>& cell, GlyphInk* ink)
{
    const bool ready = prepareEngine(engine, o, cell, ink);
    if (!ready) {
        try {
            cell.set_value({});
        } catch (const std::future_error&) {
            // Already given: the atlas was built.
        }
    }
    return ready;
}

// The bytes a picture of `natural` size loaded at `loaded` size (none: the
// natural size) holds while it loads and until it is taken: the gray
// picture, its colour when asked, and for a shrunk one the decoder's sums
// (up to 8 bytes a pixel of the result, for an interlaced picture).
int64_t loadBytes(PictureSize natural, const std::optional<PictureSize>& loaded, bool colour)
{
    const int64_t samples = colour ? 4 : 1;
    const int64_t naturalPixels = int64_t{natural.width} * natural.height;
    if (!loaded) {
        return naturalPixels * samples;
    }
    const int64_t pixels = int64_t{loaded->width} * loaded->height;
    return pixels * samples * (pixels < naturalPixels ? 9 : 1);
}

// What the loader is asked for: the picture upright when asked, and the size
// `size` gives it (the same rule the engine applies) in the directions
// where that shrinks it, so that a loader can decode at a reduced scale and
// shrink while it reads, with the same result as the whole picture shrunk
// afterwards. The glyph size comes from `cell`, waited for once the
// picture's size is known; the whole fit (with its canvas) is kept in
// `chosen`. Without bounds, or for a picture saved as gray, the natural
// size. Once the size is known, `reserve` (when given) is told the bytes
// the picture will hold (and may make the load wait for them).
LoadOptions loadOptionsFor(const Options& o, const SizeRule& size, const std::shared_future<GlyphCell>& cell,
                           std::optional<ColumnFit>* chosen, bool colour, const RgbColour& ground,
                           const std::function<void(int64_t)>& reserve = {})
{
    LoadOptions options;
    options.orient = o.orient;
    options.colour = colour;
    options.background = ground;
    const bool fitted = (size.columns > 0 || size.rows > 0) && o.saveGray.empty();
    options.fit = [size, cell, chosen, fitted, colour, reserve](int32_t width,
                                                                int32_t height) -> std::optional<PictureSize> {
        std::optional<PictureSize> wanted;
        if (fitted) {
            const GlyphCell glyphs = cell.get();
            *chosen = fitText(width, height, size, glyphs.maxWidth, glyphs.height);
            // The loader only shrinks: a direction that grows is enlarged
            // band by band as the text is made (see TextEngine::makeTextImage).
            if (*chosen) {
                wanted =
                    PictureSize{std::min(width, (*chosen)->scaled.width), std::min(height, (*chosen)->scaled.height)};
            }
        }
        if (reserve) {
            reserve(loadBytes({width, height}, wanted, colour));
        }
        return wanted;
    };
    return options;
}

// The colour mode of the run: as asked, or what auto means for the output
// (`terminal`: the text goes to a terminal).
ColourMode resolveColourMode(const Options& o, bool terminal)
{
    if (o.colour) {
        return *o.colour;
    }
    if (o.html || o.picture) {
        return ColourMode::TrueColour;
    }
    const char* noColor = std::getenv("NO_COLOR");
    const char* colorTerm = std::getenv("COLORTERM");
    // terminfo is read only when its answer counts.
    const ColourMode withoutTerminfo = autoColourMode(terminal, noColor, colorTerm, 256);
    if (withoutTerminfo != ColourMode::Palette256) {
        return withoutTerminfo;
    }
    return autoColourMode(terminal, noColor, colorTerm, terminfoColourCount(std::getenv("TERM")));
}

// Whether the cells get background colours: --fill with colour, in the
// terminal or in HTML (a picture of the text draws the characters' colours
// alone).
bool fillsCells(const Options& o, ColourMode mode)
{
    return o.fill && mode != ColourMode::None && !o.picture;
}

// The match mode in force. Cells filled in truecolor carry the picture's
// tone in their colours, so there the characters follow its shapes
// (correlation) unless a mode was asked for; a palette's few colours leave
// the tone to the characters.
MatchMode matchModeFor(const Options& o, ColourMode mode)
{
    if (!o.matchNamed && fillsCells(o, mode) && mode == ColourMode::TrueColour)
        return MatchMode::Correlation;
    return o.match;
}

// The page's look: the face drawn, its size, the cell height, the walk's
// advances, light on dark for an inverted picture (or a dark background).
HtmlStyle htmlStyleOf(const TextEngine& engine, const Options& o)
{
    HtmlStyle style;
    style.face = engine.font() ? engine.font()->faceUsed() : engine.faceName();
    style.pixelSize = engine.font() ? engine.font()->pixelSize() : engine.cellHeight();
    style.lineHeight = engine.cellHeight();
    style.dark = o.invert;
    style.advances = glyphAdvances(engine.atlasView());
    style.keepLineEnds = o.crlf;
    return style;
}

// The inks of `fills` into `inks` and their grounds into `grounds`; both
// emptied when there are no fills.
void splitFills(const std::vector<CellFill>& fills, std::vector<Rgb>& inks, std::vector<Rgb>& grounds)
{
    inks.clear();
    grounds.clear();
    inks.reserve(fills.size());
    grounds.reserve(fills.size());
    for (const CellFill& fill : fills) {
        inks.push_back(fill.ink);
        grounds.push_back(fill.ground);
    }
}

// The text as a PNG or SVG picture (see writeTextPicture): drawn from
// `glyphs`, the unblurred atlas of the face matched, coloured as `mode`
// shows `colours`. None when it cannot be made.
std::optional<std::string> textPicture(const std::string& text, const AtlasView& glyphs, const Font& font,
                                       const Options& o, const std::vector<Rgb>& colours, int32_t lineCount,
                                       ColourMode mode)
{
    std::vector<uint8_t> shown;
    shown.reserve(colours.size() * 3);
    for (const Rgb& c : colours) {
        const Rgb seen = colourOfKey(colourKey(c, mode), mode);
        shown.insert(shown.end(), {seen.red, seen.green, seen.blue});
    }
    TextPictureStyle style;
    style.dark = o.invert;
    if (!shown.empty()) {
        style.colours = shown.data();
        style.colourCount = colours.size();
        style.colouredLines = lineCount;
    }
    if (*o.picture == TextPictureFormat::Svg) {
        return textSvg(text, glyphs, SvgFace{font.faceUsed(), font.pixelSize(), font.ascent()}, style);
    }
    const ImageHandle picture = drawTextPicture(text, glyphs, style);
    return picture ? encodePng(*picture) : std::nullopt;
}

// `path` as messages show it.
std::string shown(const std::string& path)
{
    return printableName(path);
}

// The settings every picture is made with, from the options; `cells` when
// the text is coloured.
TextSettings settingsOf(const Options& o, const SizeRule& size, bool cells)
{
    TextSettings settings;
    settings.mode = o.match;
    settings.blackLevel = o.blackLevel;
    settings.blackLevelMax = o.blackLevelMax;
    settings.gamma = o.gamma;
    settings.chars = o.chars;
    settings.size = size;
    settings.invert = o.invert;
    settings.cells = cells;
    return settings;
}

// The name the footer and the page show for `path`.
std::string displayNameFor(const std::string& path)
{
    return path == kStdinName ? std::string(kStdinDisplayName) : shown(displayNameOf(path));
}

}  // namespace

ConversionRun::ConversionRun(Options options) : o_(std::move(options)), engine_(nullptr, o_.dpi) {}

ConversionRun::~ConversionRun() = default;

int ConversionRun::run()
{
    // Before anything is read or written: no output may destroy an input
    // or another output.
    if (const auto conflict = outputConflict(o_)) {
        complain(*conflict);
        return 2;
    }
    askTerminal();
    startEngineAndLoads();
    if (const std::optional<int> status = prepare())
        return *status;
    for (size_t i = 0; i < o_.pictures.size() && !writeFailed_; ++i)
        convertPicture(i);
    return finish();
}

void ConversionRun::askTerminal()
{
    // The text goes to standard output unless -o names a file ("-" is
    // standard output too).
    toStandardOutput_ = o_.output.empty() || o_.output == kStdinName;
    // The terminal is asked its background and cell before the second
    // thread starts, so that the signals held back meanwhile are held for
    // the whole process; only what neither the options nor its window size
    // tell.
    terminal_ = toStandardOutput_ ? terminalSize() : std::nullopt;
    const bool askBackground = terminal_ && o_.background == BackgroundChoice::Auto;
    const bool askCell = terminal_ && cellFromTerminal(o_) && !(cellRatioOf(*terminal_) > 0);
    TerminalAnswers answers;
    if (askBackground || askCell)
        answers = cli::askTerminal({askBackground, askCell}, kAnswerTimeoutMs);
    ground_ = groundColour(o_, settleBackground(o_, terminal_.has_value(), answers));
    const CellChoice shownCell = chooseCell(o_, terminal_, answers.cellRatio);
    if (o_.verbose)
        complain(describeCell(shownCell));
    size_ = sizeRuleFor(o_, terminal_, footerLines(o_), shownCell.ratio);
    colourMode_ = resolveColourMode(o_, terminal_.has_value());
    colour_ = colourMode_ != ColourMode::None;
    o_.match = matchModeFor(o_, colourMode_);
    // An animation to be played or taken apart gives its frames instead of
    // the picture loaded (a GIF's first image); an animated WebP that no
    // reader takes as a still gives its first frame.
    play_ = terminal_.has_value() && o_.animate && !o_.html && !o_.picture;
    takeApart_ = play_ || o_.frame != 0 || o_.allFrames;
}

void ConversionRun::startEngineAndLoads()
{
    // The font, atlas and blurs are made on a second thread while the first
    // picture loads: the two take similar time and share nothing (the engine
    // and its font are touched only by that thread until it is done; the
    // loader only waits for the glyph size).
    cell_ = cellPromise_.get_future().share();
    GlyphInk* const ink = o_.fill ? &glyphInk_ : nullptr;
    // One small picture takes less time to load than a thread takes to
    // start: the engine is then prepared and the picture loaded on this
    // thread, one after the other.
    // One small picture, or --jobs 1: everything on this thread, one
    // picture loaded at a time (the least memory).
    const bool alone = (o_.pictures.size() == 1 && isSmallFile(o_.pictures[0])) || o_.jobs == 1;
    try {
        if (!alone) {
            prepared_ = std::async(std::launch::async,
                                   [this, ink] { return prepareEngineAndCell(engine_, o_, cellPromise_, ink); });
        }
    } catch (const std::system_error&) {
        // No thread to be had: one after the other.
    }
    // The pictures are loaded ahead on threads of their own: the first while
    // the engine is prepared, the next ones while the one before is matched.
    // Decoding takes most of a shrunk picture's time, so as many are decoded
    // at once as there are cores, as long as what they hold fits the budget:
    // each load reserves the bytes its picture will hold once its size is
    // known. A picture's colour comes at its gray picture's size.
    loaderFits_.resize(o_.pictures.size());
    const size_t depth = alone ? 0 : std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8);
    loads_.emplace(o_.pictures.size(), depth, kLoadAheadBudget, [this](size_t i, const LoadAhead::Reserve& reserve) {
        return readNamedPicture(o_.pictures[i],
                                loadOptionsFor(o_, size_, cell_, &loaderFits_[i], colour_, ground_, reserve));
    });
}

std::optional<int> ConversionRun::prepare()
{
    GlyphInk* const ink = o_.fill ? &glyphInk_ : nullptr;
    if (!(prepared_.valid() ? prepared_.get() : prepareEngineAndCell(engine_, o_, cellPromise_, ink)))
        return 1;
    engine_.setJobs(o_.jobs);
    settings_ = settingsOf(o_, size_, colour_);
    // Tone mode matches the characters of the ramp (or --chars) that have
    // a width.
    if (!engine_.canMatch(settings_)) {
        complain("no character of the tone ramp has a width in \"" + engine_.font()->faceUsed() + "\"");
        return 1;
    }
    if (o_.picture && terminal_) {
        complain("a picture is not written to a terminal; name a file with -o");
        return 2;
    }
    // A picture of the text is drawn from the unblurred glyphs.
    if (o_.picture) {
        plainGlyphs_ = renderGlyphAtlas(*engine_.font());
        if (plainGlyphs_)
            plainView_ = AtlasView{plainGlyphs_->atlas.get(),
                                   plainGlyphs_->glyphs.data(),
                                   static_cast<int32_t>(plainGlyphs_->glyphs.size()),
                                   plainGlyphs_->cellHeight,
                                   plainGlyphs_->maxGlyphWidth,
                                   kAtlasMargin};
    }
    outputName_ = toStandardOutput_ ? std::string("standard output") : shown(o_.output);
    if (!out_.open(toStandardOutput_ ? std::string(kStdinName) : o_.output, writeError_)) {
        complain("cannot write " + outputName_ + ": " + writeError_);
        return 1;
    }
    htmlStyle_ = htmlStyleOf(engine_, o_);
    return std::nullopt;
}

void ConversionRun::convertPicture(size_t index)
{
    const std::string& path = o_.pictures[index];
    LoadResult loaded = loads_->take(index);
    std::optional<std::string> text;
    if (const auto frames = animationToShow(path, takeApart_, loaded.gray != nullptr)) {
        loaded = {};
        if (play_) {
            playFrames(*frames, path, index);
            return;
        }
        text = framesTextOf(*frames, path, index);
    } else {
        text = textOf(loaded, loaderFits_[index], path, index);
    }
    if (text)
        write(std::move(*text));
}

std::optional<std::string> ConversionRun::textOf(LoadResult& loaded, const std::optional<ColumnFit>& loaderFit,
                                                 const std::string& path, size_t index)
{
    const std::string displayName = displayNameFor(path);
    std::optional<TextImage> image = textImageOf(loaded, loaderFit, path, displayName, index);
    if (!image)
        return std::nullopt;
    const CellColours colours = colour(*image, loaded);
    return shownText(*image, colours, path, displayName);
}

std::optional<TextImage> ConversionRun::textImageOf(LoadResult& loaded, const std::optional<ColumnFit>& loaderFit,
                                                    const std::string& path, const std::string& displayName,
                                                    size_t index)
{
    // The gray picture is taken from `loaded`, its colour left there; it is
    // done with before the text goes out.
    const ImageHandle picture = std::move(loaded.gray);
    if (!picture) {
        complain("cannot read picture: " + shown(path) + ": " + loaded.error);
        anyFailed_ = true;
        return std::nullopt;
    }
    // Drawn all the same; the run's status stays what it would be.
    if (!loaded.warning.empty())
        complain(shown(path) + ": " + loaded.warning);
    if (!o_.saveGray.empty()) {
        const std::string grayPath = expandIndex(o_.saveGray, static_cast<int>(index) + 1);
        std::string error;
        if (!writePgm(grayPath, *picture, error)) {
            complain("cannot write " + shown(grayPath) + ": " + error);
            anyFailed_ = true;
        }
    }
    TextImage image = engine_.makeTextImage(*picture, settings_, o_.footer ? &displayName : nullptr, {},
                                            loaderFit ? &*loaderFit : nullptr);
    switch (image.failure) {
    case TextFailure::None:
        return image;
    case TextFailure::CannotScale:
        complain("cannot scale picture to " + describeSize(size_) + ": " + shown(path));
        break;
    case TextFailure::TooLarge:
        complain("text image too large: " + shown(path));
        break;
    default:
        complain("out of memory converting picture: " + shown(path));
        break;
    }
    anyFailed_ = true;
    return std::nullopt;
}

CellColours ConversionRun::colour(TextImage& image, LoadResult& loaded) const
{
    CellColours colours;
    if (!colour_ || !loaded.colour)
        return colours;
    // The cells and the picture's colour are let go of as soon as the
    // colours are known: a long text has millions of cells.
    if (fillsCells(o_, colourMode_)) {
        const std::vector<CellFill> fills = fillColours(image, glyphInk_, *loaded.colour, o_.invert, colourMode_);
        std::vector<TextCell>().swap(image.cells);
        loaded.colour.reset();
        splitFills(fills, colours.inks, colours.grounds);
        return colours;
    }
    colours.inks = cellColours(image, *loaded.colour);
    std::vector<TextCell>().swap(image.cells);
    loaded.colour.reset();
    if (o_.colourBoost) {
        for (Rgb& c : colours.inks)
            c = boostColour(c, o_.invert);
    }
    return colours;
}

std::optional<std::string> ConversionRun::shownText(TextImage& image, const CellColours& colours,
                                                    const std::string& path, const std::string& displayName)
{
    if (o_.picture) {
        std::optional<std::string> drawn =
            textPicture(image.text, plainView_, *engine_.font(), o_, colours.inks, image.lineCount, colourMode_);
        if (!drawn) {
            complain("cannot draw the text as a picture: " + shown(path));
            anyFailed_ = true;
        }
        return drawn;
    }
    if (o_.html) {
        std::string page = pageStarted_ ? std::string() : htmlPageStart(htmlStyle_, displayName);
        pageStarted_ = true;
        page += htmlPre(htmlStyle_, image.text, image.lineCount, colours.inks, colourMode_, colours.grounds);
        return page;
    }
    if (colour_)
        return sgrText(image.text, image.lineCount, colours.inks, colourMode_, colours.grounds);
    return std::move(image.text);
}

void ConversionRun::playFrames(const Animation& frames, const std::string& path, size_t index)
{
    std::optional<ColumnFit> frameFit;
    const LoadOptions frameOptions = loadOptionsFor(o_, size_, cell_, &frameFit, colour_, ground_);
    const FrameText frameText = [&](LoadResult& frame) { return textOf(frame, frameFit, path, index); };
    if (converted_ > 0 && !writeText(out_, "\r\n", o_.crlf, writeError_)) {
        writeFailed_ = true;
        return;
    }
    const PlayOutcome played = playAnimation(frames, frameOptions, o_.loops, frameText, out_);
    if (played.end == PlayEnd::Interrupted) {
        out_.discard();
        std::signal(played.signal, SIG_DFL);
        std::raise(played.signal);
    }
    anyFailed_ = anyFailed_ || played.end == PlayEnd::Failed;
    ++converted_;
}

std::optional<std::string> ConversionRun::framesTextOf(const Animation& frames, const std::string& path, size_t index)
{
    std::optional<ColumnFit> frameFit;
    const LoadOptions frameOptions = loadOptionsFor(o_, size_, cell_, &frameFit, colour_, ground_);
    const FrameText frameText = [&](LoadResult& frame) { return textOf(frame, frameFit, path, index); };
    std::string text;
    std::string frameError;
    // Frames of text are parted by a line holding a form feed; a page's
    // frames are <pre>s already.
    if (!framesText(frames, frameOptions, takeApart_ ? o_.frame : 1, frameText, o_.html ? "" : "\f\r\n", text,
                    frameError)) {
        complain(shown(path) + ": " + frameError);
        anyFailed_ = true;
        return std::nullopt;
    }
    return text;
}

void ConversionRun::write(std::string text)
{
    // An empty line between the texts of consecutive pictures.
    if (converted_ > 0 && !o_.html && !writeText(out_, "\r\n", o_.crlf, writeError_)) {
        writeFailed_ = true;
        return;
    }
    ++converted_;
    if (!(o_.picture ? out_.write(text, writeError_) : writeText(out_, std::move(text), o_.crlf, writeError_)))
        writeFailed_ = true;
}

int ConversionRun::finish()
{
    if (o_.html && converted_ > 0 && !writeFailed_ && !writeText(out_, htmlPageEnd(), false, writeError_))
        writeFailed_ = true;
    const std::string where = toStandardOutput_ ? std::string("to standard output") : outputName_;
    if (writeFailed_) {
        complain("cannot write " + where + ": " + writeError_);
        out_.discard();
        return 1;
    }
    if (converted_ == 0 && !toStandardOutput_) {
        // Nothing to put in it: the file is left as it was.
        out_.discard();
        return 1;
    }
    if (!out_.commit(writeError_)) {
        complain("cannot write " + where + ": " + writeError_);
        return 1;
    }
    return anyFailed_ ? 1 : 0;
}

}  // namespace morvel::cli
