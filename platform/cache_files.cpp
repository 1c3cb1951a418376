#include "platform/cache_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/output_file.h"

namespace morvel {

uint64_t fnv1a(std::string_view bytes)
{
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::string fileStamp(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return "-";
    char text[128];
    std::snprintf(text, sizeof text, "%llx:%llx:%llx:%llx.%lx", static_cast<unsigned long long>(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino), static_cast<unsigned long long>(info.st_size),
                  static_cast<unsigned long long>(info.st_mtim.tv_sec),
                  static_cast<unsigned long>(info.st_mtim.tv_nsec));
    return text;
}

std::string cacheEntryPath(const std::string& directory, const char* prefix, const std::string& key)
{
    char name[64];
    std::snprintf(name, sizeof name, "%s-%016llx", prefix, static_cast<unsigned long long>(fnv1a(key)));
    return directory + "/" + name;
}

std::string readCacheEntry(const std::string& path, size_t maxBytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return {};
    std::string text;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0 || text.size() + static_cast<size_t>(got) > maxBytes) {
            if (got != 0)
                text.clear();
            break;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return text;
}

void writeCacheEntry(const std::string& directory, const std::string& path, std::string_view bytes)
{
    const size_t slash = directory.rfind('/');
    if (slash != std::string::npos && slash > 0)
        ::mkdir(directory.substr(0, slash).c_str(), 0700);
    ::mkdir(directory.c_str(), 0700);
    std::string error;
    writeFileSafely(path, bytes, error);
}

}  // namespace morvel
