#include "view/image_view.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QImage>
#include <QList>
#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QUrl>

#include <algorithm>
#include <cstdint>
#include <new>

namespace morvel {

namespace {

using ColorTable = QList<QRgb>;

void releaseColorTable(void* data)
{
    delete static_cast<ColorTable*>(data);
}

ColorTable makeColorTable(const ImageRecord& record)
{
    ColorTable table;
    table.reserve(256);
    for (const RgbQuad& c : record.colors)
        table.append(qRgb(c.rgbRed, c.rgbGreen, c.rgbBlue));
    return table;
}

// The display colour table of an 8-bit record. It is built from the record's
// `colors` on the first paint and cached in the record's palette slot, which
// freeImageRecord releases with the record. The slot is the only part of the
// record a pane writes; the record itself was allocated writable, so casting
// the const away is sound. A slot already holding someone else's data is left
// alone and the table is built for this paint only.
ColorTable colorTableOf(const ImageRecord& record)
{
    PaletteCache& cache = const_cast<ImageRecord&>(record).palette;
    if (cache.data && cache.release == releaseColorTable)
        return *static_cast<const ColorTable*>(cache.data);

    ColorTable table = makeColorTable(record);
    if (!cache.data && !cache.release) {
        if (auto* cached = new (std::nothrow) ColorTable(table)) {
            cache.data = cached;
            cache.release = releaseColorTable;
        }
    }
    return table;
}

QStringList localFilePaths(const QMimeData* mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    const QList<QUrl> urls = mime->urls();
    for (const QUrl& url : urls) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

}  // namespace

ImageView::ImageView(QWidget* parent) : QAbstractScrollArea(parent)
{
    // paintEvent covers every pixel it is asked for, so Qt need not clear
    // the viewport first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    horizontalScrollBar()->setRange(0, 0);
    verticalScrollBar()->setRange(0, 0);

    // The scroll bars only report what the user asked for; the positions
    // are decided by the scroll model, which then sets the bars.
    connect(horizontalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this](int action) { onScrollBarAction(Qt::Horizontal, action); });
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this](int action) { onScrollBarAction(Qt::Vertical, action); });

    setAcceptDrops(false);
    viewport()->setAcceptDrops(false);
}

QColor ImageView::backgroundColor()
{
    return QColor(128, 128, 128);
}

void ImageView::setImage(const ImageRecord* image)
{
    image_ = image;
    updateScrollRanges();
    viewport()->update();
}

void ImageView::refresh()
{
    viewport()->update();
}

void ImageView::setDropCallback(DropCallback callback)
{
    dropCallback_ = std::move(callback);
    const bool accept = static_cast<bool>(dropCallback_);
    setAcceptDrops(accept);
    viewport()->setAcceptDrops(accept);
}

