// A cache of resolved faces on disk, so that a program run does not pay for
// loading fontconfig's configuration and searching for a stand-in each time.
// An entry holds the matched face together with the state of everything that
// shaped the match: the request itself, the environment variables fontconfig
// reads, and the modification time, size and inode of every configuration
// file, font directory and configuration directory fontconfig used (and of
// those where a user's configuration or fonts could appear), plus the face
// file. An entry is used only while all of them are unchanged, so installing
// or removing a font or editing the configuration can never give a stale
// face. A missing, unreadable or malformed entry is ignored; failing to write
// one is silent.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/face_match.h"

namespace morvel {

// The folder that holds the entries; empty (the default) turns the cache
// off. Set once at start, before any font is made.
void setFaceCacheDirectory(std::string directory);
const std::string& faceCacheDirectory();

// The converter's folder: $XDG_CACHE_HOME/morvel, else ~/.cache/morvel;
// empty when neither is known.
std::string defaultFaceCacheDirectory();

// The text that names a request in the cache: every field that shapes the
// match and the environment fontconfig reads.
std::string faceCacheKey(const std::string& requested, int weight, bool italic, int pitchAndFamily);

// The cached face for `key`, when an entry exists and nothing it depends on
// has changed.
std::optional<MatchedFace> cachedFace(const std::string& key);

// Stores `face` for `key`; `watched` are the files and folders whose state
// the match depended on (the face file is added).
void storeFace(const std::string& key, const MatchedFace& face, std::vector<std::string> watched);

}  // namespace morvel
