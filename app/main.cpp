// The desktop window: reads the command line, then one TextImageApp, its
// window and the event loop. --help and --version are answered before any
// toolkit object exists, so they need no display. The exit code is 0 once the
// window closes, 2 after a usage error.
#include <QApplication>
#include <QFile>
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/text_image_app.h"

int main(int argc, char** argv)
{
    const morvel::CommandLine line = morvel::parseCommandLine(argc, argv);
    switch (line.action) {
    case morvel::CommandLine::Action::Help:
        std::fputs(morvel::helpText().c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case morvel::CommandLine::Action::Version:
        std::fputs(morvel::versionText().c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case morvel::CommandLine::Action::UsageError:
        std::fprintf(stderr, "morvel: %s\n%s\n", line.error.c_str(), morvel::kUsageHint);
        return 2;
    case morvel::CommandLine::Action::Run:
        break;
    }

    // The toolkit sees its own options only; it keeps pointers into this
    // list for its whole life.
    std::vector<std::string> toolkitArguments = line.toolkitArguments;
    std::vector<char*> toolkitArgv;
    for (std::string& argument : toolkitArguments)
        toolkitArgv.push_back(argument.data());
    toolkitArgv.push_back(nullptr);
    int toolkitArgc = static_cast<int>(toolkitArguments.size());
    QApplication application(toolkitArgc, toolkitArgv.data());
    QApplication::setApplicationName(QStringLiteral("Morvel"));
    QApplication::setApplicationVersion(QStringLiteral(MORVEL_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("morvel"));

    morvel::TextImageApp app;
    app.createWindows();
    // The command line's choices; a dark theme's inversion stays unless
    // --invert was given (it can only turn inversion on).
    morvel::WindowSettings settings = line.settings;
    settings.invert = line.invertGiven || app.settings().invert;
    app.applySettings(settings);
    if (line.difference)
        app.handleCommand(morvel::ID_TOGGLE_MATCH);
    if (!line.picture.empty())
        app.openPicture(QFile::decodeName(QByteArray::fromStdString(line.picture)));
    application.exec();
    return 0;
}
