// The converter's width, standard-input, inversion and documentation
// features, checked against its output and against the engine itself.

#include <gtest/gtest.h>
#include <spng.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cli/fill_colours.h"
#include "engine/fast_black_level.h"
#include "engine/fast_matcher.h"
#include "engine/parallel_walk.h"
#include "engine/text_engine.h"
#include "engine/tone_match.h"
#include "image/colour_picture.h"
#include "image/load_picture.h"
#include "image/picture_transform.h"
#include "platform/font.h"
#include "tests/cli/run_converter.h"
#include "tests/test_files.h"

namespace fs = std::filesystem;

namespace {

const std::string kSamples = std::string(MORVEL_SOURCE_DIR) + "/res/samples/";

using morvel::testing::runConverter;

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The engine as the converter sets it up by default.
void prepareEngine(morvel::TextEngine& engine)
{
    ASSERT_TRUE(engine.setDefaultFont("Lucida Console", 9, 400));
    engine.buildGlyphAtlas();
    for (int i = 0; i < 3; ++i)
        engine.blurFont();
    engine.updateBlackLevelRange();
}

// Writes 8-bit samples (gray, or red green blue) as a PNG into `path`.
void writePng(const std::vector<uint8_t>& samples, int32_t width, int32_t height, bool colour, const fs::path& path,
              bool interlaced = false)
{
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = static_cast<uint32_t>(width);
    ihdr.height = static_cast<uint32_t>(height);
    ihdr.bit_depth = 8;
    ihdr.color_type = colour ? SPNG_COLOR_TYPE_TRUECOLOR : SPNG_COLOR_TYPE_GRAYSCALE;
    ihdr.interlace_method = interlaced ? SPNG_INTERLACE_ADAM7 : SPNG_INTERLACE_NONE;
    spng_set_ihdr(ctx, &ihdr);
    ASSERT_EQ(spng_encode_image(ctx, samples.data(), samples.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE), 0);
    size_t length = 0;
    int error = 0;
    void* png = spng_get_png_buffer(ctx, &length, &error);
    std::ofstream(path, std::ios::binary).write(static_cast<const char*>(png), static_cast<std::streamsize>(length));
    std::free(png);
    spng_ctx_free(ctx);
}

// Writes an 8-bit gray PNG of the picture into `path`.
void writeGrayPng(const morvel::ImageRecord& picture, const fs::path& path)
{
    std::vector<uint8_t> samples;
    for (int32_t y = 0; y < picture.rowCount; ++y)
        samples.insert(samples.end(), picture.rows[y], picture.rows[y] + picture.header.biWidth);
    writePng(samples, picture.header.biWidth, picture.rowCount, false, path);
}

class ConverterFeatures : public ::testing::Test {
protected:
    morvel::testing::TempDir dir_{"morvel-cli-features"};
};

}  // namespace

TEST_F(ConverterFeatures, SizesGiveThoseCharactersAndLinesAndKeepTheAspect)
{
    morvel::TextEngine engine;
    prepareEngine(engine);
    const double m = engine.maxGlyphWidth();
    const double h = engine.cellHeight();

    // A tall picture besides the two wide samples.
    morvel::ImageHandle tall = morvel::makeGrayImage(240, 900);
    for (int32_t y = 0; y < 900; ++y)
        for (int32_t x = 0; x < 240; ++x)
            tall->rows[y][x] = static_cast<uint8_t>((x * 3 + y / 4) % 256);
    writeGrayPng(*tall, dir_.path() / "tall.png");

    // columns, rows (0: not given), stretch. --crlf keeps the blank ends of
    // lines, so every line shows its full width.
    struct Size {
        int columns, rows;
        bool stretch;
    };
    const Size sizes[] = {{40, 0, false}, {80, 0, false},  {200, 0, false},  {0, 12, false},
                          {0, 50, false}, {60, 20, false}, {200, 30, false}, {30, 30, true}};
    const std::vector<std::pair<std::string, std::pair<int, int>>> pictures = {
        {kSamples + "sphere.jpg", {800, 560}},
        {kSamples + "hills.gif", {800, 520}},
        {(dir_.path() / "tall.png").string(), {240, 900}}};
    for (const auto& [path, size] : pictures) {
        for (const Size& s : sizes) {
            std::string args = "--crlf --font-ratio font";
            if (s.columns > 0)
                args += " --columns " + std::to_string(s.columns);
            if (s.rows > 0)
                args += " --rows " + std::to_string(s.rows);
            if (s.stretch)
                args += " --stretch";
            const std::string what = path + " " + args;
            int status = -1;
            const auto lines = linesOf(runConverter(args + " '" + path + "'", &status));
            EXPECT_EQ(status, 0) << what;
            ASSERT_FALSE(lines.empty()) << what;
            const auto width = static_cast<int>(lines.front().size());
            for (const std::string& line : lines)
                ASSERT_EQ(line.size(), lines.front().size()) << what;
            const auto count = static_cast<int>(lines.size());
            if (s.stretch) {
                EXPECT_EQ(width, s.columns) << what;
                EXPECT_EQ(count, s.rows) << what;
                continue;
            }
            // Inside the bounds given, one of them met exactly.
            EXPECT_LE(width, s.columns > 0 ? s.columns : width) << what;
            EXPECT_LE(count, s.rows > 0 ? s.rows : count) << what;
            EXPECT_TRUE(width == s.columns || count == s.rows) << what << ": " << width << " x " << count;
            // The text block, width x m by lines x h pixels of the font, has
            // the picture's aspect within one line or one column: a tall
            // picture too, whose height would grow by several lines if the
            // extra glyph width were picture instead of extended edge.
            if (width == s.columns) {
                EXPECT_NEAR(count, width * m * size.second / size.first / h, 1.0) << what;
            } else {
                EXPECT_NEAR(width, count * h * size.first / size.second / m, 1.0) << what;
            }
        }
    }
}

