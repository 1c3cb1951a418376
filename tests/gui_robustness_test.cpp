// The window under abuse: files that hold no picture (damaged, empty, a
// directory, gone by the time they are read, a named pipe), Generate with
// nothing to generate from, many blurs, the splitter dragged to its limits and
// the window squeezed to one pixel. Nothing may crash, hang or change state
// that the user did not ask to change.
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QFile>
#include <QImage>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/level_slider.h"
#include "app/text_image_app.h"
#include "gui_test_support.h"
#include "view/image_view.h"
#include "view/splitter.h"

using namespace morvel;

namespace {

std::vector<uint8_t> pixelsOf(const ImageRecord* image)
{
    std::vector<uint8_t> out;
    if (image == nullptr)
        return out;
    for (int y = 0; y < image->rowCount; ++y)
        out.insert(out.end(), image->rows[y], image->rows[y] + image->header.biWidth);
    return out;
}

// What a failed load must leave alone.
struct State {
    const ImageRecord* working = nullptr;
    std::vector<uint8_t> workingPixels;
    const ImageRecord* atlas = nullptr;
    std::vector<uint8_t> atlasPixels;
    int blurCount = 0;
    int sliderMaximum = 0;
    MatchMode mode = MatchMode::Correlation;
    QString text;

    explicit State(TextImageApp& app)
        : working(app.engine().workingImage()), workingPixels(pixelsOf(working)), atlas(app.engine().glyphAtlas()),
          atlasPixels(pixelsOf(atlas)), blurCount(app.engine().blurCount()), sliderMaximum(app.slider()->maximum()),
          mode(app.engine().matchMode()), text(app.textBox()->toPlainText())
    {}
};

void checkUnchanged(TextImageApp& app, const State& before)
{
    QCOMPARE(app.engine().workingImage(), before.working);
    QCOMPARE(pixelsOf(app.engine().workingImage()), before.workingPixels);
    QCOMPARE(app.imagePane()->image(), before.working);
    QCOMPARE(app.engine().glyphAtlas(), before.atlas);
    QCOMPARE(pixelsOf(app.engine().glyphAtlas()), before.atlasPixels);
    QCOMPARE(app.atlasPane()->image(), before.atlas);
    QCOMPARE(app.engine().blurCount(), before.blurCount);
    QCOMPARE(app.slider()->maximum(), before.sliderMaximum);
    QCOMPARE(app.engine().matchMode(), before.mode);
    QCOMPARE(app.textBox()->toPlainText(), before.text);
}

// Geometry of every widget in the window, in a fixed order.
QList<QRect> childGeometries(QWidget* window)
{
    QList<QRect> out;
    for (QWidget* child : window->findChildren<QWidget*>())
        out.append(child->geometry());
    return out;
}

// A real drag of the splitter bar: press in the middle of the bar, move in
// steps to `toParentX` (in the window's coordinates), release there.
void dragSplitterTo(Splitter* bar, int toParentX)
{
    const QPoint press(bar->width() / 2, bar->height() / 2);
    const QPoint release(toParentX - bar->x(), press.y());
    QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, press);
    for (int step = 1; step <= 4; ++step) {
        const QPointF at(press + (release - press) * step / 4);
        QMouseEvent move(QEvent::MouseMove, at, bar->mapToGlobal(at), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(bar, &move);
    }
    QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, release);
}

int rightOf(const QWidget* w)
{
    return w->x() + w->width();
}

}  // namespace

class GuiRobustnessTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void filesWithoutPictureKeepThePreviousOne_data();
    void filesWithoutPictureKeepThePreviousOne();
    void fileDeletedBetweenChoosingAndLoading();
    void namedPipeDoesNotHang();
    void generateWithNothingToGenerateFrom();
    void fiftyBlurs();
    void pasteWithoutTextIsIgnored();
    void splitterDraggedToBothLimits();
    void squeezedToOnePixelAndBack();
    void splitterDraggedWhileTooNarrow();

private:
    QString writeJpeg(const QString& name, int width, int height);
    QString writeBytes(const QString& name, const QByteArray& bytes);
    QTemporaryDir dir_;
};

void GuiRobustnessTest::initTestCase()
{
    QVERIFY(dir_.isValid());
}

