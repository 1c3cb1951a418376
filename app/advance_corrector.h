// Keeps the text box's characters at the positions the matching gave them.
// The text box draws with the toolkit's own hinted advances, which equal the
// atlas's glyph widths unless the font configuration makes the toolkit hint
// differently (fontconfig's autohint, for one). For each character whose
// advance differs, the corrector adds the difference as letter spacing, so
// that each character again advances by its glyph width; with no difference
// it does nothing at all.
#pragma once

#include <QSyntaxHighlighter>
#include <array>
#include <vector>

#include "engine/glyph_atlas.h"

class QFont;
class QTextDocument;

namespace morvel {

class AdvanceCorrector final : public QSyntaxHighlighter {
    Q_OBJECT
public:
    explicit AdvanceCorrector(QTextDocument* document);

    // Compares the font's advances for the characters of `glyphs` with their
    // widths and rehighlights the document when the corrections change.
    void update(const QFont& font, const std::vector<GlyphEntry>& glyphs);
    // Whether any character is corrected.
    bool active() const { return active_; }

protected:
    void highlightBlock(const QString& text) override;

private:
    // Pixels to add to each character code's advance.
    std::array<int, 128> corrections_{};
    bool active_ = false;
};

}  // namespace morvel