TEST_F(ConverterFeatures, ScaledInvertedTextIsTheEnginesOnThatPicture)
{
    // Scaling to 70 glyph widths (the edges extended by one glyph width and
    // one cell height, which the walk leaves out), then inversion, then the
    // black level (here the highest): the engine's text on that picture.
    int status = -1;
    const std::string text =
        runConverter("--match correlation --crlf --columns 70 --font-ratio font --footer --invert --black-level max '" +
                         kSamples + "sphere.jpg'",
                     &status);
    EXPECT_EQ(status, 0);

    morvel::TextEngine engine;
    prepareEngine(engine);
    const int32_t width = 70 * engine.maxGlyphWidth();
    const auto height = static_cast<int32_t>(std::llround(560.0 * width / 800));
    // Loaded at that size, as the converter loads it (a JPEG decoded at a
    // reduced scale and shrunk while it is read).
    morvel::LoadOptions atSize;
    atSize.fit = [width, height](int32_t, int32_t) { return std::optional<morvel::PictureSize>({width, height}); };
    morvel::ImageHandle resized = morvel::readPicture(kSamples + "sphere.jpg", atSize).gray;
    ASSERT_TRUE(resized);
    morvel::ImageHandle scaled =
        morvel::extendGray(*resized, width + engine.maxGlyphWidth(), height + engine.cellHeight());
    ASSERT_TRUE(scaled);
    morvel::invertGray(*scaled);
    engine.setSourceImage(std::move(scaled));
    engine.applyBlackLevel(engine.blackLevelRange());
    engine.setDisplayName("sphere.jpg");
    engine.generateTextImage(engine.blackLevelRange());
    EXPECT_EQ(text, engine.outputText() + "Inverted\r\n");
}

namespace {

// Replaces the (forked) process with the converter on `args`.
[[noreturn]] void execConverter(const std::vector<std::string>& args)
{
    std::vector<char*> argv{const_cast<char*>(MORVEL_TEXT_BIN)};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(MORVEL_TEXT_BIN, argv.data());
    ::_exit(127);
}

// The converter's peak resident memory in KiB on `args`, its standard
// output going to the file `output`; -1 when it could not be run or failed.
long peakMemory(const std::vector<std::string>& args, const std::string& output)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        execConverter(args);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

}  // namespace

TEST_F(ConverterFeatures, MemoryIsBoundedByTheTextNotByThePicture)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer keeps freed memory for a while";
#endif
    // A tall picture enlarged to a long text (its canvas 200 MB), gray and
    // in colour, and three large interlaced pictures loaded ahead at once
    // (36 MB each at their full size, gray): none is held whole.
    const std::string tall = (dir_.path() / "tall.png").string();
    std::vector<uint8_t> samples;
    for (int y = 0; y < 8000; ++y)
        for (int x = 0; x < 40; ++x)
            samples.push_back(static_cast<uint8_t>(x * 37 + y * 101 + (x * y) % 13 * 7));
    writePng(samples, 40, 8000, false, tall);
    const std::string interlaced = (dir_.path() / "interlaced.png").string();
    writePng(std::vector<uint8_t>(size_t{6000} * 6000, 90), 6000, 6000, false, interlaced, true);
    const std::vector<std::string> cases[] = {
        {"--columns", "100", "--color", "none", tall},
        {"--columns", "100", "--color", "truecolor", tall},
        {"--columns", "100", "--color", "truecolor", interlaced, interlaced, interlaced},
    };
    for (const std::vector<std::string>& args : cases) {
        SCOPED_TRACE(args[3] + " " + args[4]);
        const long peak = peakMemory(args, (dir_.path() / "out.txt").string());
        EXPECT_GT(peak, 0);
        EXPECT_LT(peak, 150 * 1024);
    }
    // With --jobs 1 one picture is loaded at a time: three hold what one does.
    const std::string out = (dir_.path() / "out.txt").string();
    const std::vector<std::string> one = {"--jobs", "1", "--columns", "100", "--color", "truecolor", interlaced};
    std::vector<std::string> three = one;
    three.insert(three.end(), {interlaced, interlaced});
    EXPECT_LT(peakMemory(three, out), peakMemory(one, out) * 13 / 10);
}

namespace {

// How the test plays the terminal the converter runs on.
struct TerminalPlay {
    const char* colours = nullptr;  // COLORFGBG (unset when null)
    std::string reply;              // the answer to the background query
    bool attributes = true;         // answer the device attributes request
    int delayMs = 0;                // wait this long before answering
    std::string typeAhead;          // typed before the converter starts
    std::string stdinFile;          // the picture on standard input instead
    int signal = 0;                 // sent once the questions are asked
};

// A terminal with COLORFGBG `colours` that answers the background query
// with `reply`.
TerminalPlay answering(const char* colours, std::string reply = {})
{
    TerminalPlay play;
    play.colours = colours;
    play.reply = std::move(reply);
    return play;
}

// What the converter did on a terminal of its own (a pseudo-terminal whose
// other side is this test).
struct TerminalRun {
    std::string screen;         // everything it wrote to the terminal
    std::string errors;         // its standard error
    bool asked = false;         // it sent the background query
    bool settingsKept = false;  // the terminal's modes were as before afterwards
    std::string left;           // input left unread on the terminal after it
    int status = -1;            // its wait status
    double askedMs = 0;         // from the questions to its end
};

// The input waiting on the terminal `slaveName`, read without waiting.
std::string pendingInput(const std::string& slaveName)
{
    const int slave = ::open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave < 0)
        return "?";
    termios raw{};
    ::tcgetattr(slave, &raw);
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    ::tcsetattr(slave, TCSANOW, &raw);
    std::string left;
    char buffer[256];
    for (ssize_t got; (got = ::read(slave, buffer, sizeof buffer)) > 0;)
        left.append(buffer, static_cast<size_t>(got));
    ::close(slave);
    return left;
}

