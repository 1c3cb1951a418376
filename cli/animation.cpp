#include "cli/animation.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include "image/file_bytes.h"
#include "image/gif_decoder.h"
#include "image/webp_frames.h"

namespace morvel::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kHideCursor = "\x1b[?25l";
constexpr const char* kShowCursor = "\x1b[?25h";
constexpr const char* kClearScreen = "\x1b[H\x1b[2J";
constexpr const char* kHome = "\x1b[H";
constexpr const char* kClearLineEnd = "\x1b[K";
constexpr const char* kClearBelow = "\x1b[J";

volatile std::sig_atomic_t gPlaySignal = 0;

extern "C" void notePlaySignal(int signal)
{
    gPlaySignal = signal;
}

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The terminal while an animation plays: keys read from the controlling
// terminal one at a time without echo, the ending signals noted instead of
// acted on, the cursor hidden; all of it put back as it was on destruction.
class PlaySession {
public:
    explicit PlaySession(OutputFile& out) : out_(out)
    {
        gPlaySignal = 0;
        struct sigaction note {};
        note.sa_handler = notePlaySignal;
        sigemptyset(&note.sa_mask);
        for (size_t i = 0; i < std::size(kEndSignals); ++i)
            sigaction(kEndSignals[i], &note, &previous_[i]);
        // Stopped meanwhile, the terminal would be left without echo.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGTSTP, &ignore, &previousStop_);
        tty_ = ::open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (tty_ >= 0 && tcgetattr(tty_, &saved_) == 0) {
            termios keys = saved_;
            keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
            keys.c_cc[VMIN] = 0;
            keys.c_cc[VTIME] = 0;
            restore_ = tcsetattr(tty_, TCSANOW, &keys) == 0;
        }
        std::string error;
        out_.write(std::string(kHideCursor) + kClearScreen, error);
    }
    ~PlaySession()
    {
        std::string error;
        out_.write(kShowCursor, error);
        if (restore_)
            tcsetattr(tty_, TCSANOW, &saved_);
        if (tty_ >= 0)
            ::close(tty_);
        sigaction(SIGTSTP, &previousStop_, nullptr);
        for (size_t i = 0; i < std::size(kEndSignals); ++i)
            sigaction(kEndSignals[i], &previous_[i], nullptr);
    }
    PlaySession(const PlaySession&) = delete;
    PlaySession& operator=(const PlaySession&) = delete;

    // Waits until `deadline`; false as soon as q is pressed or an ending
    // signal arrives.
    bool waitUntil(Clock::time_point deadline)
    {
        for (;;) {
            if (gPlaySignal != 0)
                return false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return true;
            pollfd key{tty_, POLLIN, 0};
            const int ready = ::poll(&key, tty_ >= 0 ? 1 : 0, static_cast<int>(left));
            if (ready > 0 && (key.revents & POLLIN) != 0) {
                char pressed[16];
                const ssize_t got = ::read(tty_, pressed, sizeof pressed);
                if (got > 0 && std::memchr(pressed, 'q', static_cast<size_t>(got)) != nullptr) {
                    quit_ = true;
                    return false;
                }
            } else if (ready > 0) {
                tty_ = -1;  // the terminal went away: time alone counts
            }
        }
    }
    bool quit() const { return quit_; }

private:
    OutputFile& out_;
    int tty_ = -1;
    termios saved_{};
    bool restore_ = false;
    bool quit_ = false;
    struct sigaction previous_[std::size(kEndSignals)]{};
    struct sigaction previousStop_ {};
};

// A frame's text as drawn in place: from the top left corner, each line
// cleared to its end, the screen below the last one cleared.
std::string drawnInPlace(const std::string& text)
{
    std::string drawn = kHome;
    drawn.reserve(text.size() + text.size() / 16 + 16);
    size_t at = 0;
    for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        size_t cut = end;
        if (cut > at && text[cut - 1] == '\r')
            --cut;
        drawn.append(text, at, cut - at).append(kClearLineEnd).append("\n");
    }
    drawn.append(text, at, std::string::npos);
    drawn += kClearBelow;
    return drawn;
}

}  // namespace