QString GuiRobustnessTest::writeJpeg(const QString& name, int width, int height)
{
    QImage image(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.scanLine(y)[x] = static_cast<uchar>(40 + (x * 7 + y * 3) % 200);
    const QString path = dir_.filePath(name);
    return image.save(path, "JPG", 90) ? path : QString();
}

QString GuiRobustnessTest::writeBytes(const QString& name, const QByteArray& bytes)
{
    const QString path = dir_.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

void GuiRobustnessTest::filesWithoutPictureKeepThePreviousOne_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");  // a directory when null

    // Damaged copies of pictures the loaders otherwise read.
    QByteArray jpeg;
    {
        QImage image(64, 48, QImage::Format_Grayscale8);
        image.fill(128);
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPG");
    }
    QByteArray png;
    {
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
    }
    // One byte of the compressed pixels changed: the chunk's checksum no
    // longer matches.
    QByteArray badCrc = png;
    const qsizetype idat = badCrc.indexOf("IDAT");
    QVERIFY(idat > 0 && idat + 8 < badCrc.size());
    badCrc[idat + 6] = static_cast<char>(badCrc[idat + 6] ^ 0x55);
    QTest::newRow("JPEG cut in half") << QStringLiteral("half.jpg") << jpeg.left(jpeg.size() / 2);
    QTest::newRow("JPEG header only") << QStringLiteral("head.jpg") << jpeg.left(20);
    QTest::newRow("PNG with a bad checksum") << QStringLiteral("crc.png") << badCrc;
    QTest::newRow("PNG cut short") << QStringLiteral("short.png") << png.left(png.size() - 30);
    QTest::newRow("GIF header only") << QStringLiteral("bare.gif") << QByteArray("GIF89a\x10\x00\x10\x00", 10);
    QTest::newRow("0-byte file") << QStringLiteral("empty.jpg") << QByteArray("");
    QTest::newRow("text") << QStringLiteral("notes.gif") << QByteArray("just some words\n");
    QTest::newRow("directory") << QStringLiteral("folder.jpg") << QByteArray();
}

void GuiRobustnessTest::filesWithoutPictureKeepThePreviousOne()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QString path;
    if (bytes.isNull()) {
        path = dir_.filePath(name);
        QVERIFY(QDir().mkpath(path));
    } else {
        path = writeBytes(name, bytes);
        QVERIFY(!path.isEmpty());
    }

    Window w;
    TextImageApp& app = w.app;
    app.dropFiles({writeJpeg(QStringLiteral("good.jpg"), 120, 90)});
    QVERIFY(app.engine().workingImage() != nullptr);
    app.slider()->setValue(7);
    app.finishSliderInteraction();
    app.action(ID_TOGGLE_MATCH)->trigger();  // minimize difference
    app.action(ID_BLUR_FONT)->trigger();
    app.action(ID_GENERATE)->trigger();
    const State before(app);

    w.dialogs->files.push_back(path);
    app.action(ID_OPEN_IMAGE)->trigger();

    checkUnchanged(app, before);
    // The title and the slider stay; the status says why there is no
    // picture.
    QCOMPARE(app.mainWindow()->windowTitle(), QStringLiteral("good.jpg - Morvel"));
    const QString status = app.statusPartText(0);
    const QStringList reasons = {QStringLiteral("damaged JPEG data (Premature end of JPEG file)"),
                                 QStringLiteral("damaged PNG data"), QStringLiteral("damaged GIF data"),
                                 QStringLiteral("not a GIF, JPEG, PNG, WebP, HEIC, AVIF, TIFF or BMP file"), QStringLiteral("Is a directory")};
    QVERIFY2(reasons.contains(status), qPrintable(status));
    QCOMPARE(app.slider()->value(), 7);

    // The slider still works on the picture that stays, and Generate names it.
    app.slider()->setValue(3);
    app.finishSliderInteraction();
    QVERIFY(app.engine().workingImage() != nullptr);
    app.action(ID_GENERATE)->trigger();
    QVERIFY(app.engine().outputText().find("good.jpg\r\n") != std::string::npos);
    QVERIFY(app.engine().outputText().find("Black Level 3)") != std::string::npos);
    QCOMPARE(app.textBox()->toPlainText(), asShown(app.engine().outputText()));

    // A good picture afterwards loads as usual.
    app.dropFiles({writeJpeg(QStringLiteral("after.jpg"), 60, 50)});
    QVERIFY(app.engine().workingImage() != nullptr);
    QCOMPARE(app.statusPartText(0), QStringLiteral("after.jpg (60 x 50)"));
}

