// Runs the built converter (MORVEL_TEXT_BIN) for the command-line tests.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace morvel::testing {

// Runs `command` through the shell and returns its standard output. `status`,
// when given, receives the exit status, or -1 when it did not exit normally.
inline std::string runCommand(const std::string& command, int* status = nullptr)
{
    std::FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    if (pipe == nullptr)
        return out;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    const int raw = ::pclose(pipe);
    if (status != nullptr)
        *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

// Runs the converter through the shell (`args` may hold redirections), with
// its standard error discarded, and returns its standard output.
inline std::string runConverter(const std::string& args, int* status = nullptr)
{
    return runCommand(std::string("'") + MORVEL_TEXT_BIN + "' " + args + " 2>/dev/null", status);
}

}  // namespace morvel::testing
