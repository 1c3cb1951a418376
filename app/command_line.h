// The window program's command line: an optional picture to load, --help and
// --version (answered without any window or display), and the toolkit's own
// options, which are handed on to the toolkit unchanged. No Qt here, so the
// answers need no display.
#pragma once

#include <string>
#include <vector>

#include "app/window_settings.h"

namespace morvel {

struct CommandLine {
    enum class Action {
        Run,
        Help,
        Version,
        UsageError
    };
    Action action = Action::Run;
    // The picture to load once the window is up; empty when none is named.
    std::string picture;
    // The controls at start (--match tone, --columns, --invert, --color),
    // and --match difference for the match type button.
    WindowSettings settings;
    bool difference = false;
    // Whether --invert was given (else a dark theme decides).
    bool invertGiven = false;
    // The program name followed by the toolkit options found, in their order,
    // each with its value: the argument list for the QApplication.
    std::vector<std::string> toolkitArguments;
    // What is wrong, for a usage error.
    std::string error;
};

// Reads the arguments (argv[0] is the program name). Options are taken up to
// "--"; --help and --version answer at once; an option that is neither ours
// nor the toolkit's, an option without its value or with a value it does not
// take, or a second picture is a usage error.
CommandLine parseCommandLine(int argc, const char* const* argv);

// The text printed by --help and by --version.
std::string helpText();
std::string versionText();
// One line pointing at --help, printed after a usage error.
inline constexpr const char* kUsageHint = "Usage: morvel [options] [PICTURE]  (try --help)";

}  // namespace morvel
