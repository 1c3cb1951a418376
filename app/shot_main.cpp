// Screenshot driver for the real window (never installed): starts the
// window as the program does, then loads the picture named by the first
// argument, generates, and saves an image of the window to the second
// argument. A third argument "open" or "font" then opens that dialog over the
// result; "face=FAMILY:POINTS:WEIGHT" picks that font (as the font dialog
// would) before generating. The window stays open until it is closed, so a
// screen grab of the whole display can be taken as well.
#include <QApplication>
#include <QPixmap>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <optional>

#include "app/dialogs.h"
#include "app/text_image_app.h"

namespace {

// The toolkit's dialogs, except that the font dialog answers a preset font once.
class PresetFontDialogs final : public morvel::Dialogs {
public:
    explicit PresetFontDialogs(std::optional<QFont> font) : font_(std::move(font)) {}
    std::optional<QString> openImage(QWidget* parent, const QString& start) override
    {
        return standard_->openImage(parent, start);
    }
    std::optional<QFont> chooseFont(QWidget* parent, const QFont& start) override
    {
        if (font_)
            return std::exchange(font_, std::nullopt);
        return standard_->chooseFont(parent, start);
    }
    std::optional<QString> saveText(QWidget* parent, const QString& start) override
    {
        return standard_->saveText(parent, start);
    }

private:
    std::optional<QFont> font_;
    std::unique_ptr<morvel::Dialogs> standard_ = morvel::makeStandardDialogs();
};

}  // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: morvel-shot PICTURE [OUTPUT.png [open|font|face=FAMILY:POINTS:WEIGHT]]\n");
        return 2;
    }
    const QString picture = QString::fromLocal8Bit(argv[1]);
    const QString output = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const QString extra = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    std::optional<QFont> face;
    if (extra.startsWith(QLatin1String("face="))) {
        const QStringList parts = extra.mid(5).split(QLatin1Char(':'));
        face = QFont(parts.value(0), parts.value(1, QStringLiteral("9")).toInt(),
                     parts.value(2, QStringLiteral("400")).toInt());
    }

    morvel::TextImageApp app(std::make_unique<PresetFontDialogs>(face));
    app.createWindows();
    QTimer::singleShot(300, &app, [&] {
        if (face)
            app.handleCommand(morvel::ID_CHOOSE_FONT);
        app.dropFiles({picture});
        app.handleCommand(morvel::ID_GENERATE);
        if (!output.isEmpty())
            app.mainWindow()->grab().save(output);
        if (extra == QLatin1String("open"))
            app.handleCommand(morvel::ID_OPEN_IMAGE);
        if (extra == QLatin1String("font"))
            app.handleCommand(morvel::ID_CHOOSE_FONT);
    });
    return application.exec();
}
