// The text box: a plain text editor that shows the text image in the font
// it was matched against, grows it line by line while a run goes on, zooms
// its view without touching that font, never takes tabs (Tab moves the
// focus on) and refuses pastes and drops that carry no text.
#pragma once

#include <QColor>
#include <QFont>
#include <QPlainTextEdit>
#include <string>
#include <vector>

#include "engine/glyph_atlas.h"

namespace morvel {

class AdvanceCorrector;

class TextBox final : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TextBox(QWidget* parent = nullptr);

    // Shows `text` (lines ended by CR LF) and repaints at once. A text that
    // extends what the box shows, while the user has not edited it, is
    // appended rather than set anew; below the view nothing is repainted.
    void showText(const std::string& text);

    // The font the text was matched against, and the glyph widths each
    // character must advance by at that font's size.
    void setMatchedFont(const QFont& font);
    QFont matchedFont() const { return matched_; }
    void setGlyphWidths(const std::vector<GlyphEntry>& glyphs);

    // The view's zoom, in percent of the matched font's size: one step up or
    // down the zoom ladder per unit of `steps`, or back to 100.
    void zoomBy(int steps);
    void resetZoom();
    int zoomPercent() const;

    // Draws each character of the first lines in its own colour, in text
    // order (line ends take none); an empty list draws them all in the
    // text colour again.
    void setCharacterColours(std::vector<QColor> colours, int lines);

protected:
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    bool endIsVisible() const;
    void applyZoom();

    AdvanceCorrector* corrector_ = nullptr;
    QFont matched_;
    std::vector<GlyphEntry> glyphs_;
    int zoomStep_ = 0;  // index into the zoom ladder relative to 100 %
    // What the box shows as last written by the program, and the document
    // revision right after that write; an append is only safe while the user
    // has not edited the box since.
    std::string shownText_;
    int shownRevision_ = -1;
};

}  // namespace morvel
