#include "cli/options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iostream>
#include <regex>
#include <sstream>

#include "platform/log_font.h"

namespace morvel::cli {

const char* const kUsageHint = "Usage: morvel-text [options] PICTURE...  (try --help)";

std::optional<int32_t> parseDecimal(const std::string& text, int32_t lo, int32_t hi)
{
    // Digits only: no blanks, no '+', no hex or octal prefixes, and at most
    // ten digits so the running value cannot overflow 64 bits.
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    }
    if (i == text.size() || text.size() - i > 10) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    if (negative) {
        value = -value;
    }
    if (value < lo || value > hi) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

std::optional<double> parseFraction(const std::string& text, double lo, double hi)
{
    size_t digits = 0;
    size_t points = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            ++digits;
        } else if (c == '.') {
            ++points;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0 || points > 1 || text.size() > 20) {
        return std::nullopt;
    }
    const double value = std::strtod(text.c_str(), nullptr);
    if (!(value >= lo && value <= hi)) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parseFontRatio(const std::string& text)
{
    const size_t slash = text.find('/');
    const std::optional<double> width = parseFraction(text.substr(0, slash), 0, 1e6);
    const std::optional<double> height =
        slash == std::string::npos ? std::optional<double>(1.0) : parseFraction(text.substr(slash + 1), 0, 1e6);
    if (!width || !height || !(*height > 0)) {
        return std::nullopt;
    }
    const double ratio = *width / *height;
    if (!(ratio >= kMinFontRatio && ratio <= kMaxFontRatio)) {
        return std::nullopt;
    }
    return ratio;
}

std::optional<std::pair<int32_t, int32_t>> parseSizeBox(const std::string& text)
{
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos) {
        return std::nullopt;
    }
    const std::optional<int32_t> columns = parseDecimal(text.substr(0, x), kMinColumns, kMaxColumns);
    const std::optional<int32_t> rows = parseDecimal(text.substr(x + 1), kMinRows, kMaxRows);
    if (!columns || !rows) {
        return std::nullopt;
    }
    return std::make_pair(*columns, *rows);
}

std::string expandIndex(const std::string& pattern, int index)
{
    const std::string number = std::to_string(index);
    std::string path;
    path.reserve(pattern.size() + number.size());
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 'd') {
            path += number;
            ++i;
        } else {
            path += pattern[i];
        }
    }
    return path;
}

