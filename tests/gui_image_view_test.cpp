// The image pane: scroll model, clamping, painting through the record's
// colour table and file drops. Runs on the offscreen platform.
#include <QDropEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QUrl>

#include "image/image_record.h"
#include "view/image_view.h"

using morvel::ImageHandle;
using morvel::ImageView;

namespace {

// An 8-bit gray picture whose pixel value encodes its position.
uint8_t patternAt(int x, int y)
{
    return static_cast<uint8_t>((x * 7 + y * 13) & 0xFF);
}

ImageHandle patternImage(int width, int height)
{
    ImageHandle image = morvel::makeGrayImage(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image->rows[y][x] = patternAt(x, y);
    return image;
}

QImage grabViewport(ImageView& view)
{
    return view.viewport()->grab().toImage();
}

QRgb gray(int level)
{
    return qRgb(level, level, level);
}

// A shown pane whose client area is exactly width x height: no frame and no
// scroll bars taking space.
void showFixedClient(ImageView& view, int width, int height)
{
    view.setFrameShape(QFrame::NoFrame);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.resize(width, height);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTRY_COMPARE(view.viewport()->size(), QSize(width, height));
}

}  // namespace

class ImageViewTest : public QObject {
    Q_OBJECT

private slots:
    void limitsFollowPictureAndClient();
    void scrollBarsShrinkingTheClientAreCountedIn();
    void positionsClampedWhenThePaneGrows();
    void lineStepsPagesAndThumbs();
    void scrollBarActionsGoThroughTheModel();
    void paintsThroughCachedColourTableOnGray();
    void paintsTwentyFourBitAsBgr();
    void dropsHandLocalPathsOnlyWithCallback();
};

void ImageViewTest::limitsFollowPictureAndClient()
{
    ImageView view;
    showFixedClient(view, 200, 150);
    ImageHandle big = patternImage(500, 400);
    view.setImage(big.get());
    QCOMPARE(view.scrollLimitX(), 300);
    QCOMPARE(view.scrollLimitY(), 250);
    QCOMPARE(view.horizontalScrollBar()->maximum(), 300);
    QCOMPARE(view.horizontalScrollBar()->pageStep(), 200);

    // No picture: the scroll state stays exactly as it was, also on resize.
    view.onHScroll(ImageView::ThumbPosition, 250);
    view.onVScroll(ImageView::ThumbPosition, 60);
    view.setImage(nullptr);
    view.resize(1000, 900);
    QTRY_COMPARE(view.viewport()->width(), 1000);
    QCOMPARE(view.scrollX(), 250);
    QCOMPARE(view.scrollY(), 60);
    QCOMPARE(view.scrollLimitX(), 300);
    QCOMPARE(view.horizontalScrollBar()->value(), 250);
    QCOMPARE(grabViewport(view).pixel(999, 899), gray(128));

    // A picture smaller than the client: limits and positions drop to 0.
    ImageHandle small = patternImage(100, 80);
    view.setImage(small.get());
    QCOMPARE(view.scrollLimitX(), 0);
    QCOMPARE(view.scrollLimitY(), 0);
    QCOMPARE(view.scrollX(), 0);
    QCOMPARE(view.scrollY(), 0);
    QCOMPARE(view.horizontalScrollBar()->value(), 0);
}

void ImageViewTest::scrollBarsShrinkingTheClientAreCountedIn()
{
    // As wide as the bare client but much taller: the vertical bar appears,
    // the client narrows, and the horizontal limit follows the new width.
    ImageView view;
    view.resize(220, 160);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const int bareWidth = view.viewport()->width();
    ImageHandle tall = patternImage(bareWidth, 1000);
    view.setImage(tall.get());
    QTRY_VERIFY(view.viewport()->width() < bareWidth);
    QTRY_COMPARE(view.scrollLimitX(), bareWidth - view.viewport()->width());
    QTRY_COMPARE(view.scrollLimitY(), 1000 - view.viewport()->height());
}

void ImageViewTest::positionsClampedWhenThePaneGrows()
{
    ImageView view;
    showFixedClient(view, 200, 150);
    ImageHandle image = patternImage(500, 400);
    view.setImage(image.get());
    view.onHScroll(ImageView::ThumbPosition, 300);
    view.onVScroll(ImageView::ThumbPosition, 250);

    view.resize(400, 150);
    QTRY_COMPARE(view.viewport()->width(), 400);
    QCOMPARE(view.scrollLimitX(), 100);
    QCOMPARE(view.scrollX(), 100);
    QCOMPARE(view.scrollY(), 250);
    QCOMPARE(view.horizontalScrollBar()->value(), 100);
    // The whole area shows the picture at the new position.
    const QImage shot = grabViewport(view);
    QCOMPARE(shot.pixel(0, 0), gray(patternAt(100, 250)));
    QCOMPARE(shot.pixel(399, 149), gray(patternAt(499, 399)));
}

void ImageViewTest::lineStepsPagesAndThumbs()
{
    ImageView view;
    showFixedClient(view, 200, 150);
    ImageHandle image = patternImage(500, 400);
    view.setImage(image.get());

    // Horizontal: line 200 / 8 = 25, page 200, limit 300.
    const struct {
        ImageView::ScrollCode code;
        int expected;
    } steps[] = {{ImageView::LineLeft, 0},    {ImageView::LineRight, 25},  {ImageView::PageRight, 225},
                 {ImageView::PageRight, 300}, {ImageView::LineRight, 300}, {ImageView::PageLeft, 100},
                 {ImageView::LineLeft, 75},   {ImageView::ToEnd, 75},      {ImageView::PageLeft, 0}};
    for (const auto& step : steps) {
        view.onHScroll(step.code);
        QCOMPARE(view.scrollX(), step.expected);
        QCOMPARE(view.horizontalScrollBar()->value(), step.expected);
    }
    // Vertical: line 150 / 8 = 18.
    view.onVScroll(ImageView::LineRight);
    QCOMPARE(view.scrollY(), 18);
    QCOMPARE(grabViewport(view).pixel(10, 20), gray(patternAt(10, 38)));

    // Thumb positions are used as they come, past the limit too.
    view.onHScroll(ImageView::ThumbPosition, 301);
    QCOMPARE(view.scrollX(), 301);
    view.onHScroll(ImageView::ThumbTrack, 65535);
    QCOMPARE(view.scrollX(), 65535);
    for (const auto code : {ImageView::ToStart, ImageView::ToEnd, ImageView::EndScroll}) {
        view.onHScroll(code, 5);
        QCOMPARE(view.scrollX(), 65535);
    }

    // A client narrower than 8 pixels has no line step.
    view.onHScroll(ImageView::ThumbPosition, 0);
    view.resize(7, 150);
    QTRY_COMPARE(view.viewport()->width(), 7);
    view.onHScroll(ImageView::LineRight);
    QCOMPARE(view.scrollX(), 0);
    view.onHScroll(ImageView::PageRight);
    QCOMPARE(view.scrollX(), 7);
}

void ImageViewTest::scrollBarActionsGoThroughTheModel()
{
    ImageView view;
    view.setFrameShape(QFrame::NoFrame);
    view.resize(200, 150);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    ImageHandle image = patternImage(500, 400);
    view.setImage(image.get());
    QScrollBar* bar = view.horizontalScrollBar();
    const int line = view.viewport()->width() / 8;

    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(view.scrollX(), line);
    bar->triggerAction(QAbstractSlider::SliderToMaximum);  // not a model move
    QCOMPARE(view.scrollX(), line);
    QCOMPARE(bar->value(), line);
    bar->setSliderPosition(17);  // dragging the thumb
    QCOMPARE(view.scrollX(), 17);
    view.verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(view.scrollY(), view.viewport()->height());
}

void ImageViewTest::paintsThroughCachedColourTableOnGray()
{
    ImageView view;
    showFixedClient(view, 200, 150);
    // Odd width: the rows carry fill bytes, so a wrong pitch shows.
    ImageHandle image = patternImage(63, 40);
    view.setImage(image.get());
    QImage shot = grabViewport(view);
    QCOMPARE(shot.pixel(0, 0), gray(patternAt(0, 0)));
    QCOMPARE(shot.pixel(62, 39), gray(patternAt(62, 39)));
    QCOMPARE(shot.pixel(63, 0), gray(128));
    QCOMPARE(shot.pixel(0, 40), gray(128));

    // The table is cached in the record on the first paint and reused; the
    // sanitizer build reports a leak unless the record releases it.
    void* const cached = image->palette.data;
    QVERIFY(cached != nullptr);
    view.refresh();
    grabViewport(view);
    QCOMPARE(image->palette.data, cached);
    QCOMPARE(image->rows[39][62], patternAt(62, 39));

    // The colour table decides the colour; its entries are blue, green, red.
    ImageHandle tinted(morvel::copyImageRecord(image.get()));
    for (int i = 0; i < 256; ++i)
        tinted->colors[i] = {10, static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i), 0};
    tinted->rows[0][0] = 200;
    view.setImage(tinted.get());
    QCOMPARE(grabViewport(view).pixel(0, 0), qRgb(200, 55, 10));
    view.setImage(nullptr);
}

