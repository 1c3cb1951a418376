// Face matching for the font layer: which installed face, through
// fontconfig, a font description resolves to. A face counts as installed
// when fontconfig's best match is of that family, of a family the
// configuration makes its alias (Courier -> Nimbus Mono PS), or when it is
// a generic family (monospace, mono, sans-serif, sans, serif). Any other
// face resolves to an installed face of the same pitch (monospaced for the
// default), marked as a stand-in.
#pragma once

#include <optional>
#include <string>

#include "platform/log_font.h"

namespace morvel {

struct MatchedFace {
    std::string requested;    // the description's face name
    std::string family;       // family name of the face found
    bool substitute = false;  // a stand-in: the requested face is not installed
    std::string path;         // its font file
    int index = 0;            // its face index inside the file
};

// The installed face for the description's name, weight, slant and pitch;
// none when fontconfig gives no face at all (or was released). With a face
// cache folder set (platform/face_cache.h), a still-valid entry answers
// without loading fontconfig.
std::optional<MatchedFace> matchFace(const LogFont& description);

// Releases fontconfig's loaded configuration. For a program that is done
// with fonts (every Font destroyed) and shares fontconfig with no toolkit,
// such as the converter at exit, so that memory checkers see a clean end.
void releaseFontSystem();

}  // namespace morvel