void GuiRobustnessTest::fileDeletedBetweenChoosingAndLoading()
{
    Window w;
    TextImageApp& app = w.app;
    app.dropFiles({writeJpeg(QStringLiteral("kept.jpg"), 100, 80)});
    const State before(app);

    const QString doomed = writeJpeg(QStringLiteral("doomed.jpg"), 70, 70);
    QVERIFY(!doomed.isEmpty());
    w.dialogs->files.push_back(doomed);
    w.dialogs->beforeAnswer = [](const QString& chosen) { QFile::remove(chosen); };
    app.action(ID_OPEN_IMAGE)->trigger();

    QVERIFY(!QFile::exists(doomed));
    QCOMPARE(app.imagePath(), doomed);
    checkUnchanged(app, before);
    QCOMPARE(app.mainWindow()->windowTitle(), QStringLiteral("kept.jpg - Morvel"));
    QCOMPARE(app.statusPartText(0), QStringLiteral("No such file or directory"));

    // The same through the two steps the command is made of.
    const QString second = writeJpeg(QStringLiteral("second.jpg"), 30, 30);
    w.dialogs->beforeAnswer = nullptr;
    w.dialogs->files.push_back(second);
    QVERIFY(app.chooseImageFile());
    QVERIFY(QFile::remove(second));
    app.loadImage();
    checkUnchanged(app, before);
    QCOMPARE(app.statusPartText(0), QStringLiteral("No such file or directory"));
}

