#include "cli/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace morvel::cli {

namespace {

std::string directoryOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes the rename durable; a directory that cannot be synced (some file
// systems refuse) is not an error for the file itself.
void syncDirectory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
    const std::string dir = directoryOf(path_);
    const size_t slash = path_.find_last_of('/');
    const std::string base = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    std::string temp = (dir == "/" ? "" : dir) + "/." + base + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        fail("cannot create a file beside it", errno);
        return;
    }
    tempPath_.assign(name.data());
    // mkstemp makes the file private; give it the mode a plain new file gets.
    ::fchmod(fd, 0666 & ~currentUmask());
    stream_ = ::fdopen(fd, "wb");
    if (stream_ == nullptr) {
        const int err = errno;
        ::close(fd);
        fail("cannot open", err);
    }
}

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::fail(const char* what, int err) {
    if (error_.empty()) {
        error_ = std::string(what) + ": " + std::strerror(err);
    }
    discard();
}

void AtomicFile::discard() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

bool AtomicFile::commit() {
    if (stream_ == nullptr) {
        if (error_.empty()) {
            error_ = "not open";
        }
        return false;
    }
    if (std::fflush(stream_) != 0 || std::ferror(stream_)) {
        fail("write failed", errno != 0 ? errno : EIO);
        return false;
    }
    if (::fsync(::fileno(stream_)) != 0) {
        fail("cannot flush to disk", errno);
        return false;
    }
    const int closed = std::fclose(stream_);
    stream_ = nullptr;
    if (closed != 0) {
        fail("write failed", errno);
        return false;
    }
    if (::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        fail("cannot rename the finished file into place", errno);
        return false;
    }
    tempPath_.clear();
    syncDirectory(directoryOf(path_));
    return true;
}

bool writeText(std::FILE* out, std::string text, bool crlf) {
    if (!crlf) {
        // Moves every byte but the CR of each CR LF, and the spaces that end
        // a line, down over the dropped ones.
        size_t kept = 0;
        size_t lineStart = 0;
        const size_t size = text.size();
        for (size_t i = 0; i < size; ++i) {
            if (text[i] == '\r' && i + 1 < size && text[i + 1] == '\n') {
                continue;
            }
            if (text[i] == '\n') {
                while (kept > lineStart && text[kept - 1] == ' ') {
                    --kept;
                }
                lineStart = kept + 1;
            }
            text[kept++] = text[i];
        }
        text.resize(kept);
    }
    return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

bool writePgm(const std::string& path, const ImageRecord& picture, std::string& error) {
    AtomicFile file(path);
    if (!file.isOpen()) {
        error = file.error();
        return false;
    }
    const int32_t width = picture.header.biWidth;
    const int32_t height = picture.rowCount;
    std::FILE* out = file.stream();
    bool ok = std::fprintf(out, "P5\n%d %d\n255\n", width, height) > 0;
    // Rows carry fill bytes up to their pitch; only the pixels are written.
    for (int32_t y = 0; ok && y < height; ++y) {
        ok = std::fwrite(picture.rows[y], 1, static_cast<size_t>(width), out) == static_cast<size_t>(width);
    }
    if (!ok) {
        error = std::string("write failed: ") + std::strerror(errno);
        return false;
    }
    if (!file.commit()) {
        error = file.error();
        return false;
    }
    return true;
}

}  // namespace morvel::cli