// Runs the converter with `args` on a new terminal as its controlling
// terminal, standard input and output, played as `play` says.
TerminalRun runOnTerminal(const std::vector<std::string>& args, const TerminalPlay& play)
{
    TerminalRun run;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return run;
    const std::string slaveName = ::ptsname(master);
    // Held open, so that the terminal keeps its input after the converter.
    const int keeper = ::open(slaveName.c_str(), O_RDWR | O_NOCTTY);
    termios before{};
    ::tcgetattr(master, &before);
    if (!play.typeAhead.empty())
        (void)!::write(master, play.typeAhead.data(), play.typeAhead.size());
    int errors[2];
    if (::pipe(errors) != 0)
        return run;
    const pid_t child = ::fork();
    if (child == 0) {
        // A session of its own, so the terminal becomes its controlling one
        // with the converter in the foreground.
        ::setsid();
        const int slave = ::open(slaveName.c_str(), O_RDWR);
        const int input = play.stdinFile.empty() ? slave : ::open(play.stdinFile.c_str(), O_RDONLY);
        ::dup2(input, 0);
        ::dup2(slave, 1);
        ::dup2(errors[1], 2);
        if (play.colours != nullptr)
            ::setenv("COLORFGBG", play.colours, 1);
        else
            ::unsetenv("COLORFGBG");
        execConverter(args);
    }
    ::close(errors[1]);
    bool answered = false;
    auto asked = std::chrono::steady_clock::now();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool ended = false;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd fd{master, POLLIN, 0};
        if (::poll(&fd, 1, 20) <= 0) {
            // Nothing more to read: done once the converter is.
            if (ended)
                break;
            ended = ::waitpid(child, &run.status, WNOHANG) == child;
            if (ended)
                run.askedMs =
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - asked).count();
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0)
            break;
        run.screen.append(buffer, static_cast<size_t>(got));
        if (!answered && run.screen.find("\033[c") != std::string::npos) {
            answered = true;
            asked = std::chrono::steady_clock::now();
            run.asked = run.screen.find("\033]11;?\033\\") != std::string::npos;
            if (play.signal != 0)
                ::kill(child, play.signal);
            ::usleep(static_cast<useconds_t>(play.delayMs) * 1000);
            const std::string answer = play.reply + (play.attributes ? "\033[?62;22c" : "");
            (void)!::write(master, answer.data(), answer.size());
        }
    }
    if (!ended)
        ::waitpid(child, &run.status, 0);
    char buffer[4096];
    for (ssize_t got; (got = ::read(errors[0], buffer, sizeof buffer)) > 0;)
        run.errors.append(buffer, static_cast<size_t>(got));
    ::close(errors[0]);
    termios after{};
    run.settingsKept = ::tcgetattr(master, &after) == 0 && after.c_lflag == before.c_lflag &&
                       std::memcmp(after.c_cc, before.c_cc, sizeof after.c_cc) == 0;
    run.left = pendingInput(slaveName);
    ::close(keeper);
    ::close(master);
    return run;
}

}  // namespace

TEST_F(ConverterFeatures, BackgroundFromTheTerminal)
{
    const std::string dark = "\033]11;rgb:0000/0000/0000\033\\";
    struct Case {
        const char* what;
        TerminalPlay play;
        bool asks;
        const char* verdict;  // what --verbose says
    };
    TerminalPlay late;
    late.reply = dark;
    late.delayMs = 150;
    TerminalPlay typed;
    typed.typeAhead = "echo TYPEAHEAD-OK\n";
    TerminalPlay silent;
    silent.attributes = false;
    TerminalPlay onStdin;
    onStdin.reply = dark;
    onStdin.stdinFile = kSamples + "hills.gif";
    const Case cases[] = {
        {"COLORFGBG, no answer", answering("15;0"), true, "background dark (COLORFGBG)"},
        {"COLORFGBG light", answering("0;default;15"), true, "background light (COLORFGBG)"},
        {"answer dark", answering(nullptr, dark), true, "background dark (the terminal's answer)"},
        {"answer light, BEL", answering(nullptr, "\033]11;rgb:ff/fa/f0\a"), true,
         "background light (the terminal's answer)"},
        {"the answer beats COLORFGBG", answering("15;0", "\033]11;rgb:ffff/ffff/ffff\a"), true,
         "background light (the terminal's answer)"},
        {"only device attributes", answering(nullptr), true, "background light (no answer from the terminal)"},
        {"nothing at all", silent, true, "background light (the terminal does not answer)"},
        {"answers late", late, true, "background dark (the terminal's answer)"},
        {"typed ahead", typed, false, "background light (input typed ahead)"},
        {"picture on standard input", onStdin, true, "background dark (the terminal's answer)"},
    };
    for (const Case& c : cases) {
        const std::string picture = c.play.stdinFile.empty() ? kSamples + "hills.gif" : "-";
        const TerminalRun run = runOnTerminal({"--verbose", "--footer", "--columns", "10", picture}, c.play);
        EXPECT_EQ(run.asked, c.asks) << c.what;
        EXPECT_EQ(run.errors.substr(0, run.errors.find('\n') + 1), "morvel-text: " + std::string(c.verdict) + "\n")
            << c.what;
        EXPECT_TRUE(run.settingsKept) << c.what;
        // Nothing of the answers is left for the shell; what was typed is.
        EXPECT_EQ(run.left, c.play.typeAhead) << c.what;
        // A dark background inverts, as --invert does.
        const bool inverted = std::string(c.verdict).find("dark") != std::string::npos;
        EXPECT_EQ(run.screen.find("Inverted\r\n") != std::string::npos, inverted) << c.what;
        // A terminal that answers costs its round trip, not a timeout.
        if (c.play.attributes && c.play.delayMs == 0 && c.asks) {
            EXPECT_LT(run.askedMs, 400) << c.what;
        }
    }
    // A signal while the questions wait: the terminal's settings come back
    // before the converter ends by it.
    for (const int signal : {SIGINT, SIGTERM}) {
        TerminalPlay interrupted;
        interrupted.attributes = false;
        interrupted.signal = signal;
        const TerminalRun run = runOnTerminal({"--columns", "10", kSamples + "hills.gif"}, interrupted);
        EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == signal) << signal;
        EXPECT_TRUE(run.settingsKept) << signal;
    }
    // Not a terminal: light, without asking.
    EXPECT_EQ(runConverter("--footer --background auto --columns 10 '" + kSamples + "hills.gif'").find("Inverted"),
              std::string::npos);
}

