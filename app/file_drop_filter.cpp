#include "app/file_drop_filter.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace morvel {

QStringList droppedFilePaths(const QMimeData* mime)
{
    QStringList paths;
    if (mime == nullptr || !mime->hasUrls())
        return paths;
    const QList<QUrl> urls = mime->urls();
    for (const QUrl& url : urls) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

FileDropFilter::FileDropFilter(Callback callback, QObject* parent) : QObject(parent), callback_(std::move(callback)) {}

void FileDropFilter::watch(QWidget* widget)
{
    if (widget == nullptr)
        return;
    widget->setAcceptDrops(true);
    widget->installEventFilter(this);
}

bool FileDropFilter::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return QObject::eventFilter(watched, event);
    auto* drag = static_cast<QDropEvent*>(event);
    const QMimeData* mime = drag->mimeData();
    // A drag that carries addresses is never the watched widget's own
    // business: files are taken, anything else (a web address) is refused.
    if (mime == nullptr || !mime->hasUrls())
        return QObject::eventFilter(watched, event);
    const QStringList paths = droppedFilePaths(mime);
    if (paths.isEmpty()) {
        drag->ignore();
        return true;
    }
    drag->acceptProposedAction();
    if (type == QEvent::Drop && callback_) {
        // A copy: loading may replace what the filter holds.
        const Callback callback = callback_;
        callback(paths);
    }
    return true;
}

}  // namespace morvel
