#include "app/matched_font.h"

#include <QFile>
#include <QFontDatabase>
#include <QRawFont>
#include <QStringList>
#include <algorithm>

#include "engine/text_engine.h"
#include "platform/font.h"

namespace morvel {
namespace {

QString fromBytes(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QFont::Weight qtWeight(const LogFont& description)
{
    return static_cast<QFont::Weight>(std::clamp<int>(description.lfWeight > 0 ? description.lfWeight : 400, 1, 1000));
}

QFont MatchedFont::fontFor(const TextEngine& engine)
{
    const LogFont& description = engine.fontDescription();
    const Font* font = engine.font();
    if (font == nullptr || font->filePath().empty()) {
        QFont qfont(fromBytes(engine.faceName()));
        if (engine.pointSize() > 0)
            qfont.setPointSize(engine.pointSize());
        qfont.setStyleHint(QFont::TypeWriter);
        return qfont;
    }
    const QString file = QFile::decodeName(QByteArray::fromStdString(font->filePath()));
    if (file != loadedFile_) {
        const int id = QFontDatabase::addApplicationFont(file);
        const QStringList families = id >= 0 ? QFontDatabase::applicationFontFamilies(id) : QStringList();
        const QString used = fromBytes(font->faceUsed());
        QString family;
        if (families.contains(used)) {
            family = used;
        } else if (font->faceIndex() >= 0 && font->faceIndex() < families.size()) {
            family = families.at(font->faceIndex());
        } else if (!families.isEmpty()) {
            family = families.front();
        } else {
            family = used;
        }
        loadedFile_ = file;
        loadedFamily_ = family;
    }
    QFont qfont(loadedFamily_);
    qfont.setPixelSize(std::max(font->pixelSize(), 1));
    const QRawFont raw(file, std::max(font->pixelSize(), 1));
    if (raw.isValid() && font->faceIndex() == 0 && raw.familyName() == loadedFamily_) {
        qfont.setStyleName(raw.styleName());
    } else {
        qfont.setWeight(qtWeight(description));
        qfont.setItalic(description.lfItalic != 0);
    }
    // Each character advances by its own width, as in the atlas: the
    // whole-pixel advances of fully hinted outlines (the font layer's
    // measure), no kerning and no ligatures.
    qfont.setKerning(false);
    qfont.setHintingPreference(QFont::PreferFullHinting);
    qfont.setStyleHint(QFont::TypeWriter, QFont::StyleStrategy(QFont::PreferMatch | QFont::PreferNoShaping));
    return qfont;
}

}  // namespace morvel
