#include "cli/input.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace morvel::cli {

std::optional<std::vector<uint8_t>> readAllBytes(int fd, int64_t maxBytes)
{
    std::vector<uint8_t> bytes;
    size_t used = 0;
    for (;;) {
        // Grow in steps that double, so a large picture costs few copies;
        // one byte past the limit is asked for to tell "too much" apart.
        if (used == bytes.size()) {
            const size_t room = std::max<size_t>(64 * 1024, bytes.size());
            const size_t cap = static_cast<size_t>(maxBytes) + 1;
            if (bytes.size() >= cap) {
                return std::nullopt;
            }
            bytes.resize(std::min(bytes.size() + room, cap));
        }
        const ssize_t got = ::read(fd, bytes.data() + used, bytes.size() - used);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        used += static_cast<size_t>(got);
        if (used > static_cast<size_t>(maxBytes)) {
            return std::nullopt;
        }
    }
    bytes.resize(used);
    return bytes;
}

}  // namespace morvel::cli
