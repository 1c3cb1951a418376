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

// The bytes of the regular file at `path` when it holds an animated GIF
// (two images or more); none otherwise.
std::optional<std::vector<uint8_t>> animatedGifBytes(const std::string& path);

// A frame's delay as shown, in milliseconds: `hundredths` of a second, 0
// and 1 taken as 10 (as browsers do).
int frameDelayMs(int hundredths);

// How many times an animation is shown: `asked` (--loops; 0 for ever) when
// given, else by the file's loop count (-1 absent: once; 0: for ever; N:
// N repeats after the first showing). 0 means for ever.
int64_t showingsOf(std::optional<int32_t> asked, int fileLoops);

// Makes the text of one frame (the caller's conversion, colour and page
// included); none when it could not be made (already reported).
using FrameText = std::function<std::optional<std::string>(LoadResult& frame)>;

// The text of frame `wanted` (1-based; 0: every frame, each after a line
// holding a form feed) of the animated GIF `bytes`, each frame converted by
// `textOf`. False, with the reason in `error`, when there is no such frame
// or a frame could not be made.
bool framesText(const std::vector<uint8_t>& bytes, const LoadOptions& options, int32_t wanted, const FrameText& textOf,
                std::string& text, std::string& error);

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

// Plays the animated GIF `bytes` on the terminal on standard output: each
// frame made by `textOf` and drawn in place (cursor home, lines cleared to
// their end, cursor hidden), each shown for its delay, as many times as
// showingsOf(`loops`, the file's loop count) says, until then or until the user presses q (read from the
// controlling terminal, echo and line editing off meanwhile) or sends a
// signal. The terminal's settings and cursor are restored exactly, and the
// last frame drawn stays on the screen. Frames that end early are drawn
// without a word, as a message would land in the picture.
PlayOutcome playAnimation(const std::vector<uint8_t>& bytes, const LoadOptions& options, std::optional<int32_t> loops,
                          const FrameText& textOf, OutputFile& out);

}  // namespace morvel::cli