namespace {

// A CLI11 check that accepts a plain decimal number inside lo..hi.
CLI::Validator decimalIn(int32_t lo, int32_t hi)
{
    const std::string range = std::to_string(lo) + ".." + std::to_string(hi);
    return CLI::Validator(
        [lo, hi, range](std::string& text) -> std::string {
            if (parseDecimal(text, lo, hi)) {
                return {};
            }
            return "\"" + text + "\" is not a whole number in " + range;
        },
        "", "decimal " + range);
}

// The same check that also accepts the keyword `word` (max, auto) and
// `other` when given (natural).
CLI::Validator wordOrDecimalIn(const std::string& word, int32_t lo, int32_t hi, const std::string& name,
                               const std::string& other = {})
{
    const std::string range = std::to_string(lo) + ".." + std::to_string(hi);
    const std::string words = other.empty() ? word : word + ", " + other;
    return CLI::Validator(
        [word, other, lo, hi, range, words](std::string& text) -> std::string {
            if (text == word || (!other.empty() && text == other) || parseDecimal(text, lo, hi)) {
                return {};
            }
            return "\"" + text + "\" is neither " + words + " nor a whole number in " + range;
        },
        "", name);
}

constexpr const char* kFooterHelp = "Prints, for each PICTURE (GIF, JPEG, PNG, WebP, HEIC, AVIF, TIFF or BMP) in\n"
                                    "turn, its text image; an empty line separates the texts of consecutive\n"
                                    "pictures. The picture name - reads one picture from standard input. With\n"
                                    "--save-gray FILE and several pictures, FILE must contain %d, which is\n"
                                    "replaced by the picture's position on the command line (1 for the first).\n"
                                    "Lines carry no trailing spaces, except with --crlf.\n"
                                    "\n"
                                    "Size: --columns and --rows as given. Without either, text going to a\n"
                                    "terminal fills it: its columns and its rows less one line, keeping the\n"
                                    "aspect, a small picture enlarged (not with --no-enlarge). Text going to a\n"
                                    "file or a pipe is 80 characters wide. --columns natural: one picture pixel\n"
                                    "to one pixel of the font. Each character covers a part of the picture\n"
                                    "shaped like the cell it is shown in: the terminal's, else 1/2 (see\n"
                                    "--font-ratio); in HTML and at the natural size the font's own.\n"
                                    "\n"
                                    "The window's text: --columns natural --match correlation --black-level 0\n"
                                    "--crlf --footer.\n"
                                    "\n"
                                    "Examples:\n"
                                    "  morvel-text photo.jpg                  fit the terminal\n"
                                    "  morvel-text photo.jpg > photo.txt      80 characters wide\n"
                                    "  morvel-text --columns 100 photo.png    100 characters wide\n"
                                    "  morvel-text --rows 40 photo.png        40 lines\n"
                                    "  morvel-text --columns 100 --rows 40 photo.png\n"
                                    "                                         inside 100 x 40, keeping the aspect\n"
                                    "  morvel-text --background dark photo.png\n"
                                    "                                         light characters on a dark ground\n"
                                    "  for f in *.jpg; do morvel-text --columns 80 -o \"${f%.jpg}.txt\" \"$f\"; done\n"
                                    "                                         one text file per picture\n"
                                    "  morvel-text --columns auto --invert --color 256 photo.jpg\n"
                                    "                                         in colour, light on dark\n"
                                    "  morvel-text --columns 120 -o photo.html photo.jpg\n"
                                    "                                         a web page\n"
                                    "  morvel-text --columns 80 -o all.txt *.gif *.png\n"
                                    "                                         all pictures in one file\n"
                                    "  convert photo.tif png:- | morvel-text --columns 80 -\n"
                                    "                                         a picture from standard input\n"
                                    "\n"
                                    "Exit status: 0 all pictures converted; 1 a picture could not be read or an\n"
                                    "output could not be written (the other pictures are still converted);\n"
                                    "2 usage error.\n"
                                    "\n"
                                    "See morvel-text(1) for the details.";

// The options' values as typed, before they are converted.
struct Typed {
    std::string points = "9", weight = "400", dpi = "96", blur = "3", match = "tone", gamma, blackLevel = "0";
    std::string columns, box, fontRatio, rows, background = "auto", jobs = "0", colour = "auto", format;
    std::string loops, frame, frames;
    bool noFooter = false, noAnimate = false, noOrientation = false;
};

// A CLI11 check that accepts one of `words`.
CLI::Validator oneOf(std::vector<std::string> words)
{
    std::string list;
    for (const std::string& word : words) {
        list += (list.empty() ? "" : ", ") + word;
    }
    return CLI::Validator(
        [words, list](std::string& text) -> std::string {
            if (std::find(words.begin(), words.end(), text) != words.end()) {
                return {};
            }
            return "\"" + text + "\" is not one of " + list;
        },
        "", "one of " + list);
}

// A CLI11 check made of `accepts` with the message `refusal` for the text.
CLI::Validator accepting(bool (*accepts)(const std::string&), const char* refusal)
{
    return CLI::Validator(
        [accepts, refusal](std::string& text) -> std::string {
            return accepts(text) ? std::string() : "\"" + text + "\" " + refusal;
        },
        "", "");
}

// The options most runs use: size, background, colour and the output.
void declareCommon(CLI::App& app, Options& o, Typed& t)
{
    app.add_option("-w,--columns,--width", t.columns,
                   "Scale the picture so that the text is about N characters wide (exactly N with a monospaced "
                   "font), 1..10000; auto: the terminal's width when the text goes to a terminal; natural: one "
                   "picture pixel to one pixel of the font")
        ->type_name("N|auto|natural")
        ->check(wordOrDecimalIn("auto", kMinColumns, kMaxColumns, "columns", "natural"));
    app.add_option("--rows,--height", t.rows,
                   "Scale the picture so that the text has N lines (footer not counted), 1..10000; auto: the "
                   "terminal's rows less one, footer included. With --columns: the largest size inside both, "
                   "keeping the aspect")
        ->type_name("N|auto")
        ->check(wordOrDecimalIn("auto", kMinRows, kMaxRows, "rows"));
    app.add_option("-s,--size", t.box, "A box of W columns and H rows: --columns W --rows H")
        ->type_name("WxH")
        ->check(accepting([](const std::string& text) { return parseSizeBox(text).has_value(); },
                          "is not a size such as 80x24"));
    app.add_option("--background", t.background,
                   "light, dark (the same as --invert) or auto: the terminal's background when the text goes to "
                   "a terminal, else light (default auto)")
        ->type_name("WHICH")
        ->check(oneOf({"light", "dark", "auto"}));
    app.add_option("--color", t.colour,
                   "Colour each character with the picture's mean colour under it: none, 16, 256, truecolor or "
                   "auto (default): on a terminal truecolor when COLORTERM says so, else as terminfo's colour "
                   "count for TERM (8 or 16: 16, 256: 256, none: none); none elsewhere or when NO_COLOR is set; "
                   "truecolor in HTML")
        ->type_name("MODE")
        ->check(oneOf({"none", "16", "256", "truecolor", "auto"}));
    app.add_option("-o", o.output,
                   "Write the text to FILE instead of standard output (-: standard output); a regular file is "
                   "replaced whole or not at all, a device or pipe is written in place")
        ->type_name("FILE");
    for (const char* name : {"--columns", "--rows", "--size", "--background", "--color", "-o"}) {
        app.get_option(name)->group("Common options");
    }
}

// How the text is fitted beyond its size, and how it looks.
void declareSizeAndLook(CLI::App& app, Options& o, Typed& t)
{
    app.add_option("--font-ratio", t.fontRatio,
                   "The width over the height of the cell the text is shown in, as W/H or one number (default: "
                   "the terminal's cell, else 1/2), or font: the font's own cell")
        ->type_name("W/H|font")
        ->check(accepting([](const std::string& text) { return text == "font" || parseFontRatio(text); },
                          "is not a cell ratio such as 1/2"))
        ->group("Size");
    app.add_flag("--no-enlarge", o.noEnlarge, "Keep a picture smaller than the text's size at its own size")
        ->group("Size");
    app.add_flag("--stretch", o.stretch,
                 "With both a width and a height (given, or the terminal's): fill both exactly, ignoring the "
                 "aspect")
        ->group("Size");
    app.add_flag("--invert", o.invert,
                 "Match the inverted picture, for light characters on a dark background; the footer ends with a "
                 "line Inverted")
        ->group("Look");
    app.add_option("--match", t.match,
                   "Match mode: tone (default; correlation with --fill in truecolor) reproduces the picture's "
                   "light and dark; difference and correlation are the window's modes")
        ->type_name("MODE")
        ->check(oneOf({"tone", "difference", "correlation"}))
        ->group("Look");
    app.add_option("--gamma", t.gamma,
                   "Tone mode's curve exponent, 0.3..3.0 (default 0.9); higher darkens the midtones")
        ->type_name("G")
        ->group("Look");
    app.add_option("--chars", o.chars,
                   "Match only against these characters (printable ASCII; the space is always one of them), in "
                   "every mode; in tone mode they replace the ramp")
        ->type_name("SET")
        ->group("Look");
    app.add_option("--black-level", t.blackLevel,
                   "Black level 0..255 (default 0), or max: the mean level of the darkest blurred glyph cell; in "
                   "tone mode the text's darkest tone, never below the densest character's own (max: that "
                   "character's)")
        ->type_name("N|max")
        ->check(wordOrDecimalIn("max", kMinBlackLevel, kMaxBlackLevel, "black level"))
        ->group("Look");
    app.add_flag("--fill", o.fill,
                 "With colour, give each cell a background colour too: character and background mix to the "
                 "picture's colour, the character lighter or darker to show its shape; in truecolor the "
                 "characters follow the picture's shapes (--match correlation) unless --match or --gamma is given")
        ->group("Colour");
    app.add_flag("--color-boost", o.colourBoost,
                 "Stronger colours: more saturated, and darker (lighter with --invert) so that thin marks keep "
                 "their colour")
        ->group("Colour");
}

// What is written, and animations.
void declareOutput(CLI::App& app, Options& o, Typed& t)
{
    app.add_option("--format", t.format,
                   "Output format: text; html (a page with the text in the face it was made with); png or svg "
                   "(the text as a picture in that face); default by the -o FILE's ending (.html, .htm, .png, "
                   ".svg), else text")
        ->type_name("FORMAT")
        ->check(oneOf({"text", "html", "png", "svg"}));
    app.add_flag("--footer", o.footer, "Add the window's footer: name, font, blur and level");
    app.add_flag("--no-footer", t.noFooter, "Leave out the footer (the default)");
    app.add_flag("--crlf", o.crlf, "End lines with CR LF (default LF)");
    app.add_option("--save-gray", o.saveGray,
                   "Also write each loaded gray picture (before scaling, inversion and black level) as a binary "
                   "PGM")
        ->type_name("FILE");
    app.add_flag("--no-orientation", t.noOrientation,
                 "Keep a photo's stored orientation instead of turning it upright by its EXIF orientation");
    app.add_flag("--no-animate", t.noAnimate, "Show an animation's first frame instead of playing it on a terminal");
    app.add_option("--loops", t.loops,
                   "Play an animation N times, 0..10000 (0: until q or Ctrl-C); default as often as the file says")
        ->type_name("N")
        ->check(decimalIn(kMinLoops, kMaxLoops));
    app.add_option("--frame", t.frame, "Show frame N of an animation (1 is the first) instead of playing it")
        ->type_name("N")
        ->check(decimalIn(kMinFrame, kMaxFrame));
    app.add_option("--frames", t.frames,
                   "all: show every frame of an animation, one after the other, each after a line holding a form "
                   "feed")
        ->type_name("all")
        ->check(oneOf({"all"}));
    app.add_flag("--verbose", o.verbose,
                 "Say on standard error which background and which cell were chosen, and what decided them");
    for (const char* name : {"--format", "--footer", "--no-footer", "--crlf", "--save-gray", "--no-orientation",
                             "--no-animate", "--loops", "--frame", "--frames", "--verbose"}) {
        app.get_option(name)->group("Output");
    }
}

// The font the glyphs are drawn in, and how they are matched.
void declareFont(CLI::App& app, Options& o, Typed& t)
{
    app.add_option("--font", o.face,
                   "Font face (default \"Lucida Console\"); a face that is not installed is replaced by the "
                   "installed monospaced face, with a notice when it was named here")
        ->type_name("FACE");
    app.add_option("--points", t.points, "Font size in points, 1..1000 (default 9)")
        ->type_name("N")
        ->check(decimalIn(kMinPoints, kMaxPoints));
    app.add_option("--weight", t.weight, "Font weight, 0..1000, 400 normal, 700 bold (default 400)")
        ->type_name("N")
        ->check(decimalIn(kMinWeight, kMaxWeight));
    app.add_flag("--italic", o.italic, "Italic font");
    app.add_option("--dpi", t.dpi, "Resolution the font is rendered at, 1..10000 (default 96)")
        ->type_name("N")
        ->check(decimalIn(kMinDpi, kMaxDpi));
    app.add_option("--blur", t.blur, "Blur passes over the glyph atlas, 0..1000 (default 3)")
        ->type_name("N")
        ->check(decimalIn(kMinBlur, kMaxBlur));
    app.add_option("--jobs", t.jobs,
                   "Threads that load pictures and generate the text, 0..256; 0: one per processor core, fewer for a "
                   "small picture; 1: one picture at a time, the least memory (default 0)")
        ->type_name("N")
        ->check(decimalIn(kMinJobs, kMaxJobs));
    for (const char* name : {"--font", "--points", "--weight", "--italic", "--dpi", "--blur", "--jobs"}) {
        app.get_option(name)->group("Font and matching");
    }
}

// `text` with its white space made single and broken into lines of at most
// `width` characters, for a help entry.
std::string wrapped(const std::string& text, size_t width)
{
    std::string out;
    size_t lineLength = 0;
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        if (lineLength > 0 && lineLength + 1 + word.size() > width) {
            out += '\n';
            lineLength = 0;
        } else if (lineLength > 0) {
            out += ' ';
            ++lineLength;
        }
        out += word;
        lineLength += word.size();
    }
    return out;
}