void GuiRobustnessTest::namedPipeDoesNotHang()
{
    // Opening a pipe for reading waits for a writer; the window must not.
    const QString path = dir_.filePath(QStringLiteral("pipe.gif"));
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    Window w;
    TextImageApp& app = w.app;
    app.dropFiles({writeJpeg(QStringLiteral("still here.jpg"), 40, 40)});
    const State before(app);
    // Should a reader block on the pipe, a writer turns up after two seconds
    // and closes it at once, so the test fails instead of hanging.
    std::atomic<bool> done{false};
    std::thread rescuer([&done, name = QFile::encodeName(path)] {
        for (int tick = 0; !done; ++tick) {
            if (tick >= 40) {
                const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0)
                    ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    QElapsedTimer clock;
    clock.start();
    app.dropFiles({path});
    const qint64 elapsed = clock.elapsed();
    done = true;
    rescuer.join();
    QVERIFY2(elapsed < 2000, "loading a named pipe waited for a writer");
    checkUnchanged(app, before);
    QCOMPARE(app.statusPartText(0), QStringLiteral("not a regular file"));
}

void GuiRobustnessTest::generateWithNothingToGenerateFrom()
{
    Window w;
    TextImageApp& app = w.app;
    // Nothing loaded yet, then a first load that fails: the box keeps what
    // it shows, no footer, no width; the status bar says what is missing.
    const QString help = app.textBox()->toPlainText();
    for (int run = 0; run < 2; ++run) {
        app.action(ID_GENERATE)->trigger();
        QCOMPARE(app.textBox()->toPlainText(), help);
        QVERIFY(app.engine().outputText().empty());
        QCOMPARE(app.statusPartText(2), QString());
        QCOMPARE(app.statusPartText(0), QStringLiteral("Load a picture first"));
        QVERIFY(QApplication::overrideCursor() == nullptr);
        app.dropFiles({dir_.filePath(QStringLiteral("never there.gif"))});
    }
    QVERIFY(app.engine().workingImage() == nullptr);
    QVERIFY(app.imagePane()->image() == nullptr);
    // Typed text stays as well.
    app.textBox()->setPlainText(QStringLiteral("typed"));
    app.action(ID_GENERATE)->trigger();
    QCOMPARE(app.textBox()->toPlainText(), QStringLiteral("typed"));
}

void GuiRobustnessTest::pasteWithoutTextIsIgnored()
{
    Window w;
    TextImageApp& app = w.app;
    QApplication::clipboard()->clear(QClipboard::Selection);
    QApplication::clipboard()->clear(QClipboard::Clipboard);
    const QString before = app.textBox()->toPlainText();
    const QPoint inside = app.textBox()->viewport()->rect().center();
    QTest::mouseClick(app.textBox()->viewport(), Qt::MiddleButton, Qt::NoModifier, inside);
    QCOMPARE(app.textBox()->toPlainText(), before);

    // Data without text, dropped or pasted, changes nothing either.
    QMimeData image;
    image.setImageData(QImage(4, 4, QImage::Format_RGB32));
    QMimeData nothing;
    for (const QMimeData* data : {static_cast<const QMimeData*>(&image), static_cast<const QMimeData*>(&nothing)}) {
        QDropEvent drop(QPointF(inside), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(app.textBox()->viewport(), &drop);
    }
    QApplication::clipboard()->setMimeData(new QMimeData);
    app.textBox()->paste();
    QCOMPARE(app.textBox()->toPlainText(), before);
}

void GuiRobustnessTest::fiftyBlurs()
{
    Window w;
    TextImageApp& app = w.app;
    app.dropFiles({writeJpeg(QStringLiteral("blurred.jpg"), 200, 150)});
    const ImageRecord* atlas = app.engine().glyphAtlas();
    const std::vector<GlyphEntry> table = app.engine().glyphTable();
    const int width = atlas->header.biWidth, rows = atlas->rowCount;
    int range = app.slider()->maximum();

    for (int i = 0; i < 50; ++i) {
        app.action(ID_BLUR_FONT)->trigger();
        // The darkest cell only ever gets lighter; the slider follows.
        QVERIFY(app.engine().blackLevelRange() >= range);
        range = app.engine().blackLevelRange();
        QCOMPARE(app.slider()->maximum(), range);
    }
    QCOMPARE(app.engine().blurCount(), 53);
    QCOMPARE(app.statusPartText(1), QStringLiteral("53"));
    QVERIFY(app.showToolHint(ID_BLUR_FONT));
    QCOMPARE(app.statusPartText(0), QStringLiteral("Font blurred 53 times"));

    // Same atlas, same shape, same table: only the pixels softened. Fifty
    // passes smear every glyph towards gray but never to nothing or to full
    // black.
    QCOMPARE(app.engine().glyphAtlas(), atlas);
    QCOMPARE(app.atlasPane()->image(), atlas);
    QCOMPARE(atlas->header.biWidth, width);
    QCOMPARE(atlas->rowCount, rows);
    QCOMPARE(app.engine().glyphTable().size(), table.size());
    const std::vector<uint8_t> pixels = pixelsOf(atlas);
    const auto [lo, hi] = std::minmax_element(pixels.begin(), pixels.end());
    QVERIFY(*lo < *hi);
    QVERIFY(range > 0 && range < 255);
    QVERIFY(app.slider()->value() >= 0 && app.slider()->value() <= range);

    // The slider's whole range is usable and Generate still works.
    app.slider()->setValue(range);
    app.finishSliderInteraction();
    app.action(ID_GENERATE)->trigger();
    QVERIFY(app.engine().outputText().find(QStringLiteral("(Blur 53, Black Level %1)").arg(range).toStdString()) !=
            std::string::npos);
    QCOMPARE(app.textBox()->toPlainText(), asShown(app.engine().outputText()));
}

void GuiRobustnessTest::splitterDraggedToBothLimits()
{
    Window w;
    TextImageApp& app = w.app;
    app.dropFiles({writeJpeg(QStringLiteral("wide.jpg"), 900, 300)});
    Splitter* bar = app.splitter();
    QWidget* window = app.mainWindow();
    const WindowLayout rects = app.currentLayout();
    const int areaLeft = rects.splitterArea.x();
    const int areaRight = areaLeft + rects.splitterArea.width();
    QSignalSpy moved(bar, &Splitter::splitChanged);

    // Far past the left edge of the window: the bar stops at its left limit.
    dragSplitterTo(bar, -500);
    QCOMPARE(moved.count(), 1);
    QCOMPARE(bar->x(), bar->minLeft);
    QCOMPARE(app.imagePane()->x(), areaLeft);
    QCOMPARE(rightOf(app.imagePane()), bar->x() - 1);
    QCOMPARE(app.textBox()->x(), rightOf(bar) + 1);
    QCOMPARE(rightOf(app.textBox()), areaRight);
    QVERIFY(app.imagePane()->width() > 0);

    // Far past the right edge: the bar stops minRight from the window's edge.
    dragSplitterTo(bar, window->width() + 500);
    QCOMPARE(moved.count(), 2);
    QCOMPARE(bar->x(), window->width() - bar->minRight);
    QCOMPARE(rightOf(app.imagePane()), bar->x() - 1);
    QCOMPARE(app.textBox()->x(), rightOf(bar) + 1);
    QCOMPARE(rightOf(app.textBox()), areaRight);
    QVERIFY(app.textBox()->width() > 0);
    QVERIFY(!bar->isDragBarShown());

    // The panes still work at their narrowest: the image pane scrolls, the
    // text box takes a run.
    app.imagePane()->onHScroll(ImageView::ToEnd);
    app.imagePane()->onHScroll(ImageView::PageRight);
    QVERIFY(app.imagePane()->scrollX() <= app.imagePane()->scrollLimitX());
    app.action(ID_GENERATE)->trigger();
    QCOMPARE(app.textBox()->toPlainText(), asShown(app.engine().outputText()));

    // A resize lays the panes out again from the stored proportion, still
    // inside the area.
    window->resize(window->width() - 100, window->height());
    const WindowLayout after = app.currentLayout();
    QCOMPARE(app.imagePane()->x(), after.splitterArea.x());
    QCOMPARE(rightOf(app.textBox()), after.splitterArea.x() + after.splitterArea.width());
    QVERIFY(bar->x() > app.imagePane()->x() && rightOf(bar) < rightOf(app.textBox()));
}

void GuiRobustnessTest::squeezedToOnePixelAndBack()
{
    Window w;
    TextImageApp& app = w.app;
    app.dropFiles({writeJpeg(QStringLiteral("squeeze.jpg"), 1200, 900)});
    app.action(ID_GENERATE)->trigger();
    dragSplitterTo(app.splitter(), app.splitter()->x() + 60);
    app.imagePane()->onHScroll(ImageView::PageRight);
    app.imagePane()->onVScroll(ImageView::PageRight);
    QApplication::processEvents();

    QWidget* window = app.mainWindow();
    const QSize size = window->size();
    const QList<QRect> before = childGeometries(window);
    const int scrollX = app.imagePane()->scrollX(), scrollY = app.imagePane()->scrollY();
    const QString text = app.textBox()->toPlainText();
    QVERIFY(scrollX > 0 && scrollY > 0);

    window->resize(1, 1);
    QApplication::processEvents();
    QCOMPARE(window->size(), QSize(1, 1));
    // Everything still answers at this size.
    app.action(ID_BLUR_FONT)->trigger();
    app.action(ID_GENERATE)->trigger();
    app.imagePane()->onHScroll(ImageView::LineRight);
    app.imagePane()->onVScroll(ImageView::PageLeft);
    app.imagePane()->onVScroll(ImageView::PageRight);
    QTest::qWait(20);

    window->resize(size);
    QApplication::processEvents();
    QCOMPARE(window->size(), size);
    QCOMPARE(childGeometries(window), before);
    QCOMPARE(app.imagePane()->scrollX(), scrollX);
    QCOMPARE(app.imagePane()->scrollY(), scrollY);
    QVERIFY(app.textBox()->toPlainText() != text);  // the run at 1 x 1 has the new blur count
    QCOMPARE(app.textBox()->toPlainText(), asShown(app.engine().outputText()));
}

void GuiRobustnessTest::splitterDraggedWhileTooNarrow()
{
    // So narrow that the right limit lies left of the splitter area: a drag
    // there must not store a proportion that throws the bar out of the area
    // once the window is wide again.
    Window w;
    TextImageApp& app = w.app;
    QWidget* window = app.mainWindow();
    const QSize size = window->size();
    const int areaLeft = app.currentLayout().splitterArea.x();
    for (const int narrow : {areaLeft + 10, areaLeft - 20, 1}) {
        window->resize(narrow, size.height());
        dragSplitterTo(app.splitter(), narrow + 100);
        dragSplitterTo(app.splitter(), -100);
        dragSplitterTo(app.splitter(), narrow + 100);
        window->resize(size);
        const WindowLayout rects = app.currentLayout();
        const int areaRight = rects.splitterArea.x() + rects.splitterArea.width();
        QCOMPARE(app.imagePane()->x(), rects.splitterArea.x());
        QVERIFY(app.splitter()->x() >= rects.splitterArea.x());
        QVERIFY(rightOf(app.splitter()) <= areaRight);
        QCOMPARE(app.textBox()->x(), rightOf(app.splitter()) + 1);
        QCOMPARE(rightOf(app.textBox()), areaRight);
        QVERIFY(app.splitter()->splitNum >= 0 && app.splitter()->splitNum <= app.splitter()->splitDen);
    }
}

QTEST_MAIN(GuiRobustnessTest)
#include "gui_robustness_test.moc"