TEST_F(ConverterFeatures, StandardInputReadsEachFormat)
{
    morvel::ImageHandle sphere = morvel::loadPicture(kSamples + "sphere.jpg");
    ASSERT_TRUE(sphere);
    writeGrayPng(*sphere, dir_.path() / "sphere.png");
    for (const std::string& path :
         {kSamples + "hills.gif", kSamples + "sphere.jpg", (dir_.path() / "sphere.png").string()}) {
        int fileStatus = -1, stdinStatus = -1;
        const std::string fromFile = runConverter("--footer --columns 60 '" + path + "'", &fileStatus);
        auto fromStdin = linesOf(runConverter("--footer --columns 60 - < '" + path + "'", &stdinStatus));
        EXPECT_EQ(fileStatus, 0) << path;
        EXPECT_EQ(stdinStatus, 0) << path;
        // Only the display-name line differs: "stdin" for standard input.
        auto named = std::find(fromStdin.begin(), fromStdin.end(), "stdin");
        ASSERT_NE(named, fromStdin.end()) << path;
        *named = fs::path(path).filename().string();
        EXPECT_EQ(fromStdin, linesOf(fromFile)) << path;
    }
    // Something that is no picture, or nothing at all.
    int status = -1;
    EXPECT_EQ(runConverter("- < /dev/null", &status), "");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(runConverter("- < '" + std::string(MORVEL_SOURCE_DIR) + "/README.md'", &status), "");
    EXPECT_EQ(status, 1);
}

TEST_F(ConverterFeatures, InvertedWhiteIsTheDensestGlyph)
{
    morvel::ImageHandle white = morvel::makeGrayImage(300, 120);
    for (int32_t y = 0; y < 120; ++y)
        std::fill(white->rows[y], white->rows[y] + 300, uint8_t{255});
    writeGrayPng(*white, dir_.path() / "white.png");

    // The glyph whose blurred cell has the darkest mean, the first on a tie.
    morvel::TextEngine engine;
    prepareEngine(engine);
    const morvel::AtlasView view = engine.atlasView();
    char densest = ' ';
    double darkest = 256.0;
    for (int32_t g = 0; g < view.glyphCount; ++g) {
        const morvel::GlyphEntry& entry = view.glyphs[g];
        double sum = 0;
        for (int32_t r = 0; r < view.cellHeight; ++r)
            for (int32_t j = 0; j < entry.width; ++j)
                sum += view.atlas->rows[entry.top + r][view.margin + j];
        const double mean = sum / (view.cellHeight * entry.width);
        if (mean < darkest) {
            darkest = mean;
            densest = static_cast<char>(entry.code);
        }
    }
    ASSERT_NE(densest, ' ');

    int status = -1;
    const std::string path = (dir_.path() / "white.png").string();
    const auto lines = linesOf(runConverter("--invert --match difference --no-footer '" + path + "'", &status));
    EXPECT_EQ(status, 0);
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines)
        ASSERT_EQ(line, std::string(line.size(), densest));
    // Uninverted, white is the lightest glyph: the space.
    for (const std::string& line : linesOf(runConverter("--match difference --no-footer '" + path + "'")))
        ASSERT_EQ(line, std::string(line.size(), ' '));
    // Tone mode, the default: a flat white area with a JPEG's faint noise,
    // inverted, and a flat black one as it is, are the densest character
    // throughout, with no other letters scattered over them.
    morvel::ImageHandle faint = morvel::makeGrayImage(300, 120);
    std::mt19937 rng(5);
    for (int32_t y = 0; y < 120; ++y)
        for (int32_t x = 0; x < 300; ++x)
            faint->rows[y][x] = static_cast<uint8_t>(rng() % 4);
    writeGrayPng(*faint, dir_.path() / "black.png");
    morvel::invertGray(*faint);
    writeGrayPng(*faint, dir_.path() / "noisy-white.png");
    const std::string folder = dir_.path().string();
    for (const std::string& args : {"--invert '" + folder + "/noisy-white.png'", "'" + folder + "/black.png'"}) {
        const auto toneLines = linesOf(runConverter("--no-footer " + args));
        ASSERT_FALSE(toneLines.empty()) << args;
        for (const std::string& line : toneLines)
            ASSERT_EQ(line, std::string(toneLines.front().size(), toneLines.front().front())) << args;
    }
    // The footer's last line says so.
    const auto footer = linesOf(runConverter("--footer --match correlation --invert '" + path + "'"));
    ASSERT_GE(footer.size(), 2u);
    EXPECT_EQ(footer[footer.size() - 2], "(Blur 3, Black Level 0)");
    EXPECT_EQ(footer.back(), "Inverted");
}