// Every option, grouped, with help that fits 80 columns.
void declareOptions(CLI::App& app, Options& o, Typed& t)
{
    constexpr size_t kNameColumns = 26;
    app.set_help_flag("-h,--help", "Print this help and exit")->group("Common options");
    app.set_version_flag("-V,--version", std::string("morvel-text ") + MORVEL_VERSION, "Print the version and exit")
        ->group("Common options");
    declareCommon(app, o, t);
    declareSizeAndLook(app, o, t);
    declareOutput(app, o, t);
    declareFont(app, o, t);
    app.add_option("PICTURE", o.pictures, "Pictures to convert; - reads one from standard input")
        ->type_name("")
        ->required();
    for (CLI::Option* option : app.get_options()) {
        option->description(wrapped(option->get_description(), 80 - kNameColumns - 1));
    }
    app.footer(kFooterHelp);
    app.get_formatter()->column_width(kNameColumns);
    app.get_formatter()->label("REQUIRED", "");
}

// The options typed in `t` into `o` (the checks have accepted them).
void convertOptions(const CLI::App& app, const Typed& t, Options& o)
{
    o.points = *parseDecimal(t.points, kMinPoints, kMaxPoints);
    o.weight = *parseDecimal(t.weight, kMinWeight, kMaxWeight);
    o.dpi = *parseDecimal(t.dpi, kMinDpi, kMaxDpi);
    o.blur = *parseDecimal(t.blur, kMinBlur, kMaxBlur);
    o.match = t.match == "tone"         ? MatchMode::Tone
              : t.match == "difference" ? MatchMode::Difference
                                        : MatchMode::Correlation;
    o.blackLevelMax = t.blackLevel == "max";
    o.blackLevel = o.blackLevelMax ? 0 : *parseDecimal(t.blackLevel, kMinBlackLevel, kMaxBlackLevel);
    o.footer = o.footer && !t.noFooter;
    o.faceNamed = app.count("--font") > 0;
    o.matchNamed = app.count("--match") > 0 || app.count("--gamma") > 0;
    o.orient = !t.noOrientation;
    o.animate = !t.noAnimate && t.frame.empty() && t.frames.empty();
    if (!t.loops.empty()) {
        o.loops = *parseDecimal(t.loops, kMinLoops, kMaxLoops);
    }
    o.frame = t.frame.empty() ? 0 : *parseDecimal(t.frame, kMinFrame, kMaxFrame);
    o.allFrames = !t.frames.empty();
    o.columnsAuto = t.columns == "auto";
    o.columnsNatural = t.columns == "natural";
    o.columns =
        t.columns.empty() || o.columnsAuto || o.columnsNatural ? 0 : *parseDecimal(t.columns, kMinColumns, kMaxColumns);
    o.rowsAuto = t.rows == "auto";
    o.rows = t.rows.empty() || o.rowsAuto ? 0 : *parseDecimal(t.rows, kMinRows, kMaxRows);
    if (const auto sized = parseSizeBox(t.box)) {
        o.columns = sized->first;
        o.rows = sized->second;
    }
    o.fontRatioFont = t.fontRatio == "font";
    o.fontRatio = t.fontRatio.empty() || o.fontRatioFont ? 0 : *parseFontRatio(t.fontRatio);
    o.background = t.background == "light"  ? BackgroundChoice::Light
                   : t.background == "dark" ? BackgroundChoice::Dark
                                            : BackgroundChoice::Auto;
    o.jobs = *parseDecimal(t.jobs, kMinJobs, kMaxJobs);
    o.colour = colourModeNamed(t.colour);
    if (t.format.empty()) {
        // The output file's extension chooses, in any letter case.
        std::string extension = o.output.substr(std::min(o.output.size(), o.output.rfind('.')));
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        o.html = extension == ".html" || extension == ".htm";
        o.picture = textPictureFormatOf(o.output);
    } else {
        o.html = t.format == "html";
        if (t.format == "png" || t.format == "svg")
            o.picture = t.format == "png" ? TextPictureFormat::Png : TextPictureFormat::Svg;
    }
}

