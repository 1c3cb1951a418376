// The thin vertical bar between two sibling widgets. layout() divides a
// rectangle between the left pane, the bar and the right pane by a stored
// proportion; dragging the bar with the left mouse button shows a feedback
// band that follows the mouse, and the release moves the panes and the bar
// and stores the new proportion.
#pragma once

#include <QRect>
#include <QWidget>

class QRubberBand;

namespace morvel {

class Splitter final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Splitter)

public:
    // The bar is a child of `parent` (which also holds both panes), 8 x 100
    // at first, with the west-east resize cursor.
    explicit Splitter(QWidget* parent);

    QWidget* leftPane = nullptr;
    QWidget* rightPane = nullptr;
    // Smallest bar x while dragging, in the parent's coordinates.
    int minLeft = 16;
    // The bar x may not exceed the parent's width minus this.
    int minRight = 16;
    // The split: distance from the left pane's left edge to the bar's left
    // edge over the distance from the left pane's left edge to the right
    // pane's right edge.
    int splitNum = 492;
    int splitDen = 1000;

    // Places the left pane, the bar and the right pane in `area` (parent
    // coordinates) by the stored proportion, leaving a one-pixel gap on each
    // side of the bar. Sizes that come out zero or negative are passed on.
    void layout(const QRect& area);

    // Drag state, for the window and its tests.
    bool isTracking() const { return tracking_; }
    bool isDragBarShown() const { return barShown_; }
    // Offset from the bar's left edge at which the drag feedback is shown.
    int dragBarX() const { return barX_; }

signals:
    // A drag (or click) moved the panes and stored a new proportion.
    void splitChanged();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // The bar-local point's x moved into [minLeft, parent width - minRight]
    // of the parent (lower bound first), returned as an offset from the
    // bar's left edge.
    int clampToParent(const QPoint& barPoint) const;
    void showDragBar(int dx);
    void hideDragBar();

    QRubberBand* dragBand_ = nullptr;
    bool tracking_ = false;
    bool barShown_ = false;
    int barX_ = 0;
};

}  // namespace morvel