std::optional<Animation> animationAt(const std::string& path)
{
    const auto head = readFileHead(path, 21);
    if (!head)
        return std::nullopt;
    const bool gif = head->size() >= 6 && std::memcmp(head->data(), "GIF8", 4) == 0;
    const bool webp = isAnimatedWebp(head->data(), head->size());
    if (!gif && !webp)
        return std::nullopt;
    auto bytes = readFileBytes(path);
    if (!bytes || (gif && countGifImages(bytes->data(), bytes->size(), 2) < 2))
        return std::nullopt;
    return Animation{std::move(*bytes), webp};
}

std::optional<Animation> animationToShow(const std::string& path, bool takeApart, bool loaded)
{
    if (!takeApart && loaded)
        return std::nullopt;
    std::optional<Animation> animation = animationAt(path);
    if (animation && !takeApart && !animation->webp)
        animation.reset();
    return animation;
}

bool forEachFrame(const Animation& animation, const LoadOptions& options,
                  const std::function<bool(AnimationFrame&)>& use, int64_t* showings)
{
    const uint8_t* const data = animation.bytes.data();
    const size_t size = animation.bytes.size();
    return animation.webp ? forEachWebpFrame(data, size, options, use, showings)
                          : forEachGifFrame(data, size, options, use, showings);
}

int frameDelayMs(int ms)
{
    return ms <= 10 ? 100 : ms;
}

bool framesText(const Animation& animation, const LoadOptions& options, int32_t wanted, const FrameText& textOf,
                const std::string& separator, std::string& text, std::string& error)
{
    int32_t count = 0;
    bool failed = false;
    const auto use = [&](AnimationFrame& frame) {
        count = frame.index;
        if (wanted != 0 && frame.index != wanted)
            return true;
        const std::optional<std::string> made = textOf(frame.picture);
        if (!made) {
            failed = true;
            return false;
        }
        if (wanted == 0 && frame.index > 1)
            text += separator;
        text += *made;
        return wanted == 0;
    };
    forEachFrame(animation, options, use);
    if (failed) {
        error = "frame " + std::to_string(count) + " could not be made";
        return false;
    }
    if (count == 0 || (wanted != 0 && count < wanted)) {
        error = "there is no frame " + std::to_string(wanted) + " (the picture has " + std::to_string(count) + ")";
        return false;
    }
    return true;
}

PlayOutcome playAnimation(const Animation& animation, const LoadOptions& options, std::optional<int32_t> loops,
                          const FrameText& textOf, OutputFile& out)
{
    PlayOutcome outcome;
    {
        PlaySession session(out);
        int64_t fileShowings = 1;
        // The loop count is known once the first showing has begun.
        for (int64_t shown = 0; outcome.end == PlayEnd::Finished; ++shown) {
            const auto use = [&](AnimationFrame& frame) {
                const Clock::time_point start = Clock::now();
                frame.picture.warning.clear();
                const std::optional<std::string> text = textOf(frame.picture);
                std::string error;
                if (!text || !out.write(drawnInPlace(*text), error)) {
                    outcome.end = PlayEnd::Failed;
                    return false;
                }
                if (!session.waitUntil(start + std::chrono::milliseconds(frameDelayMs(frame.delayMs)))) {
                    outcome.end = session.quit() ? PlayEnd::Quit : PlayEnd::Interrupted;
                    return false;
                }
                return true;
            };
            forEachFrame(animation, options, use, &fileShowings);
            const int64_t showings = loops ? *loops : fileShowings;
            if (showings != 0 && shown + 1 >= showings)
                break;
        }
        outcome.signal = static_cast<int>(gPlaySignal);
    }
    return outcome;
}

}  // namespace morvel::cli
