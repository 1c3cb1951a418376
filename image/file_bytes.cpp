#include "image/file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <utility>

namespace morvel {

bool isRegularFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
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
// Returns the descriptor and the file's size.
std::optional<std::pair<int, int64_t>> openRegularFile(const std::string& path, int64_t maxBytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 || st.st_size > maxBytes) {
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

std::optional<std::vector<uint8_t>> readFileHead(const std::string& path, size_t count)
{
    const auto opened = openRegularFile(path, kAnySize);
    if (!opened)
        return std::nullopt;
    FileDescriptor file{opened->first};
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min<uint64_t>(count, static_cast<uint64_t>(opened->second))));
    if (!readUpTo(file.fd, bytes))
        return std::nullopt;
    return bytes;
}

std::optional<std::vector<uint8_t>> readFileBytes(const std::string& path, int64_t maxBytes)
{
    const auto opened = openRegularFile(path, maxBytes);
    if (!opened)
        return std::nullopt;
    FileDescriptor file{opened->first};
    std::vector<uint8_t> bytes(static_cast<size_t>(opened->second));
    if (!readUpTo(file.fd, bytes))
        return std::nullopt;
    return bytes;
}

std::FILE* openRegularFileStream(const std::string& path)
{
    const auto opened = openRegularFile(path, kAnySize);
    if (!opened)
        return nullptr;
    std::FILE* file = ::fdopen(opened->first, "rb");
    if (!file)
        ::close(opened->first);
    return file;
}

}  // namespace morvel