// The --chars set checked and made each character once, in code order, the
// space among them; an error message when it is no set.
std::optional<std::string> checkChars(std::string& chars)
{
    if (chars.empty()) {
        return "--chars: the set is empty";
    }
    for (const char c : chars) {
        if (c < ' ' || c > '~') {
            return "--chars: only printable ASCII characters (space to ~) can be matched";
        }
    }
    chars += ' ';
    std::sort(chars.begin(), chars.end());
    chars.erase(std::unique(chars.begin(), chars.end()), chars.end());
    return std::nullopt;
}

// What no single option's check sees: options together, and values checked
// once converted. The message of the first error found, if any.
std::optional<std::string> checkOptions(const CLI::App& app, const Typed& t, Options& o)
{
    if (o.frame != 0 && o.allFrames) {
        return "--frame and --frames cannot be given together";
    }
    if (o.picture && o.pictures.size() > 1) {
        return "--format " + std::string(*o.picture == TextPictureFormat::Png ? "png" : "svg") + " takes one picture";
    }
    if (o.picture && o.allFrames) {
        return "--frames all gives text, not a picture";
    }
    const int32_t charPixels = mulDiv(o.points, o.dpi, 72);
    if (charPixels < kMinCharPixels || charPixels > kMaxCharPixels) {
        return "--points " + std::to_string(o.points) + " at --dpi " + std::to_string(o.dpi) + " makes characters " +
               std::to_string(charPixels) + " pixels high; allowed are " + std::to_string(kMinCharPixels) + ".." +
               std::to_string(kMaxCharPixels);
    }
    if (app.count("--chars") > 0) {
        if (auto error = checkChars(o.chars)) {
            return error;
        }
    }
    if (!t.gamma.empty() || app.count("--gamma") > 0) {
        const std::optional<double> g = parseFraction(t.gamma, kMinToneGamma, kMaxToneGamma);
        if (!g) {
            return "--gamma: \"" + t.gamma + "\" is not a number in 0.3..3.0";
        }
        if (o.match != MatchMode::Tone) {
            return std::string("--gamma applies to --match tone only");
        }
        o.gamma = *g;
    }
    if (!t.box.empty() && (!t.columns.empty() || !t.rows.empty())) {
        return std::string("--size gives the columns and the rows: not with --columns or --rows");
    }
    if (o.face.empty() || o.face.size() >= static_cast<size_t>(kFaceNameSize)) {
        return o.face.empty()
                   ? std::string("--font: the face name is empty")
                   : "--font: the face name is longer than " + std::to_string(kFaceNameSize - 1) + " characters";
    }
    if (std::count(o.pictures.begin(), o.pictures.end(), kStdinName) > 1) {
        return std::string("standard input (-) can be read only once");
    }
    if (o.pictures.size() > 1 && !o.saveGray.empty() && o.saveGray.find("%d") == std::string::npos) {
        return std::string("--save-gray: with several pictures FILE must contain %d");
    }
    if ((o.output.empty() && app.count("-o") > 0) || (o.saveGray.empty() && app.count("--save-gray") > 0)) {
        return std::string(o.output.empty() && app.count("-o") > 0 ? "-o" : "--save-gray") + ": the file name is empty";
    }
    return std::nullopt;
}

