// morvel-text: prints the text image of each picture named on the command
// line, made as the window's Generate command makes it.

#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/animation.h"
#include "cli/band_walk.h"
#include "cli/cell_colours.h"
#include "cli/cell_shape.h"
#include "cli/colour_text.h"
#include "cli/fill_colours.h"
#include "cli/html_page.h"
#include "cli/input.h"
#include "cli/load_ahead.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/output_names.h"
#include "cli/terminal.h"
#include "cli/terminal_colours.h"
#include "cli/text_size.h"
#include "engine/fast_black_level.h"
#include "engine/fast_matcher.h"
#include "engine/generator.h"
#include "engine/glyph_set.h"
#include "engine/parallel_walk.h"
#include "engine/text_engine.h"
#include "engine/text_image.h"
#include "engine/text_picture.h"
#include "engine/tone_match.h"
#include "image/load_picture.h"
#include "image/picture_transform.h"
#include "image/png_writer.h"
#include "platform/face_cache.h"
#include "platform/font.h"
#include "platform/output_file.h"
#include "platform/printable_name.h"

namespace {

using morvel::cli::Options;

// What the pictures loaded ahead may hold between them (a picture alone may
// hold more).
constexpr int64_t kLoadAheadBudget = int64_t{256} << 20;

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
// atlas's glyph size as soon as it is known; `ink`, when given, where the
// glyphs put ink before the atlas is blurred.
bool prepareEngine(morvel::TextEngine& engine, const Options& o, std::promise<GlyphCell>& cell,
                   morvel::cli::GlyphInk* ink)
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
    if (ink != nullptr) {
        *ink = morvel::cli::glyphInkOf(engine.atlasView());
    }
    for (int32_t i = 0; i < o.blur; ++i) {
        engine.blurFont();
    }
    engine.updateBlackLevelRange();
    engine.setMatchMode(o.match);
    return true;
}

// A regular file of at most 64 KiB (standard input and what cannot be
// examined are not small).
bool isSmallFile(const std::string& path)
{
    struct stat info {};
    return path != morvel::cli::kStdinName && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           info.st_size <= 65536;
}

