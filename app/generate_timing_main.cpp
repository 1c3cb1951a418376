// Timing driver for Generate in the real window (never installed): starts
// the window as the program does, loads the picture named by the first
// argument, then clicks the Generate button RUNS times (second argument,
// default 5) and prints, per click, the time from the click until the status
// bar shows the final text and every pending repaint is done.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <QToolBar>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/text_image_app.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: morvel-time-generate PICTURE [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    morvel::TextImageApp app;
    app.createWindows();
    app.openPicture(QString::fromLocal8Bit(argv[1]));
    QApplication::processEvents();
    QWidget* button = app.toolbar()->widgetForAction(app.action(morvel::ID_GENERATE));

    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        app.statusPartLabel(2)->clear();
        QApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        QTest::mouseClick(button, Qt::LeftButton);
        QApplication::processEvents();
        const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        times.push_back(ms);
        std::printf("run %d: %.1f ms  (%s)\n", run + 1, ms, qPrintable(app.statusPartText(2)));
    }
    std::sort(times.begin(), times.end());
    std::printf("median %.1f ms over %d runs\n", times[times.size() / 2], runs);
    return 0;
}
