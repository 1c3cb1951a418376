#include "app/dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>

namespace morvel {
namespace {

// The extension a file type of the save dialog gives a name without one.
QString extensionOfType(const QString& type)
{
    if (type.startsWith(QLatin1String("HTML")))
        return QStringLiteral(".html");
    if (type.startsWith(QLatin1String("PNG")))
        return QStringLiteral(".png");
    if (type.startsWith(QLatin1String("SVG")))
        return QStringLiteral(".svg");
    return QStringLiteral(".txt");
}

class StandardDialogs final : public Dialogs {
public:
    std::optional<QString> openImage(QWidget* parent, const QString& startPath) override
    {
        const QString path =
            QFileDialog::getOpenFileName(parent, QString(), startPath, QString::fromLatin1(kImageFileFilter));
        if (path.isEmpty())
            return std::nullopt;
        return path;
    }

    std::optional<QFont> chooseFont(QWidget* parent, const QFont& start) override
    {
        bool ok = false;
        const QFont font = QFontDialog::getFont(&ok, start, parent);
        if (!ok)
            return std::nullopt;
        return font;
    }

    std::optional<QString> saveText(QWidget* parent, const QString& startPath) override
    {
        QString type;
        QString path = QFileDialog::getSaveFileName(parent, QStringLiteral("Save text"), startPath,
                                                    QString::fromLatin1(kTextFileFilter), &type);
        if (path.isEmpty())
            return std::nullopt;
        if (QFileInfo(path).suffix().isEmpty() && !type.startsWith(QLatin1String("All")))
            path += extensionOfType(type);
        return path;
    }
};

}  // namespace

std::unique_ptr<Dialogs> makeStandardDialogs()
{
    return std::make_unique<StandardDialogs>();
}

}  // namespace morvel