// The bounds of `size` as a message names them.
std::string describeSize(const morvel::cli::SizeRule& size)
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
bool prepareEngineAndCell(morvel::TextEngine& engine, const Options& o, std::promise<GlyphCell>& cell,
                          morvel::cli::GlyphInk* ink)
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
int64_t loadBytes(morvel::PictureSize natural, const std::optional<morvel::PictureSize>& loaded, bool colour)
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
// `size` gives it (the same rule preparePicture applies) in the directions
// where that shrinks it, so that a loader can decode at a reduced scale and
// shrink while it reads, with the same result as the whole picture shrunk
// afterwards. The glyph size comes from `cell`, waited for once the
// picture's size is known; the whole fit (with its canvas) is kept in
// `chosen`. Without bounds, or for a picture saved as gray, the natural
// size. Once the size is known, `reserve` (when given) is told the bytes
// the picture will hold (and may make the load wait for them).
morvel::LoadOptions loadOptionsFor(const Options& o, const morvel::cli::SizeRule& size,
                                   const std::shared_future<GlyphCell>& cell,
                                   std::optional<morvel::cli::ColumnFit>* chosen, bool colour,
                                   const morvel::RgbColour& ground, const std::function<void(int64_t)>& reserve = {})
{
    morvel::LoadOptions options;
    options.orient = o.orient;
    options.colour = colour;
    options.background = ground;
    const bool fitted = (size.columns > 0 || size.rows > 0) && o.saveGray.empty();
    options.fit = [size, cell, chosen, fitted, colour, reserve](int32_t width,
                                                                int32_t height) -> std::optional<morvel::PictureSize> {
        std::optional<morvel::PictureSize> wanted;
        if (fitted) {
            const GlyphCell glyphs = cell.get();
            *chosen = morvel::cli::fitText(width, height, size, glyphs.maxWidth, glyphs.height);
            // The loader only shrinks: a direction that grows is enlarged
            // band by band as the text is made (see walkFittedCanvas).
            if (*chosen) {
                wanted = morvel::PictureSize{std::min(width, (*chosen)->scaled.width),
                                             std::min(height, (*chosen)->scaled.height)};
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
morvel::cli::ColourMode resolveColourMode(const Options& o, bool terminal)
{
    if (o.colour) {
        return *o.colour;
    }
    if (o.html || o.picture) {
        return morvel::cli::ColourMode::TrueColour;
    }
    const char* noColor = std::getenv("NO_COLOR");
    const char* colorTerm = std::getenv("COLORTERM");
    // terminfo is read only when its answer counts.
    const morvel::cli::ColourMode withoutTerminfo = morvel::cli::autoColourMode(terminal, noColor, colorTerm, 256);
    if (withoutTerminfo != morvel::cli::ColourMode::Palette256) {
        return withoutTerminfo;
    }
    return morvel::cli::autoColourMode(terminal, noColor, colorTerm,
                                       morvel::cli::terminfoColourCount(std::getenv("TERM")));
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

// The inks of `fills` into `inks` and their grounds into `grounds`; both
// emptied when there are no fills.
void splitFills(const std::vector<morvel::cli::CellFill>& fills, std::vector<morvel::cli::Rgb>& inks,
                std::vector<morvel::cli::Rgb>& grounds)
{
    inks.clear();
    grounds.clear();
    for (const morvel::cli::CellFill& fill : fills) {
        inks.push_back(fill.ink);
        grounds.push_back(fill.ground);
    }
}

// The bound of textBytesUpperBound for a canvas of width x height.
int64_t textBytesUpperBound(int32_t width, int32_t height, const morvel::AtlasView& view)
{
    morvel::ImageRecord shape{};
    shape.header.biWidth = width;
    shape.rowCount = height;
    return morvel::textBytesUpperBound(shape, view);
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

// A picture ready for the walk: the picture as loaded, and its canvas made
// from it a band at a time.
struct PreparedPicture {
    morvel::ImageHandle loaded;
    std::optional<morvel::FittedRows> canvas;
    morvel::PictureSize content;  // the scaled picture inside the canvas
};

// The picture named by `path`, ready for the walk: saved as gray when
// asked, and fitted to `size`. Inversion and the black level are applied by
// the walk (see walkFittedCanvas). Returns false when the picture cannot be
// converted (already reported). The gray picture is taken from `loaded`,
// its colour left there.
bool preparePicture(morvel::LoadResult& loaded, const std::optional<morvel::cli::ColumnFit>& loaderFit,
                    const morvel::TextEngine& engine, const Options& o, const std::string& path, int index,
                    const morvel::cli::SizeRule& size, bool& saveFailed, PreparedPicture& prepared)
{
    prepared.loaded = std::move(loaded.gray);
    const morvel::ImageHandle& picture = prepared.loaded;
    if (!picture) {
        complain("cannot read picture: " + shown(path) + ": " + loaded.error);
        return false;
    }
    // Drawn all the same; the run's status stays what it would be.
    if (!loaded.warning.empty()) {
        complain(shown(path) + ": " + loaded.warning);
    }
    if (!o.saveGray.empty()) {
        const std::string grayPath = morvel::cli::expandIndex(o.saveGray, index);
        std::string error;
        if (!morvel::cli::writePgm(grayPath, *picture, error)) {
            complain("cannot write " + shown(grayPath) + ": " + error);
            saveFailed = true;
        }
    }
    const int32_t width = picture->header.biWidth;
    const int32_t height = picture->rowCount;
    // The loader's fit when it was given one: the picture then comes at the
    // scaled size where that shrinks, at its own size where it grows.
    const bool scaledByLoader = loaderFit && width <= loaderFit->scaled.width && height <= loaderFit->scaled.height;
    const auto fit = scaledByLoader
                         ? loaderFit
                         : morvel::cli::fitText(width, height, size, engine.maxGlyphWidth(), engine.cellHeight());
    if (fit) {
        prepared.canvas.emplace(*picture, fit->scaled.width, fit->scaled.height, fit->canvas.width, fit->canvas.height);
    }
    if (!fit || !prepared.canvas->ready()) {
        complain("cannot scale picture to " + describeSize(size) + ": " + shown(path));
        return false;
    }
    prepared.content = fit->scaled;
    return true;
}

// The text of one prepared picture, as the engine's Generate makes it from
// the picture as its source (see walkFittedCanvas), with the footer when
// asked, naming `displayName`; with --invert its last line says so. Lines
// end in CR LF. None when memory runs out.
std::optional<std::string> convert(PreparedPicture& prepared, const morvel::TextEngine& engine,
                                   const morvel::cli::WalkChoice& choice, const Options& o,
                                   const std::string& displayName)
{
    std::optional<std::string> text = morvel::cli::walkFittedCanvas(*prepared.canvas, choice);
    if (text && o.footer) {
        *text += morvel::formatFooter(
            {displayName, engine.pointSize(), engine.drawnFaceName(), engine.blurCount(), choice.blackLevel});
        if (o.invert) {
            *text += "Inverted\r\n";
        }
    }
    return text;
}

}  // namespace

// The whole run; returns the exit status. Every font is gone when it returns.
static int convertAll(int argc, char** argv)
{
    morvel::cli::ParseResult parsed = morvel::cli::parseOptions(argc, argv);
    if (!parsed.options) {
        return parsed.exitStatus;
    }
    Options& o = *parsed.options;
    // Before anything is read or written: no output may destroy an input
    // or another output.
    if (const auto conflict = morvel::cli::outputConflict(o)) {
        complain(*conflict);
        return 2;
    }
    // The text goes to standard output unless -o names a file ("-" is
    // standard output too).
    const bool toStandardOutput = o.output.empty() || o.output == morvel::cli::kStdinName;
    // The terminal the text goes to, if it goes to one. It is asked its
    // background and cell before the second thread starts, so that the
    // signals held back meanwhile are held for the whole process.
    const std::optional<morvel::cli::TerminalSize> terminal =
        toStandardOutput ? morvel::cli::terminalSize() : std::nullopt;
    // The terminal is asked what neither the options nor its window size
    // tell: its background and its cell.
    const bool askBackground = terminal && o.background == morvel::cli::BackgroundChoice::Auto;
    const bool askCell = terminal && morvel::cli::cellFromTerminal(o) && !(morvel::cli::cellRatioOf(*terminal) > 0);
    morvel::cli::TerminalAnswers answers;
    if (askBackground || askCell) {
        answers = morvel::cli::askTerminal({askBackground, askCell}, morvel::cli::kAnswerTimeoutMs);
    }
    const morvel::RgbColour ground = groundColour(o, settleBackground(o, terminal.has_value(), answers));
    const morvel::cli::CellChoice shownCell = morvel::cli::chooseCell(o, terminal, answers.cellRatio);
    if (o.verbose) {
        complain(morvel::cli::describeCell(shownCell));
    }
    const morvel::cli::SizeRule size = morvel::cli::sizeRuleFor(o, terminal, footerLines(o), shownCell.ratio);

    // The font, atlas and blurs are made on a second thread while the first
    // picture loads: the two take similar time and share nothing (the engine
    // and its font are touched only by that thread until it is done; the
    // loader only waits for the glyph size).
    morvel::TextEngine engine(nullptr, o.dpi);
    std::promise<GlyphCell> cellPromise;
    const std::shared_future<GlyphCell> cell = cellPromise.get_future().share();
    std::future<bool> prepared;
    // Where the glyphs put ink, for --fill.
    morvel::cli::GlyphInk glyphInk;
    morvel::cli::GlyphInk* const ink = o.fill ? &glyphInk : nullptr;
    // One small picture takes less time to load than a thread takes to
    // start: the engine is then prepared and the picture loaded on this
    // thread, one after the other.
    const bool alone = o.pictures.size() == 1 && isSmallFile(o.pictures[0]);
    try {
        if (!alone) {
            prepared = std::async(std::launch::async, [&engine, &o, &cellPromise, ink] {
                return prepareEngineAndCell(engine, o, cellPromise, ink);
            });
        }
    } catch (const std::system_error&) {
        // No thread to be had: one after the other.
    }
    // The pictures are loaded ahead on threads of their own: the first while
    // the engine is prepared, the next ones while the one before is matched.
    // Decoding takes most of a shrunk picture's time, so as many are decoded
    // at once as there are cores, as long as what they hold fits the budget:
    // each load reserves the bytes its picture will hold once its size is
    // known. The fit each picture's loader chose is read once the picture is
    // taken.
    const morvel::cli::ColourMode colourMode = resolveColourMode(o, terminal.has_value());
    const bool colour = colourMode != morvel::cli::ColourMode::None;
    std::vector<std::optional<morvel::cli::ColumnFit>> loaderFits(o.pictures.size());
    // A picture's colour comes at its gray picture's size.
    const size_t depth = alone ? 0 : std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8);
    morvel::cli::LoadAhead loads(
        o.pictures.size(), depth, kLoadAheadBudget, [&o, &size, &cell, &loaderFits, colour, ground, &loads](size_t i) {
            const auto reserve = [&loads, i](int64_t bytes) { loads.reserve(i, bytes); };
            return morvel::cli::readNamedPicture(
                o.pictures[i], loadOptionsFor(o, size, cell, &loaderFits[i], colour, ground, reserve));
        });
    if (!(prepared.valid() ? prepared.get() : prepareEngineAndCell(engine, o, cellPromise, ink))) {
        return 1;
    }
    // The glyphs matched against: all, or those of --chars.
    const std::vector<morvel::GlyphEntry> candidates =
        o.chars.empty() ? engine.glyphTable() : morvel::glyphsAmong(engine.atlasView(), o.chars);
    const morvel::AtlasView view = morvel::restrictedView(engine.atlasView(), candidates);
    const morvel::FastMatcher matcher(view);
    int32_t blackLevel = o.blackLevelMax ? engine.blackLevelRange() : o.blackLevel;
    // Tone mode: the candidates' tones from the unblurred atlas; its level
    // never lies below the densest candidate's tone (max: exactly that).
    // --chars takes the place of the ramp.
    std::optional<morvel::ToneSetup> tone;
    if (o.match == morvel::MatchMode::Tone) {
        tone = morvel::makeToneSetup(engine.atlasView(), engine.glyphCellSums(),
                                     o.chars.empty() ? std::string(morvel::kToneRamp) : o.chars,
                                     o.blackLevelMax ? 0 : o.blackLevel, o.gamma);
        if (!tone) {
            complain("no character of the tone ramp has a width in \"" + engine.font()->faceUsed() + "\"");
            return 1;
        }
        blackLevel = tone->blackLevel;
    }
    if (o.picture && terminal) {
        complain("a picture is not written to a terminal; name a file with -o");
        return 2;
    }
    // A picture of the text is drawn from the unblurred glyphs.
    const std::optional<morvel::BuiltAtlas> plainGlyphs =
        o.picture ? morvel::renderGlyphAtlas(*engine.font()) : std::nullopt;
    const morvel::AtlasView plainView = plainGlyphs
                                            ? morvel::AtlasView{plainGlyphs->atlas.get(),
                                                                plainGlyphs->glyphs.data(),
                                                                static_cast<int32_t>(plainGlyphs->glyphs.size()),
                                                                plainGlyphs->cellHeight,
                                                                plainGlyphs->maxGlyphWidth,
                                                                morvel::kAtlasMargin}
                                            : morvel::AtlasView{};
    const std::string outputName = toStandardOutput ? std::string("standard output") : shown(o.output);
    morvel::OutputFile out;
    std::string writeError;
    if (!out.open(toStandardOutput ? std::string(morvel::cli::kStdinName) : o.output, writeError)) {
        complain("cannot write " + outputName + ": " + writeError);
        return 1;
    }

    const morvel::cli::HtmlStyle htmlStyle = htmlStyleOf(engine, o);
    const morvel::cli::WalkChoice choice{&view,      &matcher, tone ? &*tone : nullptr, o.match, o.jobs,
                                         blackLevel, o.invert};
    bool anyFailed = false;
    bool writeFailed = false;
    int converted = 0;
    bool pageStarted = false;
    // The finished text of one loaded picture (or frame): its lines, colour
    // codes or page included. None when it could not be made (reported).
    const auto textOf = [&](morvel::LoadResult& loaded, const std::optional<morvel::cli::ColumnFit>& loaderFit,
                            const std::string& path, size_t index) -> std::optional<std::string> {
        bool saveFailed = false;
        PreparedPicture picture;
        const bool ready =
            preparePicture(loaded, loaderFit, engine, o, path, static_cast<int>(index) + 1, size, saveFailed, picture);
        anyFailed = anyFailed || !ready || saveFailed;
        if (!ready) {
            return std::nullopt;
        }
        // The engine's bound on the text, judged before the walk.
        if (textBytesUpperBound(picture.canvas->canvasWidth(), picture.canvas->canvasHeight(), view) >
            engine.textLimit()) {
            complain("text image too large: " + shown(path));
            anyFailed = true;
            return std::nullopt;
        }
        const std::string displayName =
            path == morvel::cli::kStdinName ? morvel::cli::kStdinDisplayName : shown(morvel::displayNameOf(path));
        std::optional<std::string> text = convert(picture, engine, choice, o, displayName);
        const int32_t lineCount = morvel::bandCount(picture.canvas->canvasHeight(), engine.cellHeight());
        const morvel::PictureSize content = picture.content;
        // The picture is done with before the text goes out.
        picture = {};
        if (!text) {
            complain("out of memory converting picture: " + shown(path));
            anyFailed = true;
            return std::nullopt;
        }
        std::vector<morvel::cli::Rgb> colours;
        std::vector<morvel::cli::Rgb> grounds;
        // Cells filled in the terminal and in HTML; a picture of the text
        // draws its characters' colours alone.
        if (colour && loaded.colour && o.fill && !o.picture) {
            splitFills(
                morvel::cli::fillColours(*text, lineCount, glyphInk, *loaded.colour, content, o.invert, colourMode),
                colours, grounds);
            loaded.colour.reset();
        } else if (colour && loaded.colour) {
            colours = morvel::cli::cellColours(morvel::textCells(*text, lineCount, engine.atlasView()), *loaded.colour,
                                               content);
            loaded.colour.reset();
            if (o.colourBoost) {
                for (morvel::cli::Rgb& c : colours)
                    c = morvel::cli::boostColour(c, o.invert);
            }
        }
        if (o.picture) {
            std::optional<std::string> drawn =
                textPicture(*text, plainView, *engine.font(), o, colours, lineCount, colourMode);
            if (!drawn) {
                complain("cannot draw the text as a picture: " + shown(path));
                anyFailed = true;
            }
            return drawn;
        }
        if (o.html) {
            std::string page = pageStarted ? std::string() : morvel::cli::htmlPageStart(htmlStyle, displayName);
            pageStarted = true;
            page += morvel::cli::htmlPre(htmlStyle, *text, lineCount, colours, colourMode, grounds);
            return page;
        }
        if (colour) {
            return morvel::cli::sgrText(*text, lineCount, colours, colourMode, grounds);
        }
        return text;
    };
    // An animation to be played or taken apart gives its frames instead of
    // the picture loaded (a GIF's first image); an animated WebP that no
    // reader takes as a still gives its first frame.
    const bool play = terminal.has_value() && o.animate && !o.html && !o.picture;
    const bool takeApart = play || o.frame != 0 || o.allFrames;
    for (size_t i = 0; i < o.pictures.size() && !writeFailed; ++i) {
        const std::string& path = o.pictures[i];
        morvel::LoadResult loaded = loads.take(i);
        std::optional<std::string> text;
        if (const auto frames = morvel::cli::animationToShow(path, takeApart, loaded.gray != nullptr)) {
            loaded = {};
            std::optional<morvel::cli::ColumnFit> frameFit;
            const morvel::LoadOptions frameOptions = loadOptionsFor(o, size, cell, &frameFit, colour, ground);
            const morvel::cli::FrameText frameText = [&](morvel::LoadResult& frame) {
                return textOf(frame, frameFit, path, i);
            };
            if (play) {
                if (converted > 0 && !morvel::cli::writeText(out, "\r\n", o.crlf, writeError)) {
                    writeFailed = true;
                    break;
                }
                const morvel::cli::PlayOutcome played =
                    morvel::cli::playAnimation(*frames, frameOptions, o.loops, frameText, out);
                if (played.end == morvel::cli::PlayEnd::Interrupted) {
                    out.discard();
                    std::signal(played.signal, SIG_DFL);
                    std::raise(played.signal);
                }
                anyFailed = anyFailed || played.end == morvel::cli::PlayEnd::Failed;
                ++converted;
                continue;
            }
            std::string frameError;
            text.emplace();
            // Frames of text are parted by a line holding a form feed; a
            // page's frames are <pre>s already.
            if (!morvel::cli::framesText(*frames, frameOptions, takeApart ? o.frame : 1, frameText,
                                         o.html ? "" : "\f\r\n", *text, frameError)) {
                complain(shown(path) + ": " + frameError);
                anyFailed = true;
                continue;
            }
        } else {
            text = textOf(loaded, loaderFits[i], path, i);
            if (!text) {
                continue;
            }
        }
        // An empty line between the texts of consecutive pictures.
        if (converted > 0 && !o.html && !morvel::cli::writeText(out, "\r\n", o.crlf, writeError)) {
            writeFailed = true;
            break;
        }
        ++converted;
        if (!(o.picture ? out.write(*text, writeError)
                        : morvel::cli::writeText(out, std::move(*text), o.crlf, writeError))) {
            writeFailed = true;
        }
    }

    if (o.html && converted > 0 && !writeFailed &&
        !morvel::cli::writeText(out, morvel::cli::htmlPageEnd(), false, writeError)) {
        writeFailed = true;
    }
    if (writeFailed) {
        complain("cannot write " + (toStandardOutput ? "to standard output" : outputName) + ": " + writeError);
        out.discard();
        return 1;
    }
    if (converted == 0 && !toStandardOutput) {
        // Nothing to put in it: the file is left as it was.
        out.discard();
        return 1;
    }
    if (!out.commit(writeError)) {
        complain("cannot write " + (toStandardOutput ? "to standard output" : outputName) + ": " + writeError);
        return 1;
    }
    return anyFailed ? 1 : 0;
}

int main(int argc, char** argv)
{
    // Resolved faces are kept between runs (see platform/face_cache.h): the
    // search for a stand-in face costs more than converting a small picture.
    morvel::setFaceCacheDirectory(morvel::defaultFaceCacheDirectory());
    const int status = convertAll(argc, argv);
    // The converter shares fontconfig with nothing else: release it, so a
    // memory checker sees a clean end.
    morvel::releaseFontSystem();
    return status;
}
