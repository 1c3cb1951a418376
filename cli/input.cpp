#include "cli/input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/options.h"
#include "image/file_bytes.h"
#include "image/load_picture.h"

namespace morvel::cli {

std::optional<std::vector<uint8_t>> readAllBytes(int fd, int64_t maxBytes, std::string& why)
{
    const size_t limit = static_cast<size_t>(maxBytes);
    std::vector<uint8_t> bytes;
    // A regular file tells its size: one that is too large is not read.
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        const off_t offset = ::lseek(fd, 0, SEEK_CUR);
        const int64_t left = status.st_size - std::max<off_t>(offset, 0);
        if (left > maxBytes) {
            why = kTooLargeReason;
            return std::nullopt;
        }
        bytes.reserve(static_cast<size_t>(std::max<int64_t>(left, 0)));
    }
    std::vector<uint8_t> chunk(64 * 1024);
    bool checked = false;
    for (;;) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            why = std::strerror(errno);
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        if (static_cast<size_t>(got) > limit - bytes.size()) {
            why = kTooLargeReason;
            return std::nullopt;
        }
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
        if (!checked && bytes.size() >= kSignatureBytes) {
            checked = true;
            if (!beginsLikeAPicture(bytes.data(), bytes.size())) {
                why = kNotAPictureReason;
                return std::nullopt;
            }
        }
    }
    return bytes;
}

LoadResult readNamedPicture(const std::string& path, const LoadOptions& options)
{
    int fd = STDIN_FILENO;
    if (path != kStdinName) {
        // Regular files (and anything that is not there) go to the loaders;
        // what else can be opened is read to its end, waiting for a writer.
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode) || S_ISDIR(status.st_mode)) {
            return readPicture(path, options);
        }
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            LoadResult failed;
            failed.error = std::strerror(errno);
            return failed;
        }
    }
    std::string why;
    const auto bytes = readAllBytes(fd, kMaxFileBytes, why);
    if (fd != STDIN_FILENO) {
        ::close(fd);
    }
    if (!bytes) {
        LoadResult failed;
        failed.error = why;
        return failed;
    }
    return readPictureFromBytes(bytes->data(), bytes->size(), options);
}

}  // namespace morvel::cli
