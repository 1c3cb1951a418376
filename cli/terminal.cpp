#include "cli/terminal.h"

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

// True when standard input and standard output are the same terminal and
// this process is in its foreground (so reading it neither stops the
// process nor takes input meant for another).
bool inputIsThatTerminal()
{
    struct stat in {};
    struct stat out {};
    return ::isatty(STDIN_FILENO) == 1 && ::fstat(STDIN_FILENO, &in) == 0 && ::fstat(STDOUT_FILENO, &out) == 0 &&
           in.st_rdev == out.st_rdev && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp();
}

// Sends the OSC 11 query and collects the answer up to its end (BEL or
// ESC \), at most `timeoutMs` later. The terminal reads unbuffered and
// unechoed meanwhile; its settings are restored before returning, and the
// signals that would end or stop the process wait until then.
std::string askBackground(int timeoutMs)
{
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0) {
        return {};
    }
    sigset_t held;
    sigset_t previous;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP, SIGTTIN, SIGTTOU}) {
        sigaddset(&held, signal);
    }
    pthread_sigmask(SIG_BLOCK, &held, &previous);

    std::string reply;
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
        static constexpr char kQuery[] = "\033]11;?\033\\";
        if (::write(STDOUT_FILENO, kQuery, sizeof kQuery - 1) == static_cast<ssize_t>(sizeof kQuery - 1)) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
            while (reply.size() < 256) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
                if (left.count() <= 0) {
                    break;
                }
                pollfd input{STDIN_FILENO, POLLIN, 0};
                const int ready = ::poll(&input, 1, static_cast<int>(left.count()));
                if (ready < 0 && errno == EINTR) {
                    continue;
                }
                if (ready <= 0) {
                    break;
                }
                char buffer[64];
                const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
                if (got <= 0) {
                    break;
                }
                reply.append(buffer, static_cast<size_t>(got));
                if (reply.find('\a') != std::string::npos || reply.find("\033\\") != std::string::npos) {
                    break;
                }
            }
        }
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return reply;
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

Background terminalBackground(int timeoutMs, std::string& how)
{
    if (const char* colours = std::getenv("COLORFGBG")) {
        if (const auto background = backgroundFromColorFgBg(colours)) {
            how = "COLORFGBG";
            return *background;
        }
    }
    if (inputIsThatTerminal()) {
        if (const auto background = backgroundFromOsc11Reply(askBackground(timeoutMs))) {
            how = "the terminal's answer";
            return *background;
        }
        how = "no answer from the terminal";
        return Background::Light;
    }
    how = "standard input is not the terminal";
    return Background::Light;
}

}  // namespace morvel::cli
