#include "image/file_bytes.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>

namespace morvel {

bool isRegularFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::vector<uint8_t>> readFileBytes(const std::string& path, int64_t maxBytes)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        return std::nullopt;
    // Ask the open stream, not the path, so a file swapped after the check
    // cannot slip through.
    struct stat st {};
    if (::fstat(::fileno(file.get()), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 || st.st_size > maxBytes)
        return std::nullopt;
    std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
    const size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), file.get());
    // A file that shrank while being read keeps what was there.
    bytes.resize(got);
    return bytes;
}

}  // namespace morvel
