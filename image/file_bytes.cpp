#include "image/file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

namespace morvel {

bool isRegularFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<int64_t> regularFileSize(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<int64_t>(st.st_size);
}

namespace {

// Closes a descriptor on every way out.
struct FileDescriptor {
    int fd;
    ~FileDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Opens `path` for reading without waiting on a named pipe, and checks on
// the open descriptor, not the path, that it is a regular file of at most
// `maxBytes` bytes (so a file swapped after a check cannot slip through).
// Returns the descriptor and the file's size; none, with the reason in `why`
// when given, for anything else.
std::optional<std::pair<int, int64_t>> openRegularFile(const std::string& path, int64_t maxBytes, std::string* why)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (why != nullptr)
            *why = std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    const char* problem = nullptr;
    if (::fstat(fd, &st) != 0)
        problem = std::strerror(errno);
    else if (S_ISDIR(st.st_mode))
        problem = std::strerror(EISDIR);
    else if (!S_ISREG(st.st_mode) || st.st_size < 0)
        problem = "not a regular file";
    else if (st.st_size > maxBytes)
        problem = kTooLargeReason;
    if (problem != nullptr) {
        if (why != nullptr)
            *why = problem;
        ::close(fd);
        return std::nullopt;
    }
    return std::pair{fd, static_cast<int64_t>(st.st_size)};
}

// Reads up to bytes.size() bytes; false on a read error. The vector keeps
// what was there when the file ends early.
bool readUpTo(int fd, std::vector<uint8_t>& bytes)
{
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return true;
}

// Any size passes when only part of a file is read.
constexpr int64_t kAnySize = std::numeric_limits<int64_t>::max();

}  // namespace

std::optional<std::vector<uint8_t>> readFileHead(const std::string& path, size_t count, std::string* why)
{
    const auto opened = openRegularFile(path, kAnySize, why);
    if (!opened)
        return std::nullopt;
    FileDescriptor file{opened->first};
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min<uint64_t>(count, static_cast<uint64_t>(opened->second))));
    if (!readUpTo(file.fd, bytes)) {
        if (why != nullptr)
            *why = std::strerror(errno);
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::vector<uint8_t>> readFileBytes(const std::string& path, int64_t maxBytes, std::string* why)
{
    const auto opened = openRegularFile(path, maxBytes, why);
    if (!opened)
        return std::nullopt;
    FileDescriptor file{opened->first};
    std::vector<uint8_t> bytes(static_cast<size_t>(opened->second));
    if (!readUpTo(file.fd, bytes)) {
        if (why != nullptr)
            *why = std::strerror(errno);
        return std::nullopt;
    }
    return bytes;
}

std::FILE* openRegularFileStream(const std::string& path, std::string* why)
{
    const auto opened = openRegularFile(path, kAnySize, why);
    if (!opened)
        return nullptr;
    std::FILE* file = ::fdopen(opened->first, "rb");
    if (!file)
        ::close(opened->first);
    return file;
}

}  // namespace morvel
