#include "platform/face_cache.h"

#include <cstdlib>
#include <string_view>

#include "platform/cache_files.h"

namespace morvel {

namespace {

constexpr std::string_view kMagic = "morvel-face-cache 1";
constexpr size_t kMaxEntryBytes = 1 << 20;  // far more than any real entry

std::string& cacheDirectory()
{
    static std::string directory;
    return directory;
}

std::string environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Where a user's configuration or fonts could appear even when none exist
// yet: their creation must invalidate an entry.
std::vector<std::string> userLocations()
{
    std::vector<std::string> places;
    const std::string home = environmentValue("HOME");
    std::string config = environmentValue("XDG_CONFIG_HOME");
    if (config.empty() && !home.empty())
        config = home + "/.config";
    std::string data = environmentValue("XDG_DATA_HOME");
    if (data.empty() && !home.empty())
        data = home + "/.local/share";
    if (!config.empty())
        places.push_back(config + "/fontconfig");
    if (!data.empty())
        places.push_back(data + "/fonts");
    if (!home.empty()) {
        places.push_back(home + "/.fonts.conf");
        places.push_back(home + "/.fonts");
    }
    return places;
}

// Splits off the next line of `text` (without its newline); false when no
// complete line is left.
bool nextLine(std::string_view& text, std::string_view& line)
{
    const size_t end = text.find('\n');
    if (end == std::string_view::npos)
        return false;
    line = text.substr(0, end);
    text.remove_prefix(end + 1);
    return true;
}

bool parseIndex(std::string_view text, int& index)
{
    if (text.empty() || text.size() > 6)
        return false;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    index = value;
    return true;
}

// Checks the entry's watched lines ("path\tstamp") against the file system,
// up to its closing "end" line.
bool watchedUnchanged(std::string_view text)
{
    std::string_view line;
    bool watchedAny = false;
    while (nextLine(text, line)) {
        if (line == "end")
            return watchedAny && text.empty();
        const size_t tab = line.find('\t');
        if (tab == std::string_view::npos || tab == 0)
            return false;
        if (fileStamp(std::string(line.substr(0, tab))) != line.substr(tab + 1))
            return false;
        watchedAny = true;
    }
    return false;
}

std::string entryPath(const std::string& key)
{
    return cacheEntryPath(cacheDirectory(), "face", key);
}

bool printable(const std::string& text)
{
    return text.find_first_of("\n\t") == std::string::npos;
}

}  // namespace

void setFaceCacheDirectory(std::string directory)
{
    cacheDirectory() = std::move(directory);
}

const std::string& faceCacheDirectory()
{
    return cacheDirectory();
}

std::string defaultFaceCacheDirectory()
{
    std::string base = environmentValue("XDG_CACHE_HOME");
    if (base.empty() || base[0] != '/') {
        const std::string home = environmentValue("HOME");
        if (home.empty())
            return {};
        base = home + "/.cache";
    }
    return base + "/morvel";
}

std::string faceCacheKey(const std::string& requested, int weight, bool italic, int pitchAndFamily)
{
    std::string key = "face=" + requested + "|weight=" + std::to_string(weight) + "|italic=" + (italic ? "1" : "0") +
                      "|pitch=" + std::to_string(pitchAndFamily);
    for (const char* name : {"FONTCONFIG_FILE", "FONTCONFIG_PATH", "FONTCONFIG_SYSROOT", "HOME", "XDG_CONFIG_HOME",
                             "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        key += std::string("|") + name + "=" + environmentValue(name);
    return key;
}

std::optional<MatchedFace> cachedFace(const std::string& key)
{
    if (cacheDirectory().empty() || !printable(key))
        return std::nullopt;
    const std::string entry = readCacheEntry(entryPath(key), kMaxEntryBytes);
    std::string_view text = entry;
    std::string_view magic, storedKey, family, substitute, path, index;
    if (!nextLine(text, magic) || magic != kMagic || !nextLine(text, storedKey) || storedKey != key ||
        !nextLine(text, family) || !nextLine(text, substitute) || (substitute != "0" && substitute != "1") ||
        !nextLine(text, path) || path.empty() || path[0] != '/' || !nextLine(text, index))
        return std::nullopt;
    MatchedFace face;
    if (!parseIndex(index, face.index) || !watchedUnchanged(text))
        return std::nullopt;
    face.family = std::string(family);
    face.substitute = substitute == "1";
    face.path = std::string(path);
    return face;
}

void storeFace(const std::string& key, const MatchedFace& face, std::vector<std::string> watched)
{
    if (cacheDirectory().empty() || !printable(key) || !printable(face.family) || !printable(face.path) ||
        face.path.empty() || face.path[0] != '/' || face.index < 0 || face.index > 999999)
        return;
    watched.push_back(face.path);
    for (std::string& place : userLocations())
        watched.push_back(std::move(place));
    std::string text = std::string(kMagic) + "\n" + key + "\n" + face.family + "\n" + (face.substitute ? "1" : "0") +
                       "\n" + face.path + "\n" + std::to_string(face.index) + "\n";
    for (const std::string& path : watched) {
        if (path.empty() || !printable(path))
            return;
        text += path + "\t" + fileStamp(path) + "\n";
    }
    text += "end\n";
    writeCacheEntry(cacheDirectory(), entryPath(key), text);
}

}  // namespace morvel
