// The desktop window: one TextImageApp, its window, the event loop. The
// program takes no command line; the exit code is 0 once the window closes.
#include <QApplication>

#include "app/text_image_app.h"

int main(int argc, char** argv) {
    // Only the program name is passed on, so no argument changes anything.
    int qtArgc = argc > 0 ? 1 : 0;
    QApplication application(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("Morvel"));
    QApplication::setApplicationVersion(QStringLiteral(MORVEL_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("morvel"));

    morvel::TextImageApp app;
    app.createWindows();
    application.exec();
    return 0;
}