// The number of single-character edits between `a` and `b`.
size_t editDistance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The option name nearest to `typed` (its value after '=' aside): one that
// it begins alone, else one at most two edits away (and at most one edit in
// three characters); empty when none is.
std::string nearestOption(const CLI::App& app, std::string typed)
{
    typed = typed.substr(0, typed.find('='));
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options()) {
        for (const std::string& name : option->get_lnames()) {
            names.push_back("--" + name);
        }
        for (const std::string& name : option->get_snames()) {
            names.push_back("-" + name);
        }
    }
    std::string nearest;
    size_t best = 3;
    size_t prefixed = 0;
    for (const std::string& name : names) {
        if (typed.size() > 2 && name.rfind(typed, 0) == 0 && ++prefixed == 1) {
            nearest = name;
            best = 0;
        } else if (const size_t distance = editDistance(typed, name);
                   best > 0 && distance < best && distance * 3 <= typed.size()) {
            nearest = name;
            best = distance;
        }
    }
    return prefixed > 1 ? std::string() : nearest;
}

// A command-line error as the converter says it, on one line.
std::string inMorvelsWords(const CLI::ParseError& error, const CLI::App& app)
{
    const std::string what = error.what();
    std::smatch match;
    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
        const std::vector<std::string> extra = app.remaining();
        const std::string first = extra.empty() ? what : extra.front();
        if (first.empty() || first[0] != '-') {
            return "unexpected argument " + first;
        }
        const std::string nearest = nearestOption(app, first);
        return "unknown option " + first + (nearest.empty() ? "" : "; did you mean " + nearest + "?");
    }
    if (std::regex_match(what, match, std::regex(R"((\S+): At Most \d+ required but received \d+)"))) {
        return match[1].str() + " given more than once";
    }
    if (std::regex_match(what, match, std::regex(R"((\S+): \d+ required (\S*) ?missing)"))) {
        return match[1].str() + " needs a value" + (match[2].length() > 0 ? " (" + match[2].str() + ")" : "");
    }
    if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
        return "no picture given";
    }
    return what;
}

}  // namespace

ParseResult parseOptions(int argc, char** argv)
{
    CLI::App app{"morvel-text: turns pictures into text art.", "morvel-text"};
    Options o;
    Typed t;
    declareOptions(app, o, t);
    ParseResult result;
    std::optional<std::string> error;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return result;
    } catch (const CLI::CallForVersion& e) {
        std::cout << e.what() << '\n';
        return result;
    } catch (const CLI::ParseError& e) {
        error = inMorvelsWords(e, app);
    }
    if (!error) {
        convertOptions(app, t, o);
        error = checkOptions(app, t, o);
    }
    if (error) {
        std::cerr << "morvel-text: " << *error << '\n' << kUsageHint << '\n';
        result.exitStatus = 2;
        return result;
    }
    result.options = std::move(o);
    return result;
}

}  // namespace morvel::cli
