// File drops anywhere on the main window. Watches the main window (which then
// takes the drops its children leave alone: atlas pane, toolbar, slider,
// splitter bar, status bar) and the text box's viewport, where it takes drags
// of files away from the edit box so that a dropped file is loaded, never
// pasted as its name. Other drags (text moved inside the text box) pass on.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>

class QMimeData;
class QWidget;

namespace morvel {

// The local files a drag carries, in the order of the drag.
QStringList droppedFilePaths(const QMimeData* mime);

class FileDropFilter final : public QObject {
    Q_OBJECT
public:
    using Callback = std::function<void(const QStringList& paths)>;
    FileDropFilter(Callback callback, QObject* parent);

    // Makes `widget` accept drops and routes the file drags it receives to the
    // callback.
    void watch(QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Callback callback_;
};

}  // namespace morvel
