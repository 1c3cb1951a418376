// morvel-text: prints the text image of each picture named on the command
// line, made as the window's Generate command makes it.

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/animation.h"
#include "cli/cell_aspect.h"
#include "cli/cell_colours.h"
#include "cli/colour_text.h"
#include "cli/html_page.h"
#include "cli/input.h"
#include "cli/load_ahead.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/output_names.h"
#include "cli/terminal.h"
#include "cli/text_size.h"
#include "engine/text_engine.h"
#include "engine/text_fit.h"
#include "engine/text_picture.h"
#include "image/load_picture.h"
#include "image/png_writer.h"
#include "platform/font.h"
#include "platform/output_file.h"
#include "platform/printable_name.h"

namespace {

using morvel::cli::Options;

void complain(const std::string& message)
{
    std::fprintf(stderr, "morvel-text: %s\n", message.c_str());
}

// The glyph size that fitting a picture to the text's size needs: known
// once the atlas is built, zero when there is none.
struct GlyphCell {
    int32_t maxWidth = 0;
    int32_t height = 0;
};

// Font, atlas, blurs and black-level range, once for every picture:
// generation reads the atlas and never changes it. `cell` is given the
// atlas's glyph size as soon as it is known.
bool prepareEngine(morvel::TextEngine& engine, const Options& o, std::promise<GlyphCell>& cell)
{
    if (!engine.setDefaultFont(o.face, o.points, o.weight, o.italic) || engine.font() == nullptr) {
        complain("no usable font for \"" + o.face + "\" at " + std::to_string(o.points) + " points");
        return false;
    }
    const morvel::Font& font = *engine.font();
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
    for (int32_t i = 0; i < o.blur; ++i) {
        engine.blurFont();
    }
    engine.updateBlackLevelRange();
    return true;
}

// The bounds of `size` as a message names them.
std::string describeSize(const morvel::SizeRule& size)
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
bool settleBackground(Options& o, bool toTerminal, const morvel::cli::TerminalAnswers& answers)
{
    std::string how = "--background";
    bool dark = o.background == morvel::cli::BackgroundChoice::Dark;
    if (o.background == morvel::cli::BackgroundChoice::Auto) {
        const char* colours = std::getenv("COLORFGBG");
        const auto named = colours ? morvel::cli::backgroundFromColorFgBg(colours) : std::nullopt;
        if (!toTerminal) {
            how = "not a terminal";
        } else if (answers.background) {
            dark = *answers.background == morvel::cli::Background::Dark;
            how = "the terminal's answer";
        } else if (named) {
            dark = *named == morvel::cli::Background::Dark;
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
morvel::RgbColour groundColour(const Options& o, bool dark)
{
    const bool black = o.html || o.picture ? o.invert : dark;
    const uint8_t level = black ? 0 : 255;
    return {level, level, level};
}

// Font, atlas and the rest as prepareEngine makes them; `cell` is given a
// value on every path (zero when the engine cannot be prepared).
bool prepareEngineAndCell(morvel::TextEngine& engine, const Options& o, std::promise<GlyphCell>& cell)
{
    const bool ready = prepareEngine(engine, o, cell);
    if (!ready) {
        try {
            cell.set_value({});
        } catch (const std::future_error&) {
            // Already given: the atlas was built.
        }
    }
    return ready;
}

// What the loader is asked for: the picture upright when asked, and the size
// `size` gives it (the same rule the engine applies), so that a loader
// can decode at a reduced scale and shrink while it reads, with the same
// result as the whole picture shrunk afterwards. The glyph size comes from
// `cell`, waited for once the picture's size is known; the whole fit (with
// its canvas) is kept in `chosen`. Without bounds, or for a picture saved as
// gray, the natural size.
morvel::LoadOptions loadOptionsFor(const Options& o, const morvel::SizeRule& size,
                                   const std::shared_future<GlyphCell>& cell, std::optional<morvel::ColumnFit>* chosen,
                                   bool colour, const morvel::RgbColour& ground)
{
    morvel::LoadOptions options;
    options.orient = o.orient;
    options.colour = colour;
    options.background = ground;
    if ((size.columns > 0 || size.rows > 0) && o.saveGray.empty()) {
        options.fit = [size, cell, chosen](int32_t width, int32_t height) -> std::optional<morvel::PictureSize> {
            const GlyphCell glyphs = cell.get();
            *chosen = morvel::fitText(width, height, size, glyphs.maxWidth, glyphs.height);
            if (!*chosen) {
                return std::nullopt;
            }
            return (*chosen)->scaled;
        };
    }
    return options;
}

// The colour mode of the run: as asked, or what auto means for the output
// (`terminal`: the text goes to a terminal).
morvel::cli::ColourMode resolveColourMode(const Options& o, bool terminal)
{
    if (o.colour) {
        return *o.colour;
    }
    if (o.html || o.picture) {
        return morvel::cli::ColourMode::TrueColour;
    }
    return morvel::cli::autoColourMode(terminal, std::getenv("NO_COLOR"), std::getenv("COLORTERM"),
                                       std::getenv("TERM"));
}

// The page's look: the face drawn, its size, the cell height, the walk's
// advances, light on dark for an inverted picture (or a dark background).
morvel::cli::HtmlStyle htmlStyleOf(const morvel::TextEngine& engine, const Options& o)
{
    morvel::cli::HtmlStyle style;
    style.face = engine.font() ? engine.font()->faceUsed() : engine.faceName();
    style.pixelSize = engine.font() ? engine.font()->pixelSize() : engine.cellHeight();
    style.lineHeight = engine.cellHeight();
    style.dark = o.invert;
    style.advances = morvel::cli::glyphAdvances(engine.atlasView());
    style.keepLineEnds = o.crlf;
    return style;
}

// The text as a PNG or SVG picture (see writeTextPicture): drawn from
// `glyphs`, the unblurred atlas of the face matched, coloured as `mode`
// shows `colours`. None when it cannot be made.
std::optional<std::string> textPicture(const std::string& text, const morvel::AtlasView& glyphs,
                                       const morvel::Font& font, const Options& o,
                                       const std::vector<morvel::cli::Rgb>& colours, int32_t lineCount,
                                       morvel::cli::ColourMode mode)
{
    std::vector<uint8_t> shown;
    shown.reserve(colours.size() * 3);
    for (const morvel::cli::Rgb& c : colours) {
        const morvel::cli::Rgb seen = morvel::cli::colourOfKey(morvel::cli::colourKey(c, mode), mode);
        shown.insert(shown.end(), {seen.red, seen.green, seen.blue});
    }
    morvel::TextPictureStyle style;
    style.dark = o.invert;
    if (!shown.empty()) {
        style.colours = shown.data();
        style.colourCount = colours.size();
        style.colouredLines = lineCount;
    }
    if (*o.picture == morvel::TextPictureFormat::Svg) {
        return morvel::textSvg(text, glyphs, morvel::SvgFace{font.faceUsed(), font.pixelSize(), font.ascent()}, style);
    }
    const morvel::ImageHandle picture = morvel::drawTextPicture(text, glyphs, style);
    return picture ? morvel::encodePng(*picture) : std::nullopt;
}

// `path` as messages show it.
std::string shown(const std::string& path)
{
    return morvel::printableName(path);
}

// Saves the loaded gray picture when asked (--save-gray); false when that
// fails (already reported).
bool saveGrayWhenAsked(const morvel::ImageRecord& picture, const Options& o, int index)
{
    if (o.saveGray.empty()) {
        return true;
    }
    const std::string grayPath = morvel::cli::expandIndex(o.saveGray, index);
    std::string error;
    if (!morvel::cli::writePgm(grayPath, picture, error)) {
        complain("cannot write " + shown(grayPath) + ": " + error);
        return false;
    }
    return true;
}

// What the engine is asked for, from the options.
morvel::TextSettings textSettingsOf(const Options& o, const morvel::SizeRule& size)
{
    morvel::TextSettings settings;
    settings.mode = o.match;
    settings.blackLevel = o.blackLevel;
    settings.blackLevelMax = o.blackLevelMax;
    settings.gamma = o.gamma;
    settings.chars = o.chars;
    settings.size = size;
    settings.invert = o.invert;
    return settings;
}

// One run of the converter over the pictures of the command line: the
// engine prepared once, the pictures loaded ahead, each one's text made by
// the engine's one call and written, in order, to the one output.
class ConversionRun {
public:
    explicit ConversionRun(Options& o) : o_(o) {}
    // The whole run; returns the exit status.
    int run();

private:
    // Everything before the first picture: the terminal, the background,
    // the size, the engine (on a second thread) and the loads ahead, the
    // output. False when the run cannot go on; `status_` says how it ends.
    bool start();
    bool prepare();
    // Converts and writes picture `i`; false when writing failed.
    bool convertOne(size_t i);
    // Picture `i` as an animation's frames, played or taken apart into
    // `text`; false when writing failed.
    bool convertFrames(size_t i, const morvel::cli::Animation& frames, std::optional<std::string>& text);
    // The finished text of one loaded picture (or frame): its lines, colour
    // codes, page or picture included. None when it could not be made
    // (reported).
    std::optional<std::string> textOf(morvel::LoadResult& loaded, const std::optional<morvel::ColumnFit>& fit,
                                      const std::string& path, size_t index);
    // The text of a converted picture as it goes out: coloured, a page or a
    // picture of it.
    std::optional<std::string> dressed(morvel::TextImage& made, morvel::LoadResult& loaded,
                                       const std::string& displayName, const std::string& path);
    int finish();

    Options& o_;
    int status_ = 1;
    bool toStandardOutput_ = false;
    std::optional<morvel::cli::TerminalSize> terminal_;
    // What transparent parts are laid over.
    morvel::RgbColour ground_{};
    morvel::SizeRule size_;
    morvel::TextSettings settings_;
    std::unique_ptr<morvel::TextEngine> engine_;
    std::promise<GlyphCell> cellPromise_;
    std::shared_future<GlyphCell> cell_;
    std::future<bool> prepared_;
    std::vector<std::optional<morvel::ColumnFit>> loaderFits_;
    std::unique_ptr<morvel::cli::LoadAhead> loads_;
    morvel::cli::ColourMode colourMode_ = morvel::cli::ColourMode::None;
    bool colour_ = false;
    morvel::cli::HtmlStyle htmlStyle_;
    morvel::OutputFile out_;
    std::string outputName_;
    std::string writeError_;
    // A picture of the text is drawn from the unblurred glyphs.
    std::optional<morvel::BuiltAtlas> plainGlyphs_;
    morvel::AtlasView plainView_;
    // Animations played on the terminal, or taken apart into frames.
    bool play_ = false;
    bool takeApart_ = false;
    bool anyFailed_ = false;
    bool pageStarted_ = false;
    int converted_ = 0;
};

int ConversionRun::run()
{
    if (!start() || !prepare()) {
        return status_;
    }
    for (size_t i = 0; i < o_.pictures.size(); ++i) {
        if (!convertOne(i)) {
            complain("cannot write " + (toStandardOutput_ ? "to standard output" : outputName_) + ": " + writeError_);
            out_.discard();
            return 1;
        }
    }
    return finish();
}

bool ConversionRun::start()
{
    // Before anything is read or written: no output may destroy an input
    // or another output.
    if (const auto conflict = morvel::cli::outputConflict(o_)) {
        complain(*conflict);
        status_ = 2;
        return false;
    }
    // The text goes to standard output unless -o names a file ("-" is
    // standard output too).
    toStandardOutput_ = o_.output.empty() || o_.output == morvel::cli::kStdinName;
    // The terminal the text goes to, if it goes to one. It is asked its
    // background and cell before the second thread starts, so that the
    // signals held back meanwhile are held for the whole process.
    terminal_ = toStandardOutput_ ? morvel::cli::terminalSize() : std::nullopt;
    // The terminal is asked what neither the options nor its window size
    // tell: its background and its cell.
    const bool askBackground = terminal_ && o_.background == morvel::cli::BackgroundChoice::Auto;
    const bool askCell = terminal_ && morvel::cli::cellFromTerminal(o_) && !(morvel::cli::cellRatioOf(*terminal_) > 0);
    morvel::cli::TerminalAnswers answers;
    if (askBackground || askCell) {
        answers = morvel::cli::askTerminal({askBackground, askCell}, morvel::cli::kAnswerTimeoutMs);
    }
    ground_ = groundColour(o_, settleBackground(o_, terminal_.has_value(), answers));
    const morvel::cli::CellChoice shownCell = morvel::cli::chooseCell(o_, terminal_, answers.cellRatio);
    if (o_.verbose) {
        complain(morvel::cli::describeCell(shownCell));
    }
    size_ = morvel::cli::sizeRuleFor(o_, terminal_, footerLines(o_), shownCell.ratio);
    settings_ = textSettingsOf(o_, size_);

    // The font, atlas and blurs are made on a second thread while the first
    // picture loads: the two take similar time and share nothing (the engine
    // and its font are touched only by that thread until it is done; the
    // loader only waits for the glyph size).
    engine_ = std::make_unique<morvel::TextEngine>(nullptr, o_.dpi);
    engine_->setJobs(o_.jobs);
    cell_ = cellPromise_.get_future().share();
    try {
        prepared_ = std::async(std::launch::async, [this] { return prepareEngineAndCell(*engine_, o_, cellPromise_); });
    } catch (const std::system_error&) {
        // No thread to be had: one after the other.
    }
    // The pictures are loaded ahead on threads of their own: the first while
    // the engine is prepared, the next ones while the one before is matched.
    // Decoding takes most of a shrunk picture's time, so as many are decoded
    // at once as there are cores; pictures kept at their natural size may be
    // large, and only one is loaded ahead. A picture's colour comes at its
    // gray picture's size, so colour does not change how many are loaded
    // ahead.
    colourMode_ = resolveColourMode(o_, terminal_.has_value());
    colour_ = colourMode_ != morvel::cli::ColourMode::None;
    loaderFits_.resize(o_.pictures.size());
    const bool fitted = loadOptionsFor(o_, size_, cell_, nullptr, colour_, ground_).fit != nullptr;
    const size_t depth = fitted ? std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8) : 1;
    loads_ = std::make_unique<morvel::cli::LoadAhead>(o_.pictures.size(), depth, [this](size_t i) {
        return morvel::cli::readNamedPicture(o_.pictures[i],
                                             loadOptionsFor(o_, size_, cell_, &loaderFits_[i], colour_, ground_));
    });
    return prepared_.valid() ? prepared_.get() : prepareEngineAndCell(*engine_, o_, cellPromise_);
}

bool ConversionRun::prepare()
{
    if (!engine_->canMatch(settings_)) {
        complain("no character of the tone ramp has a width in \"" + engine_->font()->faceUsed() + "\"");
        return false;
    }
    outputName_ = toStandardOutput_ ? std::string("standard output") : shown(o_.output);
    if (!out_.open(toStandardOutput_ ? std::string(morvel::cli::kStdinName) : o_.output, writeError_)) {
        complain("cannot write " + outputName_ + ": " + writeError_);
        return false;
    }
    if (o_.picture && terminal_) {
        complain("a picture is not written to a terminal; name a file with -o");
        status_ = 2;
        return false;
    }
    if (o_.picture) {
        plainGlyphs_ = morvel::renderGlyphAtlas(*engine_->font());
    }
    if (plainGlyphs_) {
        plainView_ = morvel::AtlasView{
            plainGlyphs_->atlas.get(), plainGlyphs_->glyphs.data(), static_cast<int32_t>(plainGlyphs_->glyphs.size()),
            plainGlyphs_->cellHeight,  plainGlyphs_->maxGlyphWidth, morvel::kAtlasMargin};
    }
    // An animation to be played or taken apart gives its frames instead of
    // the picture loaded (a GIF's first image); an animated WebP that no
    // reader takes as a still gives its first frame.
    play_ = terminal_.has_value() && o_.animate && !o_.html && !o_.picture;
    takeApart_ = play_ || o_.frame != 0 || o_.allFrames;
    htmlStyle_ = htmlStyleOf(*engine_, o_);
    return true;
}

bool ConversionRun::convertOne(size_t i)
{
    const std::string& path = o_.pictures[i];
    morvel::LoadResult loaded = loads_->take(i);
    std::optional<std::string> text;
    if (const auto frames = morvel::cli::animationToShow(path, takeApart_, loaded.gray != nullptr)) {
        loaded = {};
        if (!convertFrames(i, *frames, text)) {
            return false;
        }
    } else {
        text = textOf(loaded, loaderFits_[i], path, i);
    }
    if (!text) {
        return true;
    }
    // An empty line between the texts of consecutive pictures.
    if (converted_ > 0 && !o_.html && !morvel::cli::writeText(out_, "\r\n", o_.crlf, writeError_)) {
        return false;
    }
    ++converted_;
    return o_.picture ? out_.write(*text, writeError_)
                      : morvel::cli::writeText(out_, std::move(*text), o_.crlf, writeError_);
}

bool ConversionRun::convertFrames(size_t i, const morvel::cli::Animation& frames, std::optional<std::string>& text)
{
    const std::string& path = o_.pictures[i];
    std::optional<morvel::ColumnFit> frameFit;
    const morvel::LoadOptions frameOptions = loadOptionsFor(o_, size_, cell_, &frameFit, colour_, ground_);
    const morvel::cli::FrameText frameText = [&](morvel::LoadResult& frame) {
        return textOf(frame, frameFit, path, i);
    };
    if (play_) {
        if (converted_ > 0 && !morvel::cli::writeText(out_, "\r\n", o_.crlf, writeError_)) {
            return false;
        }
        const morvel::cli::PlayOutcome played =
            morvel::cli::playAnimation(frames, frameOptions, o_.loops, frameText, out_);
        if (played.end == morvel::cli::PlayEnd::Interrupted) {
            out_.discard();
            std::signal(played.signal, SIG_DFL);
            std::raise(played.signal);
        }
        anyFailed_ = anyFailed_ || played.end == morvel::cli::PlayEnd::Failed;
        ++converted_;
        return true;
    }
    std::string frameError;
    text.emplace();
    // Frames of text are parted by a line holding a form feed; a page's
    // frames are <pre>s already.
    if (!morvel::cli::framesText(frames, frameOptions, takeApart_ ? o_.frame : 1, frameText, o_.html ? "" : "\f\r\n",
                                 *text, frameError)) {
        complain(shown(path) + ": " + frameError);
        anyFailed_ = true;
        text.reset();
    }
    return true;
}

std::optional<std::string> ConversionRun::textOf(morvel::LoadResult& loaded,
                                                 const std::optional<morvel::ColumnFit>& fit, const std::string& path,
                                                 size_t index)
{
    if (!loaded.gray) {
        complain("cannot read picture: " + shown(path) + ": " + loaded.error);
        anyFailed_ = true;
        return std::nullopt;
    }
    // Drawn all the same; the run's status stays what it would be.
    if (!loaded.warning.empty()) {
        complain(shown(path) + ": " + loaded.warning);
    }
    anyFailed_ = !saveGrayWhenAsked(*loaded.gray, o_, static_cast<int>(index) + 1) || anyFailed_;
    const std::string displayName =
        path == morvel::cli::kStdinName ? morvel::cli::kStdinDisplayName : shown(morvel::displayNameOf(path));
    morvel::TextImage made = engine_->makeTextImage(std::move(loaded.gray), settings_,
                                                    o_.footer ? &displayName : nullptr, {}, fit ? &*fit : nullptr);
    switch (made.failure) {
    case morvel::TextFailure::None:
        return dressed(made, loaded, displayName, path);
    case morvel::TextFailure::TooLarge:
        complain("text image too large: " + shown(path));
        break;
    case morvel::TextFailure::NoMemory:
        complain("out of memory converting picture: " + shown(path));
        break;
    default:
        complain("cannot scale picture to " + describeSize(size_) + ": " + shown(path));
        break;
    }
    anyFailed_ = true;
    return std::nullopt;
}

std::optional<std::string> ConversionRun::dressed(morvel::TextImage& made, morvel::LoadResult& loaded,
                                                  const std::string& displayName, const std::string& path)
{
    std::vector<morvel::cli::Rgb> colours;
    if (colour_ && loaded.colour) {
        colours = morvel::cli::cellColours(made.cells, *loaded.colour, made.content);
        loaded.colour.reset();
        if (o_.colourBoost) {
            for (morvel::cli::Rgb& c : colours)
                c = morvel::cli::boostColour(c, o_.invert);
        }
    }
    if (o_.picture) {
        std::optional<std::string> drawn =
            textPicture(made.text, plainView_, *engine_->font(), o_, colours, made.lineCount, colourMode_);
        if (!drawn) {
            complain("cannot draw the text as a picture: " + shown(path));
            anyFailed_ = true;
        }
        return drawn;
    }
    if (o_.html) {
        std::string page = pageStarted_ ? std::string() : morvel::cli::htmlPageStart(htmlStyle_, displayName);
        pageStarted_ = true;
        page += morvel::cli::htmlPre(htmlStyle_, made.text, made.lineCount, colours, colourMode_);
        return page;
    }
    if (colour_) {
        return morvel::cli::sgrText(made.text, made.lineCount, colours, colourMode_);
    }
    return std::move(made.text);
}

int ConversionRun::finish()
{
    if (o_.html && converted_ > 0 && !morvel::cli::writeText(out_, morvel::cli::htmlPageEnd(), false, writeError_)) {
        complain("cannot write " + (toStandardOutput_ ? "to standard output" : outputName_) + ": " + writeError_);
        out_.discard();
        return 1;
    }
    if (converted_ == 0 && !toStandardOutput_) {
        // Nothing to put in it: the file is left as it was.
        out_.discard();
        return 1;
    }
    if (!out_.commit(writeError_)) {
        complain("cannot write " + (toStandardOutput_ ? "to standard output" : outputName_) + ": " + writeError_);
        return 1;
    }
    return anyFailed_ ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    int status = 0;
    {
        morvel::cli::ParseResult parsed = morvel::cli::parseOptions(argc, argv);
        if (!parsed.options) {
            status = parsed.exitStatus;
        } else {
            // Every font is gone when the run is.
            ConversionRun run(*parsed.options);
            status = run.run();
        }
    }
    // The converter shares fontconfig with nothing else: release it, so a
    // memory checker sees a clean end.
    morvel::releaseFontSystem();
    return status;
}
