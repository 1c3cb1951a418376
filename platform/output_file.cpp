#include "platform/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

namespace morvel {

namespace {

// --- Removing temporary files when a signal ends the process -------------

// Paths of the temporary files in use, each a malloc'd string. The handler
// takes them with exchange, so a path is removed (and its string given up)
// by exactly one side, the handler or the file that finishes.
constexpr int kCleanupSlots = 64;
std::atomic<char*> cleanupPaths[kCleanupSlots];

void removeTemporaryFilesAndDie(int signal)
{
    for (auto& slot : cleanupPaths) {
        if (char* path = slot.exchange(nullptr))
            ::unlink(path);
    }
    // The handler was reset to the default action on entry (SA_RESETHAND);
    // the signal raised again is delivered when the handler returns, so the
    // caller sees the process end by that signal.
    ::raise(signal);
}

// Installs the handler for the signals that end a run, except where the
// caller chose to ignore one (nohup) or handles it itself.
void installCleanupHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction current {};
            if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
                (current.sa_flags & SA_SIGINFO) != 0)
                continue;
            struct sigaction action {};
            action.sa_handler = removeTemporaryFilesAndDie;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESETHAND;
            ::sigaction(signal, &action, nullptr);
        }
    });
}

// The slot now holding `path`, or -1 when all are taken (the file is then
// left behind by a signal, nothing worse).
int registerTemporaryFile(const std::string& path)
{
    installCleanupHandlers();
    char* copy = ::strdup(path.c_str());
    if (copy == nullptr)
        return -1;
    for (int i = 0; i < kCleanupSlots; ++i) {
        char* expected = nullptr;
        if (cleanupPaths[i].compare_exchange_strong(expected, copy))
            return i;
    }
    std::free(copy);
    return -1;
}

void unregisterTemporaryFile(int slot)
{
    if (slot >= 0)
        std::free(cleanupPaths[slot].exchange(nullptr));
}

// --- Where a path leads -----------------------------------------------------

std::string reasonOf(int err)
{
    return std::strerror(err);
}

