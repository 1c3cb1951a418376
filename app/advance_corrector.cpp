#include "app/advance_corrector.h"

#include <QFont>
#include <QFontMetricsF>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>
#include <cmath>

namespace morvel {

AdvanceCorrector::AdvanceCorrector(QTextDocument* document) : QSyntaxHighlighter(document) {}

void AdvanceCorrector::update(const QFont& font, const std::vector<GlyphEntry>& glyphs)
{
    std::array<int, 128> corrections{};
    const QFontMetricsF metrics(font);
    for (const GlyphEntry& glyph : glyphs) {
        if (glyph.code < 0 || glyph.code >= 128)
            continue;
        const qreal advance = metrics.horizontalAdvance(QChar(glyph.code));
        corrections[static_cast<size_t>(glyph.code)] = glyph.width - static_cast<int>(std::lround(advance));
    }
    if (corrections == corrections_)
        return;
    corrections_ = corrections;
    active_ = false;
    for (int correction : corrections_)
        active_ = active_ || correction != 0;
    rehighlight();
}

void AdvanceCorrector::setColours(std::vector<QColor> colours, int lines, const QTextDocument* document)
{
    if (colours.empty() && colours_.empty())
        return;
    colours_ = std::move(colours);
    lineStarts_.clear();
    size_t start = 0;
    for (QTextBlock block = document->begin(); block.isValid() && static_cast<int>(lineStarts_.size()) < lines;
         block = block.next()) {
        lineStarts_.push_back(start);
        start += static_cast<size_t>(block.length() - 1);
    }
    rehighlight();
}

void AdvanceCorrector::colourBlock(const QString& text)
{
    const int line = currentBlock().blockNumber();
    if (line < 0 || static_cast<size_t>(line) >= lineStarts_.size())
        return;
    const size_t first = lineStarts_[static_cast<size_t>(line)];
    for (qsizetype i = 0; i < text.size() && first + static_cast<size_t>(i) < colours_.size(); ++i) {
        QTextCharFormat format = this->format(static_cast<int>(i));
        format.setForeground(colours_[first + static_cast<size_t>(i)]);
        setFormat(static_cast<int>(i), 1, format);
    }
}

void AdvanceCorrector::highlightBlock(const QString& text)
{
    if (!colours_.empty())
        colourBlock(text);
    if (!active_)
        return;
    // One format per run of equal characters that need the same correction
    // (per character when they are coloured each in its own colour).
    const bool coloured = !colours_.empty();
    const qsizetype length = text.size();
    qsizetype start = 0;
    while (start < length) {
        const char16_t code = text.at(start).unicode();
        const int correction = code < 128 ? corrections_[code] : 0;
        qsizetype end = start + 1;
        while (!coloured && end < length && text.at(end).unicode() == code)
            ++end;
        if (correction != 0) {
            QTextCharFormat format = this->format(static_cast<int>(start));
            format.setFontLetterSpacingType(QFont::AbsoluteSpacing);
            format.setFontLetterSpacing(correction);
            setFormat(static_cast<int>(start), static_cast<int>(end - start), format);
        }
        start = end;
    }
}

}  // namespace morvel