namespace {

std::string readWhole(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The text of each <pre> of an HTML page: tags dropped, character references
// resolved, the parser's line break after <pre> left out. `balanced` tells
// whether every element opened is closed in order (void elements aside).
std::vector<std::string> preTexts(const std::string& page, bool& balanced)
{
    std::vector<std::string> texts;
    std::vector<std::string> open;
    balanced = true;
    std::string text;
    for (size_t at = 0; at < page.size();) {
        if (page[at] == '<') {
            const size_t end = page.find('>', at);
            if (end == std::string::npos) {
                balanced = false;
                break;
            }
            const std::string tag = page.substr(at + 1, end - at - 1);
            const std::string name = tag.substr(0, tag.find_first_of(" >"));
            size_t next = end + 1;
            if (name[0] == '/') {
                balanced = balanced && !open.empty() && open.back() == name.substr(1);
                if (!open.empty())
                    open.pop_back();
                if (name == "/pre")
                    texts.push_back(text);
            } else if (name != "!DOCTYPE" && name != "meta") {
                open.push_back(name);
                if (name == "pre") {
                    text.clear();
                    if (page.compare(next, 1, "\n") == 0)
                        ++next;
                }
            }
            at = next;
        } else if (page[at] == '&') {
            const size_t end = page.find(';', at);
            const std::string entity = page.substr(at, end - at + 1);
            text += entity == "&lt;"     ? "<"
                    : entity == "&gt;"   ? ">"
                    : entity == "&amp;"  ? "&"
                    : entity == "&quot;" ? "\""
                                         : "?";
            at = end + 1;
        } else {
            text += page[at++];
        }
    }
    return balanced && open.empty() ? texts : std::vector<std::string>{};
}

}  // namespace

TEST_F(ConverterFeatures, TwoColourPictureInEachColourModeAndAsHtml)
{
    morvel::TextEngine engine;
    prepareEngine(engine);
    const int32_t m = engine.maxGlyphWidth();
    const int32_t h = engine.cellHeight();
    // Red under the first ten characters of each of five lines, green under
    // the next ten, blue under the last nine. Difference mode draws red and
    // blue with dense glyphs and green, the lightest (stretched to white),
    // with spaces, which carry no colour (correlation would see any flat
    // cell as spaces).
    const int32_t width = 30 * m, height = 5 * h + 1;
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3, 0);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            rgb[(static_cast<size_t>(y) * width + x) * 3 + x / (10 * m)] = 255;
    const std::string path = (dir_.path() / "two.png").string();
    writePng(rgb, width, height, true, path);
    const std::string args = "--match difference --no-footer '" + path + "'";

    // Into a pipe, with auto or none: plain text.
    const std::string plain = runConverter("--columns natural " + args);
    const auto plainLines = linesOf(plain);
    ASSERT_EQ(plainLines.size(), 5u);
    ASSERT_EQ(plainLines[0], plainLines[0].substr(0, 10) + std::string(10, ' ') + plainLines[0].substr(20));
    EXPECT_EQ(plain.find('\x1b'), std::string::npos);
    EXPECT_EQ(runConverter("--columns natural --color none " + args), plain);

    const std::vector<std::array<std::string, 3>> modes = {
        {"16", "\x1b[91m", "\x1b[34m"},
        {"256", "\x1b[38;5;196m", "\x1b[38;5;21m"},
        {"truecolor", "\x1b[38;2;255;0;0m", "\x1b[38;2;0;0;255m"},
    };
    // At the natural size (29 characters) blue starts at character 20;
    // scaled to half the size (15 characters) at character 10: the colours
    // follow the picture.
    const std::vector<std::tuple<std::string, size_t, size_t>> scales = {{"--columns natural ", 20, 29},
                                                                         {"--columns 15 ", 10, 15}};
    for (const auto& [scale, blueFrom, length] : scales) {
        const auto scaledLines = linesOf(runConverter(scale + args));
        ASSERT_FALSE(scaledLines.empty());
        ASSERT_EQ(scaledLines[0].size(), length);
        for (const auto& [mode, red, blue] : modes) {
            const auto lines = linesOf(runConverter(scale + "--color " + mode + " " + args));
            ASSERT_EQ(lines.size(), scaledLines.size()) << mode;
            for (size_t i = 0; i < lines.size(); ++i)
                EXPECT_EQ(lines[i],
                          red + scaledLines[i].substr(0, blueFrom) + blue + scaledLines[i].substr(blueFrom) + "\x1b[0m")
                    << scale << mode;
        }
    }

    // Filled: each cell's ground too (flat primaries leave no room to part
    // ink from ground, so both are the picture's colour), spaces included,
    // and the reset after the line's last cell.
    for (const auto& [mode, red, green, blue] :
         std::vector<std::array<std::string, 4>>{{"16", "\x1b[101m\x1b[91m", "\x1b[102m", "\x1b[44m\x1b[34m"},
                                                 {"truecolor", "\x1b[48;2;255;0;0m\x1b[38;2;255;0;0m",
                                                  "\x1b[48;2;0;255;0m", "\x1b[48;2;0;0;255m\x1b[38;2;0;0;255m"}}) {
        const auto lines = linesOf(runConverter("--columns natural --fill --color " + mode + " " + args));
        ASSERT_EQ(lines.size(), plainLines.size()) << mode;
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_EQ(lines[i], red + plainLines[i].substr(0, 10) + green + std::string(10, ' ') + blue +
                                    plainLines[i].substr(20) + "\x1b[0m")
                << mode;
    }

