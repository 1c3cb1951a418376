// Screenshot driver for the real window (never installed): starts the
// window as the program does, then loads the picture named by the first
// argument, generates, and saves an image of the window to the second
// argument (a third argument, "open" or "font", then opens that dialog).
// The window stays open until it is closed, so a screen grab of
// the whole display can be taken as well.
#include <QApplication>
#include <QPixmap>
#include <QStringList>
#include <QTimer>
#include <cstdio>

#include "app/text_image_app.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: morvel-shot PICTURE [OUTPUT.png [open|font]]\n");
        return 2;
    }
    const QString picture = QString::fromLocal8Bit(argv[1]);
    const QString output = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();

    morvel::TextImageApp app;
    app.createWindows();
    QTimer::singleShot(300, &app, [&] {
        app.dropFiles({picture});
        app.handleCommand(morvel::ID_GENERATE);
        if (!output.isEmpty()) app.mainWindow()->grab().save(output);
        // A third argument opens a dialog over the result: "open" or "font".
        if (argc > 3 && qstrcmp(argv[3], "open") == 0) app.handleCommand(morvel::ID_OPEN_IMAGE);
        if (argc > 3 && qstrcmp(argv[3], "font") == 0) app.handleCommand(morvel::ID_CHOOSE_FONT);
    });
    return application.exec();
}
