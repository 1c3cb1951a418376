// The toolkit font for the engine's font: the very file the atlas was
// rendered from, at its pixel size, with whole-pixel hinted advances and no
// kerning or ligatures, so the text box shows the text in the glyphs it was
// matched against.
#pragma once

#include <QFont>
#include <QString>

#include "platform/log_font.h"

namespace morvel {

class TextEngine;

// The toolkit weight for a description's weight (none: normal).
QFont::Weight qtWeight(const LogFont& description);

class MatchedFont {
public:
    // The font for the engine's current font; a face file is loaded into the
    // toolkit's font database once and kept.
    QFont fontFor(const TextEngine& engine);

private:
    QString loadedFile_;
    QString loadedFamily_;
};

}  // namespace morvel
