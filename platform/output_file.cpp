#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace morvel {
namespace {

std::string reason(const char* what, int err) { return std::string(what) + ": " + std::strerror(err); }

std::string directoryOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Writes all of `bytes` to `fd`, going on after short writes and signals.
bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

struct FdCloser {
    void operator()(const int* fd) const {
        if (fd != nullptr && *fd >= 0) ::close(*fd);
        delete fd;
    }
};
using FdHandle = std::unique_ptr<int, FdCloser>;

// A device or pipe: opened for writing without waiting for a reader and
// without truncating (there is nothing to truncate), then written.
bool writeInPlace(const std::string& path, std::string_view bytes, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        error = reason(err == ENXIO ? "nobody reads from this pipe" : "cannot open", err);
        return false;
    }
    const FdHandle handle(new int(fd));
    // Blocking from here on, so that a slow reader takes every byte.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (!writeAll(fd, bytes)) {
        error = reason("write failed", errno);
        return false;
    }
    return true;
}

// A regular file or a new one: temporary file beside it, flushed, renamed.
bool replaceWhole(const std::string& path, std::string_view bytes, const struct stat* existing, std::string& error) {
    const size_t slash = path.find_last_of('/');
    const std::string dir = directoryOf(path);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = (dir == "/" ? "" : dir) + "/." + base + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        error = reason("cannot create a file beside it", errno);
        return false;
    }
    const std::string temp(name.data());
    FdHandle handle(new int(fd));
    const auto fail = [&](const char* what) {
        error = reason(what, errno);
        handle.reset();
        ::unlink(temp.c_str());
        return false;
    };
    // mkstemp makes the file private: give it the mode of the file it
    // replaces, or the one a plain new file gets.
    mode_t mode = 0666;
    if (existing != nullptr) {
        mode = existing->st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    ::fchmod(fd, mode);
    if (!writeAll(fd, bytes)) return fail("write failed");
    if (::fsync(fd) != 0) return fail("cannot flush to disk");
    const int closing = *handle;
    *handle = -1;
    if (::close(closing) != 0) return fail("write failed");
    if (::rename(temp.c_str(), path.c_str()) != 0) return fail("cannot rename the finished file into place");
    // Makes the rename durable; a directory that cannot be synced is no
    // failure of the file itself.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

}  // namespace

bool writeFileSafely(const std::string& path, std::string_view bytes, std::string& error) {
    error.clear();
    if (path.empty()) {
        error = "no file name";
        return false;
    }
    std::string target = path;
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        // The file the link names is replaced, the link itself kept.
        std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
        if (!resolved) {
            error = reason("cannot follow the link", errno);
            return false;
        }
        target = resolved.get();
    }
    if (::stat(target.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            error = reason("cannot look at the file", errno);
            return false;
        }
        return replaceWhole(target, bytes, nullptr, error);
    }
    if (S_ISDIR(info.st_mode)) {
        error = reason("cannot write", EISDIR);
        return false;
    }
    if (!S_ISREG(info.st_mode)) return writeInPlace(target, bytes, error);
    return replaceWhole(target, bytes, &info, error);
}

}  // namespace morvel
