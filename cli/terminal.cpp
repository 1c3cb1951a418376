#include "cli/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "cli/options.h"

namespace morvel::cli {

namespace {

int32_t fromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return 0;
    }
    return parseDecimal(value, kMinColumns, kMaxColumns).value_or(0);
}

// A hex digit's value, or -1.
int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// One colour component of 1 to 4 hex digits at the start of `text`, as a
// fraction of its full scale; consumed from `text`. None when malformed.
std::optional<double> component(std::string_view& text)
{
    size_t digits = 0;
    uint32_t value = 0;
    while (digits < text.size() && hexValue(text[digits]) >= 0) {
        value = value * 16 + static_cast<uint32_t>(hexValue(text[digits]));
        ++digits;
        if (digits > 4) {
            return std::nullopt;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    text.remove_prefix(digits);
    const uint32_t full = (1u << (4 * digits)) - 1;
    return static_cast<double>(value) / full;
}

// The controlling terminal, opened for the questions, when standard output
// is that terminal and this process is in its foreground (so reading it
// neither stops the process nor takes input meant for another); -1 with
// `why` set otherwise.
int openAskableTerminal(std::string& why)
{
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) {
        why = "no controlling terminal";
        return -1;
    }
    // Standard output is the controlling terminal when that terminal's
    // session is this process's.
    if (::isatty(STDOUT_FILENO) != 1 || ::tcgetsid(STDOUT_FILENO) != ::getsid(0)) {
        why = "standard output is not the controlling terminal";
    } else if (::tcgetpgrp(tty) != ::getpgrp()) {
        why = "not in the terminal's foreground";
    } else {
        return tty;
    }
    ::close(tty);
    return -1;
}

// The questions as one write: each asked, then CSI c.
std::string questionsText(const TerminalQuestions& questions)
{
    std::string text;
    if (questions.background) {
        text += "\033]11;?\033\\";
    }
    if (questions.cellSize) {
        text += "\033[16t";
    }
    return text + "\033[c";
}

// Reads the terminal's answers from `tty` one byte at a time until the
// device attributes arrive or `timeoutMs` pass: nothing after them is read.
std::string readAnswers(int tty, int timeoutMs)
{
    std::string reply;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (reply.size() < 1024 && !hasDeviceAttributes(reply)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd input{tty, POLLIN, 0};
        const int ready = ::poll(&input, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        char byte = 0;
        if (ready <= 0 || ::read(tty, &byte, 1) != 1) {
            break;
        }
        reply += byte;
    }
    return reply;
}

// The answers to `questions` on the terminal `tty` (in its foreground),
// with its settings put back.
TerminalAnswers askOn(int tty, const TerminalQuestions& questions, int timeoutMs)
{
    TerminalAnswers answers;
    termios saved{};
    if (::tcgetattr(tty, &saved) != 0) {
        answers.why = "the terminal's settings cannot be read";
        return answers;
    }
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    // Out of line mode, a line being typed shows as pending input too.
    if (::tcsetattr(tty, TCSANOW, &raw) != 0) {
        answers.why = "the terminal's settings cannot be changed";
        return answers;
    }
    pollfd typed{tty, POLLIN, 0};
    if (::poll(&typed, 1, 0) > 0) {
        answers.why = "input typed ahead";
    } else {
        const std::string questionText = questionsText(questions);
        std::string reply;
        if (::write(tty, questionText.data(), questionText.size()) == static_cast<ssize_t>(questionText.size())) {
            reply = readAnswers(tty, timeoutMs);
        }
        answers.background = backgroundFromOsc11Reply(reply);
        answers.cellRatio = cellRatioFromReply(reply).value_or(0);
        answers.why = hasDeviceAttributes(reply) ? "no answer from the terminal" : "the terminal does not answer";
    }
    ::tcsetattr(tty, TCSANOW, &saved);
    return answers;
}

}  // namespace

std::optional<TerminalSize> terminalSize()
{
    if (::isatty(STDOUT_FILENO) != 1) {
        return std::nullopt;
    }
    TerminalSize size{fromEnvironment("COLUMNS"), fromEnvironment("LINES")};
    winsize window{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &window) == 0) {
        if (window.ws_col > 0) {
            size.columns = std::min<int32_t>(window.ws_col, kMaxColumns);
        }
        if (window.ws_row > 0) {
            size.rows = std::min<int32_t>(window.ws_row, kMaxRows);
        }
        if (window.ws_col > 0 && window.ws_row > 0) {
            size.pixelWidth = window.ws_xpixel;
            size.pixelHeight = window.ws_ypixel;
        }
    }
    return size;
}

std::optional<Background> backgroundFromColorFgBg(std::string_view value)
{
    // The background is the last field.
    const size_t semicolon = value.rfind(';');
    if (semicolon == std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<int32_t> colour = parseDecimal(std::string(value.substr(semicolon + 1)), 0, 255);
    if (!colour) {
        return std::nullopt;
    }
    return (*colour <= 6 || *colour == 8) ? Background::Dark : Background::Light;
}

std::optional<Background> backgroundFromOsc11Reply(std::string_view reply)
{
    const std::string_view start = "\033]11;rgb:";
    const size_t at = reply.find(start);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view rest = reply.substr(at + start.size());
    double rgb[3];
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (rest.empty() || rest.front() != '/') {
                return std::nullopt;
            }
            rest.remove_prefix(1);
        }
        const std::optional<double> value = component(rest);
        if (!value) {
            return std::nullopt;
        }
        rgb[i] = *value;
    }
    if (!(rest.substr(0, 1) == "\a" || rest.substr(0, 2) == "\033\\")) {
        return std::nullopt;
    }
    const double luma = 0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2];
    return luma < 0.5 ? Background::Dark : Background::Light;
}

std::optional<double> cellRatioFromReply(std::string_view reply)
{
    const std::string_view start = "\033[6;";
    const size_t at = reply.find(start);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view rest = reply.substr(at + start.size());
    const size_t semicolon = rest.find(';');
    const size_t end = rest.find('t');
    if (semicolon == std::string_view::npos || end == std::string_view::npos || end < semicolon) {
        return std::nullopt;
    }
    const auto height = parseDecimal(std::string(rest.substr(0, semicolon)), 1, 100000);
    const auto width = parseDecimal(std::string(rest.substr(semicolon + 1, end - semicolon - 1)), 1, 100000);
    if (!height || !width) {
        return std::nullopt;
    }
    const double ratio = static_cast<double>(*width) / *height;
    if (!(ratio >= kMinFontRatio && ratio <= kMaxFontRatio)) {
        return std::nullopt;
    }
    return ratio;
}

bool hasDeviceAttributes(std::string_view reply)
{
    for (size_t at = reply.find("\033[?"); at != std::string_view::npos; at = reply.find("\033[?", at + 1)) {
        size_t i = at + 3;
        while (i < reply.size() && ((reply[i] >= '0' && reply[i] <= '9') || reply[i] == ';')) {
            ++i;
        }
        if (i < reply.size() && reply[i] == 'c') {
            return true;
        }
    }
    return false;
}

TerminalAnswers askTerminal(const TerminalQuestions& questions, int timeoutMs)
{
    TerminalAnswers answers;
    const int tty = openAskableTerminal(answers.why);
    if (tty < 0) {
        return answers;
    }
    sigset_t held;
    sigset_t previous;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP, SIGTTIN, SIGTTOU}) {
        sigaddset(&held, signal);
    }
    pthread_sigmask(SIG_BLOCK, &held, &previous);
    answers = askOn(tty, questions, timeoutMs);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(tty);
    return answers;
}

}  // namespace morvel::cli
