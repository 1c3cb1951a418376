// Shared by the window's Qt Test programs: dialogs answered by a script and
// a started window that uses them.
#pragma once

#include <QFont>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/dialogs.h"
#include "app/text_box.h"
#include "app/text_image_app.h"

// Dialog answers queued by a test; an empty queue (or an empty path)
// answers "cancelled".
class ScriptedDialogs final : public morvel::Dialogs {
public:
    std::deque<QString> files;
    std::deque<QFont> fonts;
    QString lastStartPath;
    QFont lastStartFont;
    std::deque<QString> saves;
    QString lastSaveStartPath;
    int openCalls = 0;
    int fontCalls = 0;
    // Runs with the chosen path just before the open dialog answers, as if
    // the user (or another program) did something while the dialog closed.
    std::function<void(const QString& chosen)> beforeAnswer;

    std::optional<QString> openImage(QWidget*, const QString& startPath) override
    {
        ++openCalls;
        lastStartPath = startPath;
        if (files.empty())
            return std::nullopt;
        const QString answer = files.front();
        files.pop_front();
        if (answer.isEmpty())
            return std::nullopt;
        if (beforeAnswer)
            beforeAnswer(answer);
        return answer;
    }
    std::optional<QFont> chooseFont(QWidget*, const QFont& start) override
    {
        ++fontCalls;
        lastStartFont = start;
        if (fonts.empty())
            return std::nullopt;
        const QFont answer = fonts.front();
        fonts.pop_front();
        return answer;
    }
    std::optional<QString> saveText(QWidget*, const QString& startPath) override
    {
        lastSaveStartPath = startPath;
        if (saves.empty() || saves.front().isEmpty())
            return std::nullopt;
        const QString answer = saves.front();
        saves.pop_front();
        return answer;
    }
};

// A started window with scripted dialogs.
struct Window {
    ScriptedDialogs* dialogs;
    morvel::TextImageApp app;
    Window() : Window(new ScriptedDialogs) {}
    explicit Window(ScriptedDialogs* d) : dialogs(d), app(std::unique_ptr<morvel::Dialogs>(d)) { app.createWindows(); }
};

// The text box shows CR LF line ends as plain line breaks.
inline QString asShown(const std::string& text)
{
    return QString::fromStdString(text).replace(QLatin1String("\r\n"), QLatin1String("\n"));
}
