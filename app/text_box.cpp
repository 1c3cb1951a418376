#include "app/text_box.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

#include "app/advance_corrector.h"

namespace morvel {
namespace {

// The zoom ladder, in percent; 100 is the matched font's own size.
constexpr std::array<int, 13> kZoomLadder = {25, 33, 50, 67, 75, 90, 100, 110, 125, 150, 200, 300, 400};
constexpr int kNoZoom = 6;

// The program's strings end lines with CR LF; the document wants one line
// break per line.
QString boxText(std::string_view text)
{
    QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return s;
}

}  // namespace

TextBox::TextBox(QWidget* parent) : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setWordWrapMode(QTextOption::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Text art has no use for tab characters; Tab reaches the next control.
    setTabChangesFocus(true);
    corrector_ = new AdvanceCorrector(document());
}

void TextBox::showText(const std::string& text)
{
    QTextDocument* doc = document();
    const bool untouched = doc->revision() == shownRevision_;
    const bool extends = !shownText_.empty() && shownText_.back() != '\r' && text.size() >= shownText_.size() &&
                         text.compare(0, shownText_.size(), shownText_) == 0;
    if (untouched && extends) {
        // A run grows the text line by line: append only what is new.
        const std::string_view added = std::string_view(text).substr(shownText_.size());
        QTextCursor cursor(doc);
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(boxText(added));
        shownText_.append(added);
        shownRevision_ = doc->revision();
        // Once the view is full, what is added lands below it: no repaint
        // then (the event loop paints the box once the run is over).
        if (!endIsVisible())
            return;
    } else {
        setPlainText(boxText(text));
        shownText_ = text;
        shownRevision_ = doc->revision();
    }
    viewport()->repaint();
}

bool TextBox::endIsVisible() const
{
    // Lines never wrap, so each block is one line and the vertical scroll
    // position is the number of the first line shown.
    const int lineHeight = std::max(fontMetrics().lineSpacing(), 1);
    const int firstShown = verticalScrollBar()->value();
    const int linesShown = viewport()->height() / lineHeight + 1;
    const int lastLine = document()->blockCount() - 1;
    // The line before the last counts too: the last line of a run is often
    // still empty (the text ends with a line break).
    return lastLine - 1 < firstShown + linesShown;
}

void TextBox::setMatchedFont(const QFont& font)
{
    matched_ = font;
    applyZoom();
}

void TextBox::setGlyphWidths(const std::vector<GlyphEntry>& glyphs)
{
    glyphs_ = glyphs;
    applyZoom();
}

int TextBox::zoomPercent() const
{
    return kZoomLadder[static_cast<size_t>(kNoZoom + zoomStep_)];
}

void TextBox::zoomBy(int steps)
{
    const int lowest = -kNoZoom;
    const int highest = static_cast<int>(kZoomLadder.size()) - 1 - kNoZoom;
    const int step = std::clamp(zoomStep_ + steps, lowest, highest);
    if (step == zoomStep_)
        return;
    zoomStep_ = step;
    applyZoom();
}

void TextBox::resetZoom()
{
    if (zoomStep_ == 0)
        return;
    zoomStep_ = 0;
    applyZoom();
}

void TextBox::applyZoom()
{
    QFont shown = matched_;
    std::vector<GlyphEntry> widths = glyphs_;
    const int percent = zoomPercent();
    if (percent != 100) {
        const int pixels = matched_.pixelSize();
        if (pixels > 0) {
            shown.setPixelSize(std::max(1, static_cast<int>(std::lround(pixels * percent / 100.0))));
        } else if (matched_.pointSizeF() > 0) {
            shown.setPointSizeF(matched_.pointSizeF() * percent / 100.0);
        }
        // The characters keep their matched proportions at the new size.
        for (GlyphEntry& entry : widths)
            entry.width = static_cast<int32_t>(std::lround(entry.width * percent / 100.0));
    }
    setFont(shown);
    corrector_->update(shown, widths);
}

void TextBox::setCharacterColours(std::vector<QColor> colours, int lines)
{
    corrector_->setColours(std::move(colours), lines, document());
}

bool TextBox::canInsertFromMimeData(const QMimeData* source) const
{
    return source != nullptr && source->hasText();
}

void TextBox::insertFromMimeData(const QMimeData* source)
{
    // Only text is taken, as plain text; anything else (or nothing: an
    // empty selection) is ignored rather than handed to the editor.
    if (source == nullptr || !source->hasText())
        return;
    insertPlainText(source->text());
}

void TextBox::mouseReleaseEvent(QMouseEvent* event)
{
    // A middle click pastes the selection; with no selection anywhere the
    // editor would be handed no data at all, so the click does nothing then.
    if (event->button() == Qt::MiddleButton) {
        const QClipboard* clipboard = QGuiApplication::clipboard();
        const QMimeData* selection = clipboard != nullptr && clipboard->supportsSelection()
                                         ? clipboard->mimeData(QClipboard::Selection)
                                         : nullptr;
        if (selection == nullptr || !selection->hasText() || isReadOnly()) {
            event->accept();
            return;
        }
    }
    QPlainTextEdit::mouseReleaseEvent(event);
}

void TextBox::wheelEvent(QWheelEvent* event)
{
    if (event->modifiers() & Qt::ControlModifier) {
        const int steps = event->angleDelta().y() / 120;
        if (steps != 0)
            zoomBy(steps);
        event->accept();
        return;
    }
    QPlainTextEdit::wheelEvent(event);
}

}  // namespace morvel