    // Filled in truecolor, the characters follow the picture's shapes
    // (correlation) unless a mode is named (--gamma names tone); with a
    // palette or without colour they are tone's.
    const std::string sphere = "--no-footer --crlf --columns 40 '" + kSamples + "sphere.jpg'";
    const std::string toneText = runConverter(sphere);
    const std::string correlationText = runConverter("--match correlation " + sphere);
    ASSERT_NE(toneText, correlationText);
    const std::vector<std::pair<std::string, const std::string*>> defaults = {
        {"--fill --color truecolor", &correlationText},
        {"--fill --color truecolor --match tone", &toneText},
        {"--fill --color truecolor --gamma 0.9", &toneText},
        {"--fill --color 256", &toneText},
        {"--fill", &toneText},
    };
    for (const auto& [options, text] : defaults)
        EXPECT_EQ(std::regex_replace(runConverter(options + " " + sphere), std::regex("\x1b\\[[0-9;]*m"), ""), *text)
            << options;

    // On a terminal, auto follows COLORTERM, NO_COLOR and terminfo's colour
    // count for TERM (background and cell given, so that the terminal is
    // asked nothing).
    if (std::system("command -v script >/dev/null 2>&1") == 0) {
        auto onTerminal = [&](const std::string& environment) {
            return morvel::testing::runCommand("script -qec \"" + environment + " '" + MORVEL_TEXT_BIN +
                                               "' --background light --font-ratio 1/2 " + args + "\" /dev/null");
        };
        const std::vector<std::pair<std::string, std::string>> terminals = {
            {"TERM=xterm-256color COLORTERM=truecolor", "\x1b[38;2;255;0;0m"},
            {"TERM=vt100 COLORTERM=24bit", "\x1b[38;2;255;0;0m"},
            {"TERM=xterm-256color COLORTERM=", "\x1b[38;5;196m"},
            {"TERM=xterm COLORTERM=", "\x1b[91m"},
            {"TERM=linux COLORTERM=", "\x1b[91m"},
            {"TERM=vt100 COLORTERM=", ""},
            {"TERM=dumb COLORTERM=", ""},
            {"TERM=no-such-terminal COLORTERM=", ""},
            {"TERM=xterm-256color NO_COLOR=1 COLORTERM=truecolor", ""},
        };
        const std::regex sgr("\x1b\\[[0-9;]*m");
        for (const auto& [environment, red] : terminals) {
            const std::string screen = onTerminal(environment);
            if (red.empty())
                EXPECT_FALSE(std::regex_search(screen, sgr)) << environment;
            else
                EXPECT_NE(screen.find(red), std::string::npos) << environment;
        }
    }

    // HTML: -o page.html chooses it; truecolor runs, two a line, and the
    // <pre> text is the plain text, footer and all. --color none: no spans;
    // inverted: light on black; a proportional face: each character in a box.
    const std::string withFooter = runConverter("--columns natural --footer --match difference '" + path + "'");
    const std::string page = (dir_.path() / "page.html").string();
    const std::string face = engine.font()->faceUsed();
    const std::vector<std::pair<std::string, std::string>> pages = {
        {"", withFooter},
        {"--color none --invert",
         runConverter("--columns natural --footer --invert --match difference '" + path + "'")},
        {"--font 'DejaVu Sans'",
         runConverter("--columns natural --footer --font 'DejaVu Sans' --match difference '" + path + "'")},
        {"--fill", withFooter},
    };
    for (const auto& [options, text] : pages) {
        int status = -1;
        EXPECT_EQ(
            runConverter(options + " --columns natural --footer --match difference -o '" + page + "' '" + path + "'",
                         &status),
            "");
        EXPECT_EQ(status, 0) << options;
        const std::string html = readWhole(page);
        bool balanced = false;
        EXPECT_EQ(preTexts(html, balanced), std::vector<std::string>{text}) << options;
        EXPECT_TRUE(balanced) << options;
        EXPECT_EQ(html.rfind("<!DOCTYPE html>\n<html", 0), 0u) << options;
        const size_t spans = std::count(html.begin(), html.end(), '#') - 2;  // less the page's two colours
        if (options.empty()) {
            EXPECT_NE(html.find("font-family: \"" + face + "\", monospace"), std::string::npos);
            EXPECT_NE(html.find("letter-spacing: calc(" + std::to_string(m) + "px - 1ch)"), std::string::npos);
            EXPECT_EQ(spans, 10u);
            EXPECT_NE(html.find("<span style=\"color:#ff0000\">" + plainLines[0].substr(0, 20) +
                                "</span><span style=\"color:#0000ff\">"),
                      std::string::npos);
        } else if (options == "--fill") {
            // Red characters on red, then green spaces, in one run each.
            EXPECT_NE(html.find("<span style=\"color:#ff0000;background:#ff0000\">" + plainLines[0].substr(0, 10) +
                                "</span><span style=\"color:#ff0000;background:#00ff00\">" + std::string(10, ' ') +
                                "</span>"),
                      std::string::npos);
        } else if (options[2] == 'c') {
            EXPECT_EQ(html.find("<span"), std::string::npos);
            EXPECT_NE(html.find("background: #000"), std::string::npos);
        } else {
            EXPECT_NE(html.find("font-family: \"DejaVu Sans\", sans-serif"), std::string::npos);
            EXPECT_NE(html.find("<i class=w"), std::string::npos);
        }
    }
    // --format says otherwise than the extension.
    EXPECT_EQ(runConverter("--columns natural --format text " + args + " -o '" + page + "'"), "");
    EXPECT_EQ(readWhole(page), plain);
    EXPECT_EQ(runConverter("--format html " + args).rfind("<!DOCTYPE html>", 0), 0u);
}

