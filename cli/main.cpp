// morvel-text: prints the text image of each picture named on the command
// line, made as the window's Generate command makes it.

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/animation.h"
#include "cli/cell_aspect.h"
#include "cli/cell_colours.h"
#include "cli/colour_text.h"
#include "cli/columns.h"
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
#include "engine/text_picture.h"
#include "engine/tone_match.h"
#include "image/load_picture.h"
#include "image/picture_transform.h"
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

// Settles --background auto: inverts for a dark terminal. Says what it
// chose when asked to be verbose. Returns true for a dark background.
bool settleBackground(Options& o, const std::optional<morvel::cli::TerminalSize>& terminal)
{
    std::string how = "--background";
    bool dark = o.background == morvel::cli::BackgroundChoice::Dark;
    if (o.background == morvel::cli::BackgroundChoice::Auto) {
        if (terminal) {
            // A terminal that does not answer within 100 ms is taken as light.
            dark = morvel::cli::terminalBackground(100, how) == morvel::cli::Background::Dark;
        } else {
            how = "not a terminal";
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

// What the loader is asked for: the picture upright when asked, and the size
// `size` gives it (the same rule preparePicture applies), so that a loader
// can decode at a reduced scale and shrink while it reads, with the same
// result as the whole picture shrunk afterwards. The glyph size comes from
// `cell`, waited for once the picture's size is known; the whole fit (with
// its canvas) is kept in `chosen`. Without bounds, or for a picture saved as
// gray, the natural size.
morvel::LoadOptions loadOptionsFor(const Options& o, const morvel::cli::SizeRule& size,
                                   const std::shared_future<GlyphCell>& cell,
                                   std::optional<morvel::cli::ColumnFit>* chosen, bool colour,
                                   const morvel::RgbColour& ground)
{
    morvel::LoadOptions options;
    options.orient = o.orient;
    options.colour = colour;
    options.background = ground;
    if ((size.columns > 0 || size.rows > 0) && o.saveGray.empty()) {
        options.fit = [size, cell, chosen](int32_t width, int32_t height) -> std::optional<morvel::PictureSize> {
            const GlyphCell glyphs = cell.get();
            *chosen = morvel::cli::fitText(width, height, size, glyphs.maxWidth, glyphs.height);
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

// The picture named by `path`, ready for the walk: saved as gray when
// asked, fitted to `size` and inverted when asked. The black level is not
// applied here: the walk reads the picture through its table (see convert).
// Returns none when the picture cannot be converted (already reported).
// The gray picture is taken from `loaded`, its colour left there; `content`
// receives the size of the picture itself inside the one made (which may be
// extended at its edges).
morvel::ImageHandle preparePicture(morvel::LoadResult& loaded, const std::optional<morvel::cli::ColumnFit>& loaderFit,
                                   const morvel::TextEngine& engine, const Options& o, const std::string& path,
                                   int index, const morvel::cli::SizeRule& size, bool& saveFailed,
                                   morvel::PictureSize& content)
{
    morvel::ImageHandle picture = std::move(loaded.gray);
    if (!picture) {
        complain("cannot read picture: " + shown(path) + ": " + loaded.error);
        return nullptr;
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
    // The loader's fit when it scaled the picture already (the fit of the
    // picture's own size, which is not always that of the scaled one).
    const bool scaledByLoader = loaderFit && loaderFit->scaled.width == width && loaderFit->scaled.height == height;
    const auto fit = scaledByLoader
                         ? loaderFit
                         : morvel::cli::fitText(width, height, size, engine.maxGlyphWidth(), engine.cellHeight());
    // Scaled straight into the canvas; the loaded picture goes as soon as the
    // canvas holds it. The natural size needs neither.
    if (fit && (fit->canvas.width != width || fit->canvas.height != height || fit->scaled.width != width ||
                fit->scaled.height != height)) {
        picture =
            morvel::fitGray(*picture, fit->scaled.width, fit->scaled.height, fit->canvas.width, fit->canvas.height);
    }
    if (!fit || !picture) {
        complain("cannot scale picture to " + describeSize(size) + ": " + shown(path));
        return nullptr;
    }
    content = fit->scaled;
    if (o.invert) {
        morvel::invertGray(*picture);
    }
    return picture;
}

// The text of one prepared picture, as the engine's Generate makes it from
// the picture as its source: the working image is the picture stretched to
// `blackLevel`, here read through the stretch's table by the walk instead of
// copied, so the picture is held once. The footer (when `footer`) names
// `displayName`; with `invert` its last line says so. Lines end in CR LF.
// `view` is the engine's atlas with the glyphs matched against, `matcher`
// prepared from it. None when memory runs out.
std::optional<std::string> convert(const morvel::ImageRecord& picture, const morvel::TextEngine& engine,
                                   const morvel::AtlasView& view, const morvel::FastMatcher& matcher,
                                   const morvel::ToneSetup* tone, const Options& o, int32_t blackLevel,
                                   const std::string& displayName)
{
    const morvel::TextFooter footer{displayName, engine.pointSize(), engine.drawnFaceName(), engine.blurCount(),
                                    blackLevel};
    const morvel::TextFooter* withFooter = o.footer ? &footer : nullptr;
    morvel::GeneratedText generated;
    uint8_t table[256];
    if (tone) {
        // Tone mode reads the picture itself through its tone curve.
        generated = morvel::generateToneTextFast(picture, *tone, withFooter, {}, o.jobs);
    } else if (const bool stretched = morvel::blackLevelTable(picture, blackLevel, table); matcher.usable()) {
        generated =
            morvel::generateTextFast(picture, matcher, o.match, withFooter, {}, o.jobs, stretched ? table : nullptr);
    } else {
        // Without the prepared glyphs (no memory for them), the plain walk on
        // a stretched copy.
        morvel::ImageHandle working = morvel::stretchToBlackLevelFast(picture, blackLevel);
        if (!working) {
            return std::nullopt;
        }
        generated = morvel::generateText(*working, view, o.match, withFooter);
    }
    // The footer's last line says when the picture was matched inverted.
    if (o.footer && o.invert) {
        generated.text += "Inverted\r\n";
    }
    return std::move(generated.text);
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
    // The terminal the text goes to, if it goes to one. Its background is
    // asked for before the second thread starts, so that the signals held
    // back meanwhile are held for the whole process.
    const std::optional<morvel::cli::TerminalSize> terminal =
        toStandardOutput ? morvel::cli::terminalSize() : std::nullopt;
    const morvel::RgbColour ground = groundColour(o, settleBackground(o, terminal));
    const morvel::cli::CellChoice shownCell = morvel::cli::chooseCell(o, terminal, 0);
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
    try {
        prepared = std::async(std::launch::async, [&engine, &o, &cellPromise, ink] {
            return prepareEngineAndCell(engine, o, cellPromise, ink);
        });
    } catch (const std::system_error&) {
        // No thread to be had: one after the other.
    }
    // The pictures are loaded ahead on threads of their own: the first while
    // the engine is prepared, the next ones while the one before is matched.
    // Decoding takes most of a shrunk picture's time, so as many are decoded
    // at once as there are cores; pictures kept at their natural size may be
    // large, and only one is loaded ahead.
    // The fit each picture's loader chose, read once the picture is taken.
    // A picture's colour comes at its gray picture's size, so colour does
    // not change how many are loaded ahead.
    const morvel::cli::ColourMode colourMode = resolveColourMode(o, terminal.has_value());
    const bool colour = colourMode != morvel::cli::ColourMode::None;
    std::vector<std::optional<morvel::cli::ColumnFit>> loaderFits(o.pictures.size());
    const bool fitted = loadOptionsFor(o, size, cell, nullptr, colour, ground).fit != nullptr;
    const size_t depth = fitted ? std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8) : 1;
    morvel::cli::LoadAhead loads(o.pictures.size(), depth, [&o, &size, &cell, &loaderFits, colour, ground](size_t i) {
        return morvel::cli::readNamedPicture(o.pictures[i],
                                             loadOptionsFor(o, size, cell, &loaderFits[i], colour, ground));
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
    bool anyFailed = false;
    bool writeFailed = false;
    int converted = 0;
    bool pageStarted = false;
    // The finished text of one loaded picture (or frame): its lines, colour
    // codes or page included. None when it could not be made (reported).
    const auto textOf = [&](morvel::LoadResult& loaded, const std::optional<morvel::cli::ColumnFit>& loaderFit,
                            const std::string& path, size_t index) -> std::optional<std::string> {
        bool saveFailed = false;
        morvel::PictureSize content;
        morvel::ImageHandle picture =
            preparePicture(loaded, loaderFit, engine, o, path, static_cast<int>(index) + 1, size, saveFailed, content);
        anyFailed = anyFailed || !picture || saveFailed;
        if (!picture) {
            return std::nullopt;
        }
        // The engine's bound on the text, judged before the walk.
        if (morvel::textBytesUpperBound(*picture, view) > engine.textLimit()) {
            complain("text image too large: " + shown(path));
            anyFailed = true;
            return std::nullopt;
        }
        const std::string displayName =
            path == morvel::cli::kStdinName ? morvel::cli::kStdinDisplayName : shown(morvel::displayNameOf(path));
        std::optional<std::string> text =
            convert(*picture, engine, view, matcher, tone ? &*tone : nullptr, o, blackLevel, displayName);
        const int32_t lineCount = morvel::cli::pictureLineCount(picture->rowCount, engine.cellHeight());
        // The picture is done with before the text goes out.
        picture.reset();
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
            colours = morvel::cli::cellColours(*text, lineCount, htmlStyle.advances, engine.cellHeight(),
                                               *loaded.colour, content);
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
    const int status = convertAll(argc, argv);
    // The converter shares fontconfig with nothing else: release it, so a
    // memory checker sees a clean end.
    morvel::releaseFontSystem();
    return status;
}
