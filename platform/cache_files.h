// The files of the on-disk caches (resolved faces, rendered glyphs): one
// private folder, one file per entry named by a hash of the entry's key,
// each read with a size cap and written whole through the one writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace morvel {

// FNV-1a, 64 bits: names entries and checks their contents.
uint64_t fnv1a(std::string_view bytes);

// The state of a file or folder: device, inode, size and modification time
// in nanoseconds, or "-" when it does not exist.
std::string fileStamp(const std::string& path);

// The entry file in `directory` for `key`: `prefix`, a dash and the key's
// hash in hexadecimal.
std::string cacheEntryPath(const std::string& directory, const char* prefix, const std::string& key);

// The whole entry file, or empty when it is missing, a symbolic link,
// unreadable or larger than `maxBytes`.
std::string readCacheEntry(const std::string& path, size_t maxBytes);

// Writes an entry into `directory`, made (with its parent) as a private
// folder when missing: it names the user's fonts and configuration.
// Failing is silent: the cache then only misses.
void writeCacheEntry(const std::string& directory, const std::string& path, std::string_view bytes);

}  // namespace morvel
