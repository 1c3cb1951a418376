// Keeps the text box's characters at the positions the matching gave them.
// The text box draws with the toolkit's own hinted advances, which equal the
// atlas's glyph widths unless the font configuration makes the toolkit hint
// differently (fontconfig's autohint, for one). For each character whose
// advance differs, the corrector adds the difference as letter spacing, so
// that each character again advances by its glyph width; with no difference
// it does nothing at all. It also draws the characters of the picture lines
// in their cells' colours when given them.
#pragma once

#include <QColor>
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
    // Draws the characters of the first `lines` blocks of `document` in
    // `colours`, in text order (line ends take none); empty: no colours.
    void setColours(std::vector<QColor> colours, int lines, const QTextDocument* document);
    // Whether any character is corrected.
    bool active() const { return active_; }

protected:
    void highlightBlock(const QString& text) override;

private:
    void colourBlock(const QString& text);
    // Pixels to add to each character code's advance.
    std::array<int, 128> corrections_{};
    bool active_ = false;
    std::vector<QColor> colours_;
    std::vector<size_t> lineStarts_;  // index of each coloured line's first colour
};

}  // namespace morvel
