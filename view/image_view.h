// A scrollable pane that shows one ImageRecord at its natural size, one
// picture pixel per screen pixel, on a gray background. The pane never owns
// or changes the record's pixels; the only thing it stores in a record is the
// display colour table it caches in the record's palette slot.
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QStringList>

#include <functional>

#include "image/image_record.h"

class QScrollBar;

namespace morvel {

class ImageView final : public QAbstractScrollArea {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ImageView)

public:
    explicit ImageView(QWidget* parent = nullptr);

    // Shows `image` (not owned; none leaves an empty pane). The scroll
    // positions survive, clamped to the new picture's limits. With none the
    // scroll state is left exactly as it was.
    void setImage(const ImageRecord* image);
    // Repaints the whole pane; for pixels changed in place.
    void refresh();
    const ImageRecord* image() const { return image_; }

    int scrollX() const { return scrollX_; }
    int scrollY() const { return scrollY_; }
    int scrollLimitX() const { return scrollLimitX_; }
    int scrollLimitY() const { return scrollLimitY_; }

    enum ScrollCode {
        LineLeft,
        LineRight,
        PageLeft,
        PageRight,
        ThumbPosition,
        ThumbTrack,
        ToStart,
        ToEnd,
        EndScroll
    };
    // The scroll model. Lines move by an eighth of the client extent, pages by
    // the client extent, both clamped to [0, limit]; thumb positions are used
    // as given. ToStart, ToEnd and EndScroll change nothing. The scroll bars
    // drive these too. For the vertical twin, LineLeft/PageLeft mean up and
    // LineRight/PageRight mean down.
    void onHScroll(ScrollCode code, int position = 0);
    void onVScroll(ScrollCode code, int position = 0);

    using DropCallback = std::function<void(const QStringList& paths)>;
    // File drops are accepted only while a callback is set; it receives every
    // dropped local file path, in the order of the drop.
    void setDropCallback(DropCallback callback);

    // The atlas pane never shows a horizontal scroll bar.
    void setHorizontalScrollBarHidden(bool hidden);

    // Colour of the area not covered by the picture.
    static QColor backgroundColor();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Recomputes both limits from the picture and the client size, clamps
    // the positions and sets the scroll bars. Nothing happens without an
    // image.
    void updateScrollRanges();
    // The shared body of onHScroll/onVScroll for one axis.
    void scrollAxis(Qt::Orientation orientation, ScrollCode code, int position);
    void onScrollBarAction(Qt::Orientation orientation, int action);

    const ImageRecord* image_ = nullptr;
    int scrollX_ = 0;
    int scrollY_ = 0;
    int scrollLimitX_ = 0;
    int scrollLimitY_ = 0;
    DropCallback dropCallback_;
    bool updatingRanges_ = false;
    bool rangesStale_ = false;
};

}  // namespace morvel
