// Animated pictures in the converter: one frame, every frame one after the
// other, or the animation played in place on the terminal.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "image/gif_frames.h"
#include "image/load_picture.h"
#include "platform/output_file.h"

namespace morvel::cli {

// An animated picture read whole: a GIF of two images or more, or an
// animated WebP.
struct Animation {
    std::vector<uint8_t> bytes;
    bool webp = false;
};

// The animation in the regular file at `path`; none when it holds none.
std::optional<Animation> animationAt(const std::string& path);

// The animation at `path` whose frames a run shows instead of its loaded
// picture: any, when the run plays or takes animations apart (`takeApart`);
// else an animated WebP whose still picture could not be loaded (`loaded`
// false), shown by its first frame. None otherwise.
std::optional<Animation> animationToShow(const std::string& path, bool takeApart, bool loaded);

// Hands `use` each frame of `animation` (see forEachGifFrame and
// forEachWebpFrame); `showings` receives how often the file asks it shown
// (0: for ever).
bool forEachFrame(const Animation& animation, const LoadOptions& options,
                  const std::function<bool(AnimationFrame&)>& use, int64_t* showings = nullptr);

// A frame's delay as shown: `ms` milliseconds, 10 or less taken as 100 (as
// browsers do: GIF delays of 0 or 1 hundredths of a second).
int frameDelayMs(int ms);

// Makes the text of one frame (the caller's conversion, colour and page
// included); none when it could not be made (already reported).
using FrameText = std::function<std::optional<std::string>(LoadResult& frame)>;

// The text of frame `wanted` (1-based; 0: every frame, `separator` between
// each and the next) of `animation`, each frame converted by `textOf`.
// False, with the reason in `error`, when there is no such frame or a frame
// could not be made.
bool framesText(const Animation& animation, const LoadOptions& options, int32_t wanted, const FrameText& textOf,
                const std::string& separator, std::string& text, std::string& error);

// How a played animation ended.
enum class PlayEnd {
    Finished,     // shown as often as asked
    Quit,         // the user pressed q
    Interrupted,  // SIGINT, SIGTERM or SIGHUP; `signal` says which
    Failed        // a frame could not be made or written
};
struct PlayOutcome {
    PlayEnd end = PlayEnd::Finished;
    int signal = 0;
};

// Plays `animation` on the terminal on standard output: each frame made by
// `textOf` and drawn in place (cursor home, lines cleared to their end,
// cursor hidden), each shown for its delay, `loops` times (0: for ever;
// none: as often as the file says), until then or until the user presses q (read from the
// controlling terminal, echo and line editing off meanwhile) or sends a
// signal. The terminal's settings and cursor are restored exactly, and the
// last frame drawn stays on the screen. Frames that end early are drawn
// without a word, as a message would land in the picture.
PlayOutcome playAnimation(const Animation& animation, const LoadOptions& options, std::optional<int32_t> loops,
                          const FrameText& textOf, OutputFile& out);

}  // namespace morvel::cli
