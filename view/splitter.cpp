#include "view/splitter.h"

#include <QMouseEvent>
#include <QRubberBand>

#include <algorithm>
#include <cstdint>

namespace morvel {

namespace {

constexpr int kBarWidth = 8;
constexpr int kInitialBarHeight = 100;

// Right and bottom edges exclusive, as all rectangle arithmetic here uses.
int rightOf(const QRect& r)
{
    return r.x() + r.width();
}

}  // namespace

Splitter::Splitter(QWidget* parent) : QWidget(parent)
{
    setGeometry(0, 0, kBarWidth, kInitialBarHeight);
    setCursor(Qt::SizeHorCursor);
    // The bar draws nothing itself: it shows the window background.
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);
    // Moves arrive even without a button held; they are ignored then.
    setMouseTracking(true);
    if (parent) {
        dragBand_ = new QRubberBand(QRubberBand::Line, parent);
        dragBand_->hide();
        show();
    }
}

void Splitter::layout(const QRect& area)
{
    const int w = width();
    const int L = area.x();
    const int T = area.y();
    const int R = L + area.width();
    const int W = area.width();
    const int H = area.height();

    // Rounded to the nearest pixel, halves up; C++ division truncates toward
    // zero as the arithmetic intends. A zero denominator can only come from
    // an owner writing the field; it falls back to the starting split.
    const int64_t num = splitDen != 0 ? splitNum : 492;
    const int64_t den = splitDen != 0 ? splitDen : 1000;
    const int s = static_cast<int>((int64_t{W} * num + den / 2) / den);

    if (leftPane)
        leftPane->setGeometry(L, T, s - 1, H);
    if (rightPane) {
        const int rightLeft = L + s + w + 1;
        rightPane->setGeometry(rightLeft, T, R - rightLeft, H);
    }
    setGeometry(L + s, T, w, H);
    update();
}

int Splitter::clampToParent(const QPoint& barPoint) const
{
    int x = mapToParent(barPoint).x();
    const int parentWidth = parentWidget() ? parentWidget()->width() : 0;
    if (x < minLeft)
        x = minLeft;
    else if (x > parentWidth - minRight)
        x = parentWidth - minRight;
    return x - this->x();
}

void Splitter::showDragBar(int dx)
{
    barX_ = dx;
    barShown_ = true;
    if (dragBand_) {
        dragBand_->setGeometry(geometry().translated(dx, 0));
        dragBand_->show();
        dragBand_->raise();
    }
}

void Splitter::hideDragBar()
{
    if (dragBand_)
        dragBand_->hide();
    barShown_ = false;
}

void Splitter::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    // The press gives the bar Qt's implicit mouse grab until the release.
    tracking_ = true;
    event->accept();
}

void Splitter::mouseMoveEvent(QMouseEvent* event)
{
    if (!tracking_)
        return;
    showDragBar(clampToParent(event->position().toPoint()));
}

void Splitter::mouseReleaseEvent(QMouseEvent* event)
{
    if (!tracking_ || event->button() != Qt::LeftButton)
        return;
    hideDragBar();
    tracking_ = false;

    // The bar's left edge lands on the clamped release point; where the bar
    // was grabbed plays no part, so a click without a move shifts the bar by
    // the click's x.
    const int dx = clampToParent(event->position().toPoint());
    if (leftPane) {
        const QRect r = leftPane->geometry();
        leftPane->setGeometry(r.x(), r.y(), (rightOf(r) + dx) - r.x(), r.height());
    }
    move(x() + dx, y());
    if (rightPane) {
        const QRect r = rightPane->geometry();
        rightPane->setGeometry(r.x() + dx, r.y(), rightOf(r) - (r.x() + dx), r.height());
    }

    if (leftPane && rightPane) {
        const int left = leftPane->geometry().x();
        const int den = rightOf(rightPane->geometry()) - left;
        // In a parent so narrow that its right limit lies left of the left
        // pane, the bar can land outside the panes' span; stored as it is,
        // that proportion would throw the bar out of the area (over the
        // neighbouring widgets) at every later layout, however wide the
        // window gets again. The proportion is kept within 0..1, and a span
        // that is not positive stores nothing.
        if (den > 0) {
            splitNum = std::clamp(x() - left, 0, den);
            splitDen = den;
        }
    }
    emit splitChanged();
}

}  // namespace morvel
