#include "cli/options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iostream>

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

constexpr const char* kFooterHelp = "Prints, for each PICTURE (GIF, JPEG or PNG) in turn, its text image; an\n"
                                    "empty line separates the texts of consecutive pictures. The picture name -\n"
                                    "reads one picture from standard input. With --save-gray FILE and several\n"
                                    "pictures, FILE must contain %d, which is replaced by the picture's position\n"
                                    "on the command line (1 for the first). Lines carry no trailing spaces,\n"
                                    "except with --crlf.\n"
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

}  // namespace

ParseResult parseOptions(int argc, char** argv)
{
    CLI::App app{"morvel-text: turns GIF, JPEG and PNG pictures into text art.", "morvel-text"};
    app.set_help_flag("-h,--help", "Print this help and exit");
    app.set_version_flag("-V,--version", std::string("morvel-text ") + MORVEL_VERSION, "Print the version and exit");
    app.footer(kFooterHelp);
    app.get_formatter()->column_width(30);
    app.get_formatter()->label("REQUIRED", "");

    Options o;
    std::string points = std::to_string(o.points);
    std::string weight = std::to_string(o.weight);
    std::string dpi = std::to_string(o.dpi);
    std::string blur = std::to_string(o.blur);
    std::string match = "tone";
    std::string gamma;
    std::string blackLevel = std::to_string(o.blackLevel);
    std::string columns;
    std::string rows;
    std::string background = "auto";
    std::string jobs = std::to_string(o.jobs);
    bool noFooter = false;
    std::string colour = "auto";
    std::string format;

    app.add_option("--font", o.face,
                   "Font face (default \"Lucida Console\"); a face that is\n"
                   "not installed is replaced by the installed monospaced\n"
                   "face, with a notice when it was named here")
        ->type_name("FACE");
    app.add_option("--points", points, "Font size in points, 1..1000 (default 9)")
        ->type_name("N")
        ->check(decimalIn(kMinPoints, kMaxPoints));
    app.add_option("--weight", weight, "Font weight, 0..1000, 400 normal, 700 bold (default 400)")
        ->type_name("N")
        ->check(decimalIn(kMinWeight, kMaxWeight));
    app.add_flag("--italic", o.italic, "Italic font");
    app.add_option("--dpi", dpi, "Resolution the font is rendered at, 1..10000 (default 96)")
        ->type_name("N")
        ->check(decimalIn(kMinDpi, kMaxDpi));
    app.add_option("--blur", blur, "Blur passes over the glyph atlas, 0..1000 (default 3)")
        ->type_name("N")
        ->check(decimalIn(kMinBlur, kMaxBlur));
    app.add_option("--match", match,
                   "Match mode: tone (default) reproduces the picture's\n"
                   "light and dark; difference and correlation are the\n"
                   "window's modes")
        ->type_name("MODE")
        ->check(CLI::IsMember({"tone", "difference", "correlation"}).description(""));
    app.add_option("--gamma", gamma, "Tone mode's curve exponent, 0.3..3.0 (default 0.9);\nhigher darkens the midtones")
        ->type_name("G");
    app.add_option("--chars", o.chars,
                   "Match only against these characters (printable ASCII;\n"
                   "the space is always one of them), in every mode; in\n"
                   "tone mode they replace the ramp")
        ->type_name("SET");
    app.add_option("--black-level", blackLevel,
                   "Black level 0..255 (default 0), or max: the mean\n"
                   "level of the darkest blurred glyph cell; in tone mode\n"
                   "the text's darkest tone, never below the densest\n"
                   "character's own (max: that character's)")
        ->type_name("N|max")
        ->check(wordOrDecimalIn("max", kMinBlackLevel, kMaxBlackLevel, "black level"));
    app.add_option("-w,--columns,--width", columns,
                   "Scale the picture so that the text is about N characters\n"
                   "wide (exactly N with a monospaced font), 1..10000; auto:\n"
                   "the terminal's width when the text goes to a terminal;\n"
                   "natural: one picture pixel to one pixel of the font")
        ->type_name("N|auto|natural")
        ->check(wordOrDecimalIn("auto", kMinColumns, kMaxColumns, "columns", "natural"));
    std::string box;
    app.add_option("-s,--size", box, "A box of W columns and H rows: --columns W --rows H")
        ->type_name("WxH")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                return parseSizeBox(text) ? std::string() : "\"" + text + "\" is not a size such as 80x24";
            },
            "", "size"));
    std::string fontRatio;
    app.add_option("--font-ratio", fontRatio,
                   "The width over the height of the cell the text is shown\n"
                   "in, as W/H or one number (default: the terminal's cell,\n"
                   "else 1/2), or font: the font's own cell")
        ->type_name("W/H|font")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                return text == "font" || parseFontRatio(text) ? std::string()
                                                              : "\"" + text + "\" is not a cell ratio such as 1/2";
            },
            "", "ratio"));
    app.add_flag("--no-enlarge", o.noEnlarge, "Keep a picture smaller than the text's size at its own size");
    app.add_option("--rows,--height", rows,
                   "Scale the picture so that the text has N lines (footer\n"
                   "not counted), 1..10000; auto: the terminal's rows less\n"
                   "one, footer included. With --columns: the largest size\n"
                   "inside both, keeping the aspect")
        ->type_name("N|auto")
        ->check(wordOrDecimalIn("auto", kMinRows, kMaxRows, "rows"));
    app.add_flag("--stretch", o.stretch,
                 "With both a width and a height (given, or the\n"
                 "terminal's): fill both exactly, ignoring the aspect");
    app.add_flag("--invert", o.invert,
                 "Match the inverted picture, for light characters on a\n"
                 "dark background; the footer ends with a line Inverted");
    app.add_option("--background", background,
                   "light, dark (the same as --invert) or auto: the\n"
                   "terminal's background when the text goes to a terminal,\n"
                   "else light (default auto)")
        ->type_name("WHICH")
        ->check(CLI::IsMember({"light", "dark", "auto"}).description(""));
    app.add_flag("--verbose", o.verbose,
                 "Say on standard error which background and which cell\n"
                 "were chosen, and what decided them");
    app.add_option("--jobs", jobs, "Threads that generate the text, 0..256; 0: one per\nprocessor core (default 0)")
        ->type_name("N")
        ->check(decimalIn(kMinJobs, kMaxJobs));
    app.add_flag("--footer", o.footer, "Add the window's footer: name, font, blur and level");
    app.add_flag("--no-footer", noFooter, "Leave out the footer (the default)");
    app.add_option("--color", colour,
                   "Colour each character with the picture's mean colour\n"
                   "under it: none, 16, 256, truecolor or auto (default):\n"
                   "on a terminal truecolor when COLORTERM says so, else\n"
                   "as terminfo's colour count for TERM (8 or 16: 16,\n"
                   "256: 256, none: none); none elsewhere or when NO_COLOR\n"
                   "is set; truecolor in HTML")
        ->type_name("MODE")
        ->check(CLI::IsMember({"none", "16", "256", "truecolor", "auto"}).description(""));
    app.add_flag("--fill", o.fill,
                 "With colour, give each cell a background colour too:\n"
                 "character and background mix to the picture's colour,\n"
                 "the character lighter or darker to show its shape");
    app.add_flag("--color-boost", o.colourBoost,
                 "Stronger colours: more saturated, and darker (lighter\n"
                 "with --invert) so that thin marks keep their colour");
    app.add_option("--format", format,
                   "Output format: text; html (a page with the text in\n"
                   "the face it was made with); png or svg (the text as a\n"
                   "picture in that face); default by the -o FILE's\n"
                   "ending (.html, .htm, .png, .svg), else text")
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"text", "html", "png", "svg"}).description(""));
    app.add_flag("--crlf", o.crlf, "End lines with CR LF (default LF)");
    bool noAnimate = false;
    app.add_flag("--no-animate", noAnimate, "Show an animation's first frame instead of playing it\non a terminal");
    std::string loops;
    app.add_option("--loops", loops,
                   "Play an animation N times, 0..10000 (0: until q or\n"
                   "Ctrl-C); default as often as the file says")
        ->type_name("N")
        ->check(decimalIn(kMinLoops, kMaxLoops));
    std::string frame;
    app.add_option("--frame", frame, "Show frame N of an animation (1 is the first) instead\nof playing it")
        ->type_name("N")
        ->check(decimalIn(kMinFrame, kMaxFrame));
    std::string frames;
    app.add_option("--frames", frames,
                   "all: show every frame of an animation, one after the\n"
                   "other, each after a line holding a form feed")
        ->type_name("all")
        ->check(CLI::IsMember({"all"}).description(""));
    bool noOrientation = false;
    app.add_flag("--no-orientation", noOrientation,
                 "Keep a photo's stored orientation instead of turning it\n"
                 "upright by its EXIF orientation");
    app.add_option("--save-gray", o.saveGray,
                   "Also write each loaded gray picture (before scaling,\n"
                   "inversion and black level) as a binary PGM")
        ->type_name("FILE");
    app.add_option("-o", o.output,
                   "Write the text to FILE instead of standard output (-:\n"
                   "standard output); a regular file is replaced whole or\n"
                   "not at all, a device or pipe is written in place")
        ->type_name("FILE");
    app.add_option("PICTURE", o.pictures, "GIF, JPEG or PNG pictures to convert; - reads one\nfrom standard input")
        ->type_name("")
        ->required();

    ParseResult result;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return result;
    } catch (const CLI::CallForVersion& e) {
        std::cout << e.what() << '\n';
        return result;
    } catch (const CLI::ParseError& e) {
        std::cerr << "morvel-text: " << e.what() << '\n' << kUsageHint << '\n';
        result.exitStatus = 2;
        return result;
    }

    auto usageError = [&result](const std::string& message) {
        std::cerr << "morvel-text: " << message << '\n' << kUsageHint << '\n';
        result.exitStatus = 2;
        return result;
    };

    // The validators above have accepted these texts already.
    o.points = *parseDecimal(points, kMinPoints, kMaxPoints);
    o.weight = *parseDecimal(weight, kMinWeight, kMaxWeight);
    o.dpi = *parseDecimal(dpi, kMinDpi, kMaxDpi);
    o.blur = *parseDecimal(blur, kMinBlur, kMaxBlur);
    o.match = match == "tone"         ? MatchMode::Tone
              : match == "difference" ? MatchMode::Difference
                                      : MatchMode::Correlation;
    if (blackLevel == "max") {
        o.blackLevelMax = true;
    } else {
        o.blackLevel = *parseDecimal(blackLevel, kMinBlackLevel, kMaxBlackLevel);
    }
    o.footer = o.footer && !noFooter;
    o.faceNamed = app.count("--font") > 0;
    o.orient = !noOrientation;
    o.animate = !noAnimate && frame.empty() && frames.empty();
    if (!loops.empty()) {
        o.loops = *parseDecimal(loops, kMinLoops, kMaxLoops);
    }
    if (!frame.empty()) {
        o.frame = *parseDecimal(frame, kMinFrame, kMaxFrame);
    }
    o.allFrames = !frames.empty();
    if (o.frame != 0 && o.allFrames) {
        return usageError("--frame and --frames cannot be given together");
    }
    if (columns == "auto") {
        o.columnsAuto = true;
    } else if (columns == "natural") {
        o.columnsNatural = true;
    } else if (!columns.empty()) {
        o.columns = *parseDecimal(columns, kMinColumns, kMaxColumns);
    }
    if (const auto sized = parseSizeBox(box)) {
        o.columns = sized->first;
        o.rows = sized->second;
    }
    if (fontRatio == "font") {
        o.fontRatioFont = true;
    } else if (!fontRatio.empty()) {
        o.fontRatio = *parseFontRatio(fontRatio);
    }
    if (rows == "auto") {
        o.rowsAuto = true;
    } else if (!rows.empty()) {
        o.rows = *parseDecimal(rows, kMinRows, kMaxRows);
    }
    o.background = background == "light"  ? BackgroundChoice::Light
                   : background == "dark" ? BackgroundChoice::Dark
                                          : BackgroundChoice::Auto;
    o.jobs = *parseDecimal(jobs, kMinJobs, kMaxJobs);
    o.colour = colourModeNamed(colour);
    if (format.empty()) {
        // The output file's extension chooses, in any letter case.
        std::string extension = o.output.substr(std::min(o.output.size(), o.output.rfind('.')));
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        o.html = extension == ".html" || extension == ".htm";
        o.picture = textPictureFormatOf(o.output);
    } else {
        o.html = format == "html";
        if (format == "png" || format == "svg")
            o.picture = format == "png" ? TextPictureFormat::Png : TextPictureFormat::Svg;
    }
    if (o.picture && o.pictures.size() > 1) {
        return usageError("--format " + std::string(*o.picture == TextPictureFormat::Png ? "png" : "svg") +
                          " takes one picture");
    }
    if (o.picture && o.allFrames) {
        return usageError("--frames all gives text, not a picture");
    }

    const int32_t charPixels = mulDiv(o.points, o.dpi, 72);
    if (charPixels < kMinCharPixels || charPixels > kMaxCharPixels) {
        return usageError("--points " + std::to_string(o.points) + " at --dpi " + std::to_string(o.dpi) +
                          " makes characters " + std::to_string(charPixels) + " pixels high; allowed are " +
                          std::to_string(kMinCharPixels) + ".." + std::to_string(kMaxCharPixels));
    }
    if (app.count("--chars") > 0) {
        if (o.chars.empty()) {
            return usageError("--chars: the set is empty");
        }
        for (const char c : o.chars) {
            if (c < ' ' || c > '~') {
                return usageError("--chars: only printable ASCII characters (space to ~) can be matched");
            }
        }
        // Each character once, in code order, the space among them.
        o.chars += ' ';
        std::sort(o.chars.begin(), o.chars.end());
        o.chars.erase(std::unique(o.chars.begin(), o.chars.end()), o.chars.end());
    }
    if (!gamma.empty() || app.count("--gamma") > 0) {
        const std::optional<double> g = parseFraction(gamma, kMinToneGamma, kMaxToneGamma);
        if (!g) {
            return usageError("--gamma: \"" + gamma + "\" is not a number in 0.3..3.0");
        }
        if (o.match != MatchMode::Tone) {
            return usageError("--gamma applies to --match tone only");
        }
        o.gamma = *g;
    }
    if (!box.empty() && (!columns.empty() || !rows.empty())) {
        return usageError("--size gives the columns and the rows: not with --columns or --rows");
    }
    if (o.face.empty()) {
        return usageError("--font: the face name is empty");
    }
    if (o.face.size() >= static_cast<size_t>(kFaceNameSize)) {
        return usageError("--font: the face name is longer than " + std::to_string(kFaceNameSize - 1) + " characters");
    }
    if (o.pictures.empty()) {
        return usageError("no picture given");
    }
    if (std::count(o.pictures.begin(), o.pictures.end(), kStdinName) > 1) {
        return usageError("standard input (-) can be read only once");
    }
    if (o.pictures.size() > 1 && !o.saveGray.empty() && o.saveGray.find("%d") == std::string::npos) {
        return usageError("--save-gray: with several pictures FILE must contain %d");
    }
    if (o.output.empty() && app.count("-o") > 0) {
        return usageError("-o: the file name is empty");
    }
    if (o.saveGray.empty() && app.count("--save-gray") > 0) {
        return usageError("--save-gray: the file name is empty");
    }
    result.options = std::move(o);
    return result;
}

}  // namespace morvel::cli
