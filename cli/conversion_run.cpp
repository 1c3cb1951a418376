#include "cli/conversion_run.h"

#include <algorithm>
#include <csignal>
#include <system_error>
#include <thread>
#include <utility>

#include "cli/cell_shape.h"
#include "cli/input.h"
#include "cli/output.h"
#include "cli/output_names.h"
#include "cli/picture_requests.h"
#include "cli/run_setup.h"
#include "cli/terminal.h"
#include "cli/terminal_colours.h"
#include "cli/text_forms.h"
#include "platform/font.h"
#include "platform/printable_name.h"

namespace morvel::cli {

namespace {

// What the pictures loaded ahead may hold between them (a picture alone may
// hold more).
constexpr int64_t kLoadAheadBudget = int64_t{256} << 20;

// `path` as messages show it.
std::string shown(const std::string& path)
{
    return printableName(path);
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