void ImageView::setHorizontalScrollBarHidden(bool hidden)
{
    setHorizontalScrollBarPolicy(hidden ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
}

void ImageView::updateScrollRanges()
{
    if (!image_)
        return;
    // Showing or hiding a scroll bar resizes the viewport, which lands here
    // again from resizeEvent. The nested call only marks the ranges stale and
    // the outer loop recomputes them from the settled client size.
    if (updatingRanges_) {
        rangesStale_ = true;
        return;
    }
    updatingRanges_ = true;
    for (int pass = 0; pass < 4; ++pass) {
        rangesStale_ = false;
        const int clientWidth = viewport()->width();
        const int clientHeight = viewport()->height();
        const int64_t pictureWidth = image_->header.biWidth;
        const int64_t pictureHeight = image_->rowCount;

        const int oldX = scrollX_;
        const int oldY = scrollY_;
        scrollLimitX_ = static_cast<int>(std::max<int64_t>(0, pictureWidth - clientWidth));
        scrollLimitY_ = static_cast<int>(std::max<int64_t>(0, pictureHeight - clientHeight));
        scrollX_ = std::min(oldX, scrollLimitX_);
        scrollY_ = std::min(oldY, scrollLimitY_);

        QScrollBar* hbar = horizontalScrollBar();
        hbar->setRange(0, scrollLimitX_);
        hbar->setPageStep(clientWidth);
        hbar->setSingleStep(clientWidth / 8);
        hbar->setValue(scrollX_);
        QScrollBar* vbar = verticalScrollBar();
        vbar->setRange(0, scrollLimitY_);
        vbar->setPageStep(clientHeight);
        vbar->setSingleStep(clientHeight / 8);
        vbar->setValue(scrollY_);

        // A dropped position shifts the whole picture.
        if (oldX > scrollLimitX_ || oldY > scrollLimitY_)
            viewport()->update();
        if (!rangesStale_)
            break;
    }
    updatingRanges_ = false;
}

void ImageView::onHScroll(ScrollCode code, int position)
{
    scrollAxis(Qt::Horizontal, code, position);
}

void ImageView::onVScroll(ScrollCode code, int position)
{
    scrollAxis(Qt::Vertical, code, position);
}

void ImageView::scrollAxis(Qt::Orientation orientation, ScrollCode code, int position)
{
    const bool horizontal = orientation == Qt::Horizontal;
    int& current = horizontal ? scrollX_ : scrollY_;
    const int64_t limit = horizontal ? scrollLimitX_ : scrollLimitY_;
    const int64_t client = horizontal ? viewport()->width() : viewport()->height();
    const int64_t line = client / 8;
    const int64_t old = current;

    // 64-bit steps: a thumb position taken as given may sit anywhere.
    int64_t next = old;
    bool wholeArea = false;
    switch (code) {
    case LineLeft:
        next = std::max<int64_t>(0, old - line);
        break;
    case LineRight:
        next = std::min<int64_t>(limit, old + line);
        break;
    case PageLeft:
        next = std::max<int64_t>(0, old - client);
        wholeArea = true;
        break;
    case PageRight:
        next = std::min<int64_t>(limit, old + client);
        wholeArea = true;
        break;
    case ThumbPosition:
    case ThumbTrack:
        next = position;
        break;
    case ToStart:
    case ToEnd:
    case EndScroll:
        break;
    }
    current = static_cast<int>(next);

    // Line and thumb moves shift the pixels already shown and repaint only
    // the uncovered strip; page moves repaint the whole area.
    const int64_t shift = old - next;
    if (wholeArea || shift <= -client || shift >= client) {
        viewport()->update();
    } else if (shift != 0) {
        if (horizontal)
            viewport()->scroll(static_cast<int>(shift), 0);
        else
            viewport()->scroll(0, static_cast<int>(shift));
    }

    QScrollBar* bar = horizontal ? horizontalScrollBar() : verticalScrollBar();
    bar->setValue(current);
}

void ImageView::onScrollBarAction(Qt::Orientation orientation, int action)
{
    QScrollBar* bar = orientation == Qt::Horizontal ? horizontalScrollBar() : verticalScrollBar();
    ScrollCode code;
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        code = LineLeft;
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        code = LineRight;
        break;
    case QAbstractSlider::SliderPageStepSub:
        code = PageLeft;
        break;
    case QAbstractSlider::SliderPageStepAdd:
        code = PageRight;
        break;
    case QAbstractSlider::SliderMove:
        code = bar->isSliderDown() ? ThumbTrack : ThumbPosition;
        break;
    case QAbstractSlider::SliderToMinimum:
        code = ToStart;
        break;
    case QAbstractSlider::SliderToMaximum:
        code = ToEnd;
        break;
    default:
        return;
    }
    // The bar has already moved its slider by its own rule; the model's
    // result, set on the bar at the end of scrollAxis, replaces it before the
    // bar commits its value.
    scrollAxis(orientation, code, bar->sliderPosition());
}

void ImageView::scrollContentsBy(int, int)
{
    // Scrolling is done by scrollAxis; the bars' value changes need nothing.
}

void ImageView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRanges();
}

void ImageView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QRect area = event->rect();
    painter.fillRect(area, backgroundColor());
    if (!image_)
        return;

    const ImageRecord& record = *image_;
    const int bitCount = record.header.biBitCount;
    if (!record.pixels || (bitCount != 8 && bitCount != 24))
        return;
    const int64_t width = record.header.biWidth;
    const int64_t height = record.rowCount;
    if (width <= 0 || height <= 0)
        return;

    // Only the picture part under the area to repaint is handed to Qt, so a
    // huge picture costs no more than the pane shows. The first column is
    // rounded down to a multiple of 4 so that the view starts on an aligned
    // address (row starts are 4-byte aligned).
    int64_t x0 = std::max<int64_t>(0, int64_t{scrollX_} + area.x());
    const int64_t x1 = std::min<int64_t>(width, int64_t{scrollX_} + area.x() + area.width());
    const int64_t y0 = std::max<int64_t>(0, int64_t{scrollY_} + area.y());
    const int64_t y1 = std::min<int64_t>(height, int64_t{scrollY_} + area.y() + area.height());
    if (x0 >= x1 || y0 >= y1)
        return;
    x0 &= ~int64_t{3};

    const int64_t pitch = recordPitch(record);
    const int64_t bytesPerPixel = bitCount / 8;
    const uchar* first = record.pixels + y0 * pitch + x0 * bytesPerPixel;
    QImage view(first, static_cast<int>(x1 - x0), static_cast<int>(y1 - y0), static_cast<qsizetype>(pitch),
                bitCount == 8 ? QImage::Format_Indexed8 : QImage::Format_BGR888);
    if (view.isNull())
        return;
    if (bitCount == 8)
        view.setColorTable(colorTableOf(record));
    painter.drawImage(QPoint(static_cast<int>(x0 - scrollX_), static_cast<int>(y0 - scrollY_)), view);
}

void ImageView::dragEnterEvent(QDragEnterEvent* event)
{
    // An entering drag is judged as a moving one.
    dragMoveEvent(event);
}

void ImageView::dragMoveEvent(QDragMoveEvent* event)
{
    if (dropCallback_ && !localFilePaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void ImageView::dropEvent(QDropEvent* event)
{
    const QStringList paths = localFilePaths(event->mimeData());
    if (!dropCallback_ || paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // A copy: the callback may replace the pane's callback while it runs.
    const DropCallback callback = dropCallback_;
    callback(paths);
}

}  // namespace morvel