// The descriptor a path stands for when it names one of the process's own
// descriptors: /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N (and the
// same under /proc/thread-self and /proc/PID for this process).
std::optional<int> descriptorNamedBy(const std::string& path)
{
    if (path == "/dev/stdout")
        return STDOUT_FILENO;
    if (path == "/dev/stderr")
        return STDERR_FILENO;
    const std::string prefixes[] = {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/",
                                    "/proc/" + std::to_string(::getpid()) + "/fd/"};
    for (const std::string& prefix : prefixes) {
        if (path.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string number = path.substr(prefix.size());
        if (number.empty() || number.size() > 9 || number.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        return std::atoi(number.c_str());
    }
    return std::nullopt;
}

std::string directoryOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where writing to a path lands, after following symbolic links.
struct Destination {
    std::optional<int> descriptor;  // one of the caller's own descriptors
    std::string path;               // otherwise the file itself (no link)
    bool exists = false;
    struct stat status {};
};

// Follows `path` link by link, watching for the names of the process's own
// descriptors on the way (/dev/stdout is itself a link to one). False, with
// the reason, when the chain cannot be followed.
bool findDestination(const std::string& path, Destination& out, std::string& error)
{
    std::string current = path;
    // Linux follows at most 40 links in a path; a longer chain is a loop.
    for (int hops = 0; hops <= 40; ++hops) {
        if (const auto fd = descriptorNamedBy(current)) {
            out.descriptor = fd;
            return true;
        }
        struct stat status {};
        if (::lstat(current.c_str(), &status) != 0) {
            if (errno != ENOENT) {
                error = reasonOf(errno);
                return false;
            }
            out.path = current;
            out.exists = false;
            return true;
        }
        if (!S_ISLNK(status.st_mode)) {
            out.path = current;
            out.exists = true;
            out.status = status;
            return true;
        }
        std::vector<char> target(static_cast<size_t>(PATH_MAX) + 1);
        const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<size_t>(length) >= target.size()) {
            error = reasonOf(length < 0 ? errno : ENAMETOOLONG);
            return false;
        }
        const std::string next(target.data(), static_cast<size_t>(length));
        current = next.front() == '/' ? next : directoryOf(current) + "/" + next;
    }
    error = reasonOf(ELOOP);
    return false;
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Makes a rename durable; a directory that cannot be synced (some file
// systems refuse) is no error for the file itself.
void syncDirectory(const std::string& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The longest file name most file systems take.
constexpr size_t kNameMax = 255;

}  // namespace

OutputFile::~OutputFile()
{
    discard();
}

bool OutputFile::open(const std::string& path, std::string& error)
{
    discard();
    if (path == "-") {
        fd_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        if (fd_ < 0)
            error = reasonOf(errno);
        return fd_ >= 0;
    }
    if (path.empty()) {
        error = reasonOf(ENOENT);
        return false;
    }
    Destination destination;
    if (!findDestination(path, destination, error))
        return false;
    if (destination.descriptor) {
        // A duplicate shares the caller's offset and flags: the text goes
        // where the caller's own writes would go.
        fd_ = ::fcntl(*destination.descriptor, F_DUPFD_CLOEXEC, 0);
        if (fd_ < 0)
            error = reasonOf(errno);
        return fd_ >= 0;
    }
    const std::string& target = destination.path;
    const struct stat& status = destination.status;
    if (destination.exists && S_ISDIR(status.st_mode)) {
        error = reasonOf(EISDIR);
        return false;
    }
    // Devices and pipes are written as they are; so is a regular file that
    // has other names, which a replacement would part from this one.
    const bool inPlace = destination.exists && (!S_ISREG(status.st_mode) || status.st_nlink > 1);
    if (!inPlace) {
        const int made = makeTemporaryFile(target, destination.exists ? &status : nullptr);
        if (made > 0)
            return true;
        // A directory the process may not write takes no temporary file:
        // the file is then written in place, as a plain redirection would
        // write it. Any other failure (no space, no inodes, a read-only
        // file system) is an error that leaves the old file as it was.
        if (made < 0) {
            error = "cannot make a temporary file beside it: " + reasonOf(errno);
            return false;
        }
        if (!destination.exists) {
            const int created = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (created < 0) {
                error = reasonOf(errno);
                return false;
            }
            fd_ = created;
            createdPath_ = target;
            return true;
        }
    }
    // Opened without truncation: a regular file keeps its old text until
    // the whole new text is known and its space reserved (see commit).
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = reasonOf(errno);
        return false;
    }
    fd_ = fd;
    heldInPlace_ = S_ISREG(status.st_mode);
    return true;
}

int OutputFile::makeTemporaryFile(const std::string& target, const struct stat* old)
{
    // The temporary name carries the file's own when it fits in a name; a
    // long name gets a short temporary one instead.
    const std::string base = baseNameOf(target);
    const std::string dir = directoryOf(target);
    const std::string tempBase = base.size() + 8 <= kNameMax ? "." + base + ".XXXXXX" : ".morvel.XXXXXX";
    std::string temp = (dir == "/" ? "" : dir) + "/" + tempBase;
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES || errno == EPERM ? 0 : -1;
    fd_ = fd;
    tempPath_ = temp;
    finalPath_ = target;
    cleanupSlot_ = registerTemporaryFile(tempPath_);
    if (old != nullptr) {
        // The old file's owner where the process may set it, then its
        // permission bits (set after, as a change of owner may clear set-id
        // bits).
        if ((old->st_uid != ::geteuid() || old->st_gid != ::getegid()) &&
            ::fchown(fd_, old->st_uid, old->st_gid) != 0) {
            // Not the process's to give away: the file becomes its own.
        }
        ::fchmod(fd_, old->st_mode & 07777);
    } else {
        // mkstemp makes the file private; a new file gets the mode a plain
        // new file gets.
        ::fchmod(fd_, 0666 & ~currentUmask());
    }
    return 1;
}

bool OutputFile::write(std::string_view bytes, std::string& error)
{
    if (fd_ < 0) {
        error = reasonOf(EBADF);
        return false;
    }
    if (heldInPlace_) {
        try {
            held_.append(bytes);
        } catch (const std::bad_alloc&) {
            error = reasonOf(ENOMEM);
            return false;
        }
        return true;
    }
    return writeAll(fd_, bytes, error);
}

bool OutputFile::writeAll(int fd, std::string_view bytes, std::string& error)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = reasonOf(n < 0 ? errno : EIO);
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool OutputFile::commit(std::string& error)
{
    if (fd_ < 0) {
        error = reasonOf(EBADF);
        return false;
    }
    if (heldInPlace_ && !replaceInPlace(error)) {
        discard();
        return false;
    }
    if (!tempPath_.empty() && ::fsync(fd_) != 0) {
        error = "cannot flush to disk: " + reasonOf(errno);
        discard();
        return false;
    }
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0 && errno != EINTR) {
        error = reasonOf(errno);
        discard();
        return false;
    }
    createdPath_.clear();
    if (tempPath_.empty())
        return true;
    if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
        error = "cannot rename the finished file into place: " + reasonOf(errno);
        discard();
        return false;
    }
    unregisterTemporaryFile(cleanupSlot_);
    cleanupSlot_ = -1;
    tempPath_.clear();
    syncDirectory(directoryOf(finalPath_));
    return true;
}

void OutputFile::discard()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
    if (!createdPath_.empty()) {
        ::unlink(createdPath_.c_str());
        createdPath_.clear();
    }
    unregisterTemporaryFile(cleanupSlot_);
    cleanupSlot_ = -1;
    heldInPlace_ = false;
    held_.clear();
    held_.shrink_to_fit();
}

bool OutputFile::replaceInPlace(std::string& error)
{
    // The space for the whole new text is reserved before any old byte is
    // overwritten: on a full disk (or past the file-size limit) the old
    // file keeps its text and size. Only then is the new text written from
    // the start and the rest cut off.
    struct stat status {};
    if (::fstat(fd_, &status) != 0) {
        error = reasonOf(errno);
        return false;
    }
    const auto length = static_cast<off_t>(held_.size());
    if (length > status.st_size) {
        const int reserved = ::posix_fallocate(fd_, 0, length);
        if (reserved != 0) {
            // A reservation given up part way may have lengthened the file.
            if (::ftruncate(fd_, status.st_size) != 0) {
                // Nothing more to do: the old text itself is untouched.
            }
            error = reasonOf(reserved);
            return false;
        }
    }
    if (::lseek(fd_, 0, SEEK_SET) != 0) {
        error = reasonOf(errno);
        return false;
    }
    heldInPlace_ = false;
    const std::string text = std::move(held_);
    held_.clear();
    if (!writeAll(fd_, text, error))
        return false;
    if (::ftruncate(fd_, length) != 0) {
        error = reasonOf(errno);
        return false;
    }
    return true;
}

bool writeFileSafely(const std::string& path, std::string_view bytes, std::string& error)
{
    OutputFile file;
    return file.open(path, error) && file.write(bytes, error) && file.commit(error);
}

}  // namespace morvel
