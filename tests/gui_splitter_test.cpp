// The splitter bar: proportional layout and dragging with real mouse events.
// Runs on the offscreen platform.
#include <QMouseEvent>
#include <QRubberBand>
#include <QSignalSpy>
#include <QTest>

#include "view/splitter.h"

using morvel::Splitter;

namespace {

// A parent holding two panes and the bar. Laid out like the main window
// does it, the area ends 5 pixels before the parent's right edge.
struct Fixture {
    Fixture()
    {
        parent.resize(1055, 600);
        left = new QWidget(&parent);
        right = new QWidget(&parent);
        bar = new Splitter(&parent);
        bar->leftPane = left;
        bar->rightPane = right;
        parent.show();
        bar->layout(area);
    }
    const QRect area{50, 30, 1000, 500};
    QWidget parent;
    QWidget* left = nullptr;
    QWidget* right = nullptr;
    Splitter* bar = nullptr;
};

int rightOf(const QWidget* w)
{
    return w->x() + w->width();
}

void dragBar(Splitter* bar, QPoint press, QPoint release)
{
    QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, press);
    QTest::mouseMove(bar, (press + release) / 2);
    QTest::mouseMove(bar, release);
    QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, release);
}

}  // namespace

class SplitterTest : public QObject {
    Q_OBJECT

private slots:
    void layoutSplitsByRoundedProportion();
    void dragIsClampedAndMovesOnRelease();
    void dragStoresProportionForNextLayout();
    void clickWithoutMoveShiftsByClickX();
    void movesWithoutPressChangeNothing();
};

void SplitterTest::layoutSplitsByRoundedProportion()
{
    Fixture f;
    QCOMPARE(f.bar->cursor().shape(), Qt::SizeHorCursor);
    QCOMPARE(f.left->geometry(), QRect(50, 30, 491, 500));
    QCOMPARE(f.bar->geometry(), QRect(542, 30, 8, 500));
    QCOMPARE(f.right->geometry(), QRect(551, 30, 499, 500));

    // (999 * 492 + 500) / 1000 = 492.
    f.bar->layout(QRect(0, 0, 999, 400));
    QCOMPARE(f.bar->x(), 492);
    QCOMPARE(f.left->width(), 491);
    QCOMPARE(f.right->geometry(), QRect(501, 0, 498, 400));

    // Too narrow: s = 0; the bar sits at the left edge and the panes get
    // whatever sizes the arithmetic gives.
    f.bar->layout(QRect(20, 10, 1, 50));
    QCOMPARE(f.bar->geometry(), QRect(20, 10, 8, 50));
    QCOMPARE(f.right->x(), 29);
    QVERIFY(f.left->width() <= 0 && f.right->width() <= 0);
}

void SplitterTest::dragIsClampedAndMovesOnRelease()
{
    Fixture f;
    f.bar->minLeft = 53;
    QSignalSpy changed(f.bar, &Splitter::splitChanged);
    auto* band = f.parent.findChild<QRubberBand*>();
    QVERIFY(band);

    QTest::mousePress(f.bar, Qt::LeftButton, Qt::NoModifier, QPoint(3, 10));
    QTest::mouseMove(f.bar, QPoint(-900, 10));
    // Feedback at the clamped place; nothing has moved yet.
    QVERIFY(f.bar->isDragBarShown());
    QCOMPARE(f.bar->dragBarX(), 53 - 542);
    QVERIFY(band->isVisible());
    QCOMPARE(band->x(), 53);
    QCOMPARE(f.bar->x(), 542);
    QCOMPARE(changed.count(), 0);

    QTest::mouseRelease(f.bar, Qt::LeftButton, Qt::NoModifier, QPoint(-900, 10));
    QVERIFY(!f.bar->isTracking());
    QVERIFY(!band->isVisible());
    QCOMPARE(f.bar->geometry(), QRect(53, 30, 8, 500));
    QCOMPARE(f.left->geometry(), QRect(50, 30, 2, 500));  // both gaps kept
    QCOMPARE(f.right->geometry(), QRect(62, 30, 988, 500));
    QCOMPARE(f.bar->splitNum, 3);
    QCOMPARE(f.bar->splitDen, 1000);
    QCOMPARE(changed.count(), 1);

    // Past the right limit: parent width - 16.
    dragBar(f.bar, QPoint(4, 50), QPoint(5000, 50));
    QCOMPARE(f.bar->x(), 1055 - 16);
    QCOMPARE(rightOf(f.left), 1038);
    QCOMPARE(f.right->geometry(), QRect(1048, 30, 2, 500));
    QCOMPARE(f.bar->splitNum, 989);
    QCOMPARE(f.bar->splitDen, 1000);
    QCOMPARE(changed.count(), 2);
}

void SplitterTest::dragStoresProportionForNextLayout()
{
    Fixture f;
    const QRect area(40, 20, 999, 500);
    f.bar->layout(area);
    const int t = 300;
    // Grabbed near the bar's right edge: the grab point plays no part, the
    // bar's left edge lands on the release point.
    dragBar(f.bar, QPoint(6, 60), f.bar->mapFromParent(QPoint(area.x() + t, 60)));
    QCOMPARE(f.bar->x(), area.x() + t);
    QCOMPARE(f.bar->splitNum, t);
    QCOMPARE(f.bar->splitDen, 999);

    const QRect leftBefore = f.left->geometry();
    const QRect rightBefore = f.right->geometry();
    f.bar->layout(area);
    QCOMPARE(f.bar->x(), area.x() + t);
    QCOMPARE(f.left->geometry(), leftBefore);
    QCOMPARE(f.right->geometry(), rightBefore);
}

void SplitterTest::clickWithoutMoveShiftsByClickX()
{
    Fixture f;
    QSignalSpy changed(f.bar, &Splitter::splitChanged);
    QTest::mouseClick(f.bar, Qt::LeftButton, Qt::NoModifier, QPoint(5, 100));
    QCOMPARE(f.bar->x(), 547);
    QCOMPARE(f.left->width(), 496);
    QCOMPARE(f.right->x(), 556);
    QCOMPARE(f.bar->splitNum, 497);
    QCOMPARE(changed.count(), 1);

    // Other buttons do not drag.
    QTest::mouseClick(f.bar, Qt::RightButton, Qt::NoModifier, QPoint(5, 100));
    QCOMPARE(f.bar->x(), 547);
    QCOMPARE(changed.count(), 1);
}

void SplitterTest::movesWithoutPressChangeNothing()
{
    Fixture f;
    QSignalSpy changed(f.bar, &Splitter::splitChanged);
    const auto send = [&f](QEvent::Type type, QPointF pos, Qt::MouseButton button) {
        QMouseEvent event(type, pos, f.bar->mapToGlobal(pos), button, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(f.bar, &event);
    };
    send(QEvent::MouseMove, QPointF(-200, 10), Qt::NoButton);
    QVERIFY(!f.bar->isDragBarShown());
    QVERIFY(!f.parent.findChild<QRubberBand*>()->isVisible());
    // A release without a press is not a drag either.
    send(QEvent::MouseButtonRelease, QPointF(4, 10), Qt::LeftButton);
    QCOMPARE(f.bar->x(), 542);
    QCOMPARE(f.left->width(), 491);
    QCOMPARE(f.bar->splitNum, 492);
    QCOMPARE(changed.count(), 0);
}

QTEST_MAIN(SplitterTest)
#include "gui_splitter_test.moc"
