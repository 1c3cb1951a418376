#include "app/advance_corrector.h"

#include <QFont>
#include <QFontMetricsF>
#include <QTextCharFormat>
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

void AdvanceCorrector::highlightBlock(const QString& text)
{
    if (!active_)
        return;
    // One format per run of equal characters that need the same correction.
    const qsizetype length = text.size();
    qsizetype start = 0;
    while (start < length) {
        const char16_t code = text.at(start).unicode();
        const int correction = code < 128 ? corrections_[code] : 0;
        qsizetype end = start + 1;
        while (end < length && text.at(end).unicode() == code)
            ++end;
        if (correction != 0) {
            QTextCharFormat format;
            format.setFontLetterSpacingType(QFont::AbsoluteSpacing);
            format.setFontLetterSpacing(correction);
            setFormat(static_cast<int>(start), static_cast<int>(end - start), format);
        }
        start = end;
    }
}

}  // namespace morvel