TEST(FilledCells, InkAndGroundMixToTheMeanAndStandApart)
{
    auto linear = [](uint8_t v) {
        const double c = v / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    auto lightness = [&](morvel::cli::Rgb c) {
        const double y = 0.2126729 * linear(c.red) + 0.7151522 * linear(c.green) + 0.0721750 * linear(c.blue);
        return y > 0.008856 ? 116 * std::cbrt(y) - 16 : 903.3 * y;
    };
    struct Case {
        morvel::cli::Rgb mean;
        double coverage;
        bool lightInk;
        double leastApart;  // 0: no room, ink and ground are the mean
        bool inkLighter;
    };
    const std::vector<Case> cases = {
        {{128, 128, 128}, 0.3, false, 15, false},                                           // mid gray: the asked way
        {{128, 128, 128}, 0.3, true, 15, true},   {{40, 90, 160}, 0.15, false, 15, false},  // a blue
        {{250, 250, 250}, 0.3, true, 5, false},  // near white: darker ink has more room
        {{6, 6, 6}, 0.3, false, 5, true},        // near black: lighter ink has more room
        {{255, 0, 0}, 0.3, false, 0, false},     // a primary: no room either way
        {{0, 0, 0}, 0.3, true, 0, false},         {{128, 128, 128}, 0.0, false, 0, false},  // a space
    };
    for (const Case& c : cases) {
        const morvel::cli::CellFill fill = morvel::cli::partedFill(c.mean, c.coverage, c.lightInk, 15);
        const std::string what = std::to_string(c.mean.red) + "," + std::to_string(c.mean.green) + "," +
                                 std::to_string(c.mean.blue) + " " + std::to_string(c.coverage);
        if (c.leastApart == 0) {
            EXPECT_EQ(fill, (morvel::cli::CellFill{c.mean, c.mean})) << what;
            continue;
        }
        const double apart = lightness(fill.ink) - lightness(fill.ground);
        EXPECT_GE(c.inkLighter ? apart : -apart, c.leastApart - 0.5) << what;
        EXPECT_LE(std::abs(apart), 15.5) << what;
        // Mixed by the cover in linear light, they give the mean (within the
        // rounding to 8 bits).
        const uint8_t means[3] = {c.mean.red, c.mean.green, c.mean.blue};
        const uint8_t inks[3] = {fill.ink.red, fill.ink.green, fill.ink.blue};
        const uint8_t grounds[3] = {fill.ground.red, fill.ground.green, fill.ground.blue};
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(c.coverage * linear(inks[k]) + (1 - c.coverage) * linear(grounds[k]), linear(means[k]), 0.004)
                << what << " channel " << k;
    }
}

TEST(FilledCells, InkAndGroundReproduceTheTwoColoursOfACell)
{
    auto linear = [](uint8_t v) {
        const double c = v / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    auto stored = [](double l) {
        return static_cast<uint8_t>(
            std::lround(255 * (l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055)));
    };
    // One 4 x 2 glyph with partly covered pixels; each pixel of the picture
    // is the cover's mix of an ink and a ground, in linear light. The fill
    // finds both again (a cover-weighted mean would pull each towards the
    // other).
    morvel::cli::GlyphInk ink;
    ink.cellHeight = 2;
    ink.width['x'] = 4;
    ink.cover['x'] = {0, 0.25f, 0.5f, 1, 1, 0.75f, 0.5f, 0};
    ink.share['x'] = 0.5;
    const std::vector<morvel::cli::CellFill> cases = {{{200, 60, 30}, {20, 40, 120}}, {{240, 230, 250}, {30, 90, 40}}};
    for (const morvel::cli::CellFill& c : cases) {
        morvel::ImageHandle picture = morvel::makeColourImage(4, 2);
        ASSERT_TRUE(picture);
        for (int32_t y = 0; y < 2; ++y)
            for (int32_t x = 0; x < 4; ++x) {
                const double a = ink.cover['x'][static_cast<size_t>(y * 4 + x)];
                uint8_t* pixel = picture->rows[y] + x * 3;
                pixel[0] = stored(a * linear(c.ink.red) + (1 - a) * linear(c.ground.red));
                pixel[1] = stored(a * linear(c.ink.green) + (1 - a) * linear(c.ground.green));
                pixel[2] = stored(a * linear(c.ink.blue) + (1 - a) * linear(c.ground.blue));
            }
        morvel::TextImage image;
        image.cells = {morvel::TextCell{0, 0, 4, 'x'}};
        image.cellHeight = 2;
        image.content = {4, 2};
        const auto fills = morvel::cli::fillColours(image, ink, *picture, false, morvel::cli::ColourMode::TrueColour);
        ASSERT_EQ(fills.size(), 1u);
        const uint8_t got[6] = {fills[0].ink.red,    fills[0].ink.green,    fills[0].ink.blue,
                                fills[0].ground.red, fills[0].ground.green, fills[0].ground.blue};
        const uint8_t want[6] = {c.ink.red, c.ink.green, c.ink.blue, c.ground.red, c.ground.green, c.ground.blue};
        for (size_t k = 0; k < 6; ++k)
            EXPECT_NEAR(got[k], want[k], 2) << "channel " << k << " of ink " << int{c.ink.red};
    }

    // A palette's two entries mix to a flat colour that no entry is: nearer
    // it than the nearest entry alone.
    auto lab = [&](double r, double g, double b) { return morvel::cli::labOfLinear(r, g, b); };
    auto distance = [](morvel::cli::Lab p, morvel::cli::Lab q) { return std::hypot(p.l - q.l, p.a - q.a, p.b - q.b); };
    const morvel::cli::Rgb orange{230, 120, 20};
    morvel::ImageHandle flat = morvel::makeColourImage(4, 2);
    ASSERT_TRUE(flat);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 4; ++x) {
            flat->rows[y][x * 3] = orange.red;
            flat->rows[y][x * 3 + 1] = orange.green;
            flat->rows[y][x * 3 + 2] = orange.blue;
        }
    const morvel::cli::Lab wanted = lab(linear(orange.red), linear(orange.green), linear(orange.blue));
    for (const auto mode : {morvel::cli::ColourMode::Palette16, morvel::cli::ColourMode::Palette256}) {
        morvel::TextImage image;
        image.cells = {morvel::TextCell{0, 0, 4, 'x'}};
        image.cellHeight = 2;
        image.content = {4, 2};
        const auto fills = morvel::cli::fillColours(image, ink, *flat, false, mode);
        ASSERT_EQ(fills.size(), 1u);
        auto mixed = [&](uint8_t i, uint8_t g) { return 0.5 * linear(i) + 0.5 * linear(g); };
        const morvel::cli::Rgb& i = fills[0].ink;
        const morvel::cli::Rgb& g = fills[0].ground;
        const morvel::cli::Rgb single = morvel::cli::colourOfKey(morvel::cli::colourKey(orange, mode), mode);
        EXPECT_LT(distance(lab(mixed(i.red, g.red), mixed(i.green, g.green), mixed(i.blue, g.blue)), wanted),
                  distance(lab(linear(single.red), linear(single.green), linear(single.blue)), wanted) - 1)
            << static_cast<int>(mode);
    }
}

namespace {

// Plain text of a roff man page: font changes and escapes dropped, macro
// lines reduced to their arguments, all white space made single spaces.
std::string manText(const std::string& roff)
{
    std::string text;
    for (const std::string& raw : linesOf(roff)) {
        std::string line = raw;
        if (!line.empty() && line[0] == '.') {
            const size_t space = line.find(' ');
            line = space == std::string::npos ? "" : line.substr(space + 1);
            line = std::regex_replace(line, std::regex("\""), "");
        }
        line = std::regex_replace(line, std::regex(R"(\\f[BIRP])"), "");
        line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
        line = std::regex_replace(line, std::regex(R"(\\\(mu)"), "x");
        text += line + " ";
    }
    return std::regex_replace(text, std::regex(R"(\s+)"), " ");
}

// Options of the --help text (the first word of each entry) with their
// descriptions, continuation lines joined.
std::map<std::string, std::string> helpEntries(const std::string& help)
{
    std::map<std::string, std::string> entries;
    std::string current;
    const std::regex entry(R"(^  (-{1,2}[a-zA-Z-]+|PICTURE)\b.*?  +(\S.*)$)");
    // An entry whose names fill its line has its description below.
    const std::regex entryAlone(R"(^  (-{1,2}[a-zA-Z-]+)\b\S*( \S+)?$)");
    const std::regex continuation(R"(^ {20,}(\S.*)$)");
    std::smatch match;
    for (const std::string& line : linesOf(help)) {
        if (std::regex_match(line, match, entry)) {
            current = match[1];
            entries[current] = match[2];
        } else if (std::regex_match(line, match, entryAlone)) {
            current = match[1];
            entries[current] = "";
        } else if (!current.empty() && std::regex_match(line, match, continuation)) {
            entries[current] += (entries[current].empty() ? "" : " ") + std::string(match[1]);
        } else {
            current.clear();
        }
    }
    return entries;
}

}  // namespace

TEST(ConverterDocumentation, HelpAndManPageListTheSameOptionsInTheSameWords)
{
    int status = -1;
    const auto help = helpEntries(runConverter("--help", &status));
    EXPECT_EQ(status, 0);
    std::ifstream file(std::string(MORVEL_SOURCE_DIR) + "/cli/morvel-text.1");
    ASSERT_TRUE(file);
    const std::string roff((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());

    // The options the man page describes: the first word after each .TP in
    // its OPTIONS section.
    std::set<std::string> manOptions;
    const auto lines = linesOf(roff);
    bool inOptions = false;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].rfind(".SH", 0) == 0)
            inOptions = lines[i] == ".SH OPTIONS";
        if (inOptions && lines[i] == ".TP") {
            std::istringstream words(manText(lines[i + 1]));
            std::string first;
            words >> first;
            if (!first.empty() && first.back() == ',')
                first.pop_back();  // the first of several names
            manOptions.insert(first);
        }
    }
    std::set<std::string> helpOptions;
    for (const auto& [option, description] : help)
        helpOptions.insert(option);
    EXPECT_GE(helpOptions.size(), 18u);
    EXPECT_EQ(manOptions, helpOptions);

    // Each description in the help reads word for word in the man page.
    const std::string page = manText(roff);
    for (const auto& [option, description] : help) {
        const std::string words = std::regex_replace(description, std::regex(R"(\s+)"), " ");
        EXPECT_NE(page.find(words), std::string::npos) << option << ": \"" << words << "\" is not in the man page";
    }
}
