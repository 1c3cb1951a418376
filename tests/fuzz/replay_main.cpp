// Replays saved fuzz inputs through a fuzz target without libFuzzer: every
// file named on the command line, and every file inside a folder named there,
// in name order. Used by CTest so that saved findings stay fixed.
//
// With `--mutate SECONDS` first, it then keeps feeding the target mutated
// copies of those inputs (bytes changed, inserted, removed, blocks repeated,
// cut short) for that long: a short fuzzing run that needs no libFuzzer, so
// that every CI run also fuzzes every target a little. The mutations follow
// a fixed sequence; an input that crashes the target is written to
// replay-crash-<pid> in the working folder first.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;

// The input being run, for the crash handler.
const Bytes* running = nullptr;

void saveCrashingInput(int signal)
{
    if (running != nullptr) {
        char name[64];
        std::snprintf(name, sizeof name, "replay-crash-%d", static_cast<int>(::getpid()));
        const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            if (::write(fd, running->data(), running->size()) < 0) {
                // Nothing more can be done inside a signal handler.
            }
            ::close(fd);
        }
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// xorshift64: a fixed sequence of mutations on every machine.
struct Random {
    uint64_t state = 0x9E3779B97F4A7C15u;
    uint64_t next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    size_t below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(next() % n); }
};

// One to four edits of `input`.
Bytes mutate(const Bytes& input, Random& random)
{
    Bytes out = input;
    const size_t edits = 1 + random.below(4);
    for (size_t e = 0; e < edits; ++e) {
        const size_t at = random.below(out.size() + 1);
        switch (random.below(6)) {
        case 0:  // one byte changed
        case 1:
            if (at < out.size())
                out[at] = static_cast<uint8_t>(random.next());
            break;
        case 2:  // one bit flipped
            if (at < out.size())
                out[at] ^= static_cast<uint8_t>(1u << random.below(8));
            break;
        case 3:  // bytes inserted: extreme values that sizes and counts take
            out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), 1 + random.below(4),
                       random.below(2) != 0 ? 0xFF : 0x00);
            break;
        case 4:  // a block removed
            out.erase(out.begin() + static_cast<std::ptrdiff_t>(at),
                      out.begin() + static_cast<std::ptrdiff_t>(std::min(out.size(), at + 1 + random.below(16))));
            break;
        default:  // cut short, or a block repeated
            if (random.below(2) != 0) {
                out.resize(at);
            } else if (at < out.size()) {
                const size_t length = std::min(out.size() - at, 1 + random.below(64));
                const Bytes block(out.begin() + static_cast<std::ptrdiff_t>(at),
                                  out.begin() + static_cast<std::ptrdiff_t>(at + length));
                out.insert(out.begin() + static_cast<std::ptrdiff_t>(random.below(out.size() + 1)), block.begin(),
                           block.end());
            }
            break;
        }
    }
    return out;
}

void run(const Bytes& bytes)
{
    running = &bytes;
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    running = nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    int first = 1;
    double seconds = 0;
    if (argc > 2 && std::strcmp(argv[1], "--mutate") == 0) {
        seconds = std::atof(argv[2]);
        first = 3;
    }
    std::vector<fs::path> inputs;
    for (int i = first; i < argc; ++i) {
        const fs::path arg(argv[i]);
        std::error_code error;
        if (fs::is_directory(arg, error)) {
            for (const auto& entry : fs::directory_iterator(arg))
                if (entry.is_regular_file())
                    inputs.push_back(entry.path());
        } else if (fs::is_regular_file(arg, error)) {
            inputs.push_back(arg);
        } else {
            std::fprintf(stderr, "replay: no such file or folder: %s\n", argv[i]);
            return 2;
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::fprintf(stderr, "replay: no inputs\n");
        return 2;
    }
    for (const int signal : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL})
        ::signal(signal, saveCrashingInput);
    std::vector<Bytes> seeds;
    for (const fs::path& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (!in.good() && !in.eof()) {
            std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
            return 2;
        }
        std::fprintf(stderr, "replay: %s (%zu bytes)\n", path.filename().c_str(), bytes.size());
        run(bytes);
        seeds.push_back(std::move(bytes));
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    if (seconds <= 0)
        return 0;
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    Random random;
    size_t runs = 0;
    for (; Clock::now() < end; ++runs)
        run(mutate(seeds[runs % seeds.size()], random));
    std::printf("ran %zu mutated inputs\n", runs);
    return 0;
}