void ImageViewTest::paintsTwentyFourBitAsBgr()
{
    ImageView view;
    showFixedClient(view, 100, 100);
    ImageHandle image(morvel::createImageRecord());
    QVERIFY(morvel::shapeImageRecord(image.get(), 5, 3, 24));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            uint8_t* p = image->rows[y] + x * 3;
            p[0] = static_cast<uint8_t>(10 + x);
            p[1] = static_cast<uint8_t>(100 + y);
            p[2] = 250;
        }
    view.setImage(image.get());
    const QImage shot = grabViewport(view);
    QCOMPARE(shot.pixel(4, 2), qRgb(250, 102, 14));
    QCOMPARE(shot.pixel(5, 0), gray(128));
    QVERIFY(image->palette.data == nullptr);
    view.setImage(nullptr);
}

void ImageViewTest::dropsHandLocalPathsOnlyWithCallback()
{
    ImageView view;
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile("/tmp/first.gif"), QUrl("https://example.com/x.gif"),
                  QUrl::fromLocalFile("/tmp/second.jpg"), QUrl::fromLocalFile("/tmp/third.gif")});
    const auto drop = [&view](const QMimeData& data) {
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &enter);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &event);
        return enter.isAccepted() && event.isAccepted();
    };

    // No callback: drops are refused.
    QVERIFY(!view.viewport()->acceptDrops());
    QVERIFY(!drop(mime));

    QList<QStringList> received;
    view.setDropCallback([&received](const QStringList& paths) { received.append(paths); });
    QVERIFY(view.viewport()->acceptDrops());
    QVERIFY(drop(mime));
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first(), (QStringList{"/tmp/first.gif", "/tmp/second.jpg", "/tmp/third.gif"}));

    // Nothing local in the drop: refused.
    QMimeData web;
    web.setUrls({QUrl("https://example.com/x.gif")});
    QVERIFY(!drop(web));
    QCOMPARE(received.size(), 1);

    view.setDropCallback(nullptr);
    QVERIFY(!view.viewport()->acceptDrops());
    QVERIFY(!drop(mime));
}

QTEST_MAIN(ImageViewTest)
#include "gui_image_view_test.moc"
