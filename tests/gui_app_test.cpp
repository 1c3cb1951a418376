// The main window driven as a user would: toolbar actions, hovering the
// buttons, drops on the image pane, the slider with mouse and keys, and the
// window arithmetic on its own.
#include <QAction>
#include <QCheckBox>
#include <QDropEvent>
#include <QEnterEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHelpEvent>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QUrl>
#include <QtTest>
#include <deque>
#include <map>
#include <sys/stat.h>

#include "app/command_line.h"
#include "app/control_strip.h"
#include "app/level_slider.h"
#include "app/text_image_app.h"
#include "app/toolbar_images.h"
#include "app/window_layout.h"
#include "gui_test_support.h"
#include "platform/font.h"
#include "view/image_view.h"
#include "view/splitter.h"

using namespace morvel;

namespace {

void hover(TextImageApp& app, int id)
{
    QWidget* button = app.toolbar()->widgetForAction(app.action(id));
    QVERIFY(button != nullptr);
    const QPointF inside(button->width() / 2.0, button->height() / 2.0);
    QEnterEvent enter(inside, button->mapTo(button->window(), inside), button->mapToGlobal(inside));
    QApplication::sendEvent(button, &enter);
}

// The face the window's font is drawn in: the installed face standing in
// for "Lucida Console" where that is not installed.
QString drawnFace(TextImageApp& app)
{
    const Font* font = app.engine().font();
    return font != nullptr ? QString::fromStdString(font->faceUsed()) : QString();
}

// Status parts end at 300, 335 and the window's right edge.
void checkStatusParts(TextImageApp& app)
{
    const QLabel* labels[3] = {app.statusPartLabel(0), app.statusPartLabel(1), app.statusPartLabel(2)};
    for (const QLabel* label : labels)
        QVERIFY(label != nullptr && label->parentWidget() == app.statusBar());
    QCOMPARE(labels[0]->geometry(), QRect(0, 0, 300, app.statusBar()->height()));
    QCOMPARE(labels[1]->geometry(), QRect(300, 0, 35, app.statusBar()->height()));
    QCOMPARE(labels[2]->x(), 335);
    QCOMPARE(labels[2]->x() + labels[2]->width(), app.mainWindow()->width());
}

// The darkest pixel of a picture.
int lowestLevel(const ImageRecord& image)
{
    uint8_t lowest = 255;
    for (int y = 0; y < image.rowCount; ++y)
        for (int x = 0; x < image.header.biWidth; ++x)
            lowest = std::min(lowest, image.rows[y][x]);
    return lowest;
}

}  // namespace

struct PaintCounter : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

class GuiAppTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void layoutArithmetic();
    void windowSizeFromWorkArea();
    void fontDescriptionFromDialogFont();

    void startUpState();
    void toolbarHasFiveImageButtonsWithoutTips();
    void hintsOnHover();
    void openCommandLoadsChosenFile();
    void dropOfThreeFilesLoadsFirst();
    void fileDropAnywhereLoads_data();
    void fileDropAnywhereLoads();
    void pngPictureLoadsLikeTheOthers();
    void openDialogOffersPng();
    void unreadableFileKeepsPreviousPicture();
    void unreadableFirstFileLeavesPaneEmpty();
    void fontCommand();
    void textBoxAdvancesAreTheAtlasWidths_data();
    void textBoxAdvancesAreTheAtlasWidths();
    void cancelledFontDialogChangesNothing();
    void blurCommand();
    void toggleBackToCorrelationResetsSlider();
    void sliderDragAppliesOnceOnRelease();
    void sliderKeyApplies();
    void generateFillsTextBox();
    void generateWithoutPictureKeepsTextBox();
    void resizeGivesExtraWidthToSplitterArea();
    void closingTheWindowEndsTheLoop();
    void keysSaveTextAndOpen();
    void keysGenerateZoomAndMoveFocus();
    void commandLine_data();
    void commandLine();
    void helpAndVersionNeedNoDisplay();
    void pictureNamedOnCommandLineLoads();
    void controlsGiveTheConvertersText_data();
    void controlsGiveTheConvertersText();

private:
    QString writeGrayJpeg(const QString& name, int width, int height);
    QTemporaryDir dir_;
};

void GuiAppTest::initTestCase()
{
    QVERIFY(dir_.isValid());
}

// A JPEG with a horizontal ramp and a dark disc, so that black levels show.
QString GuiAppTest::writeGrayJpeg(const QString& name, int width, int height)
{
    QImage image(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const int dx = x - width / 2, dy = y - height / 2;
            const bool disc = dx * dx + dy * dy < (height / 3) * (height / 3);
            row[x] = static_cast<uchar>(disc ? 20 : 60 + 180 * x / std::max(width - 1, 1));
        }
    }
    const QString path = dir_.filePath(name);
    if (!image.save(path, "JPG", 95))
        return QString();
    return path;
}

void GuiAppTest::layoutArithmetic()
{
    QCOMPARE(atlasPaneWidth(-1), 32);
    QCOMPARE(atlasPaneWidth(3), 32);  // 31 is raised to 32
    QCOMPARE(atlasPaneWidth(4), 33);
    QCOMPARE(atlasPaneWidth(7), 39);

    LayoutInput in;
    in.client = QSize(900, 500);
    in.toolbar = QSize(160, 28);
    in.statusHeight = 20;
    in.maxGlyphWidth = 7;
    const WindowLayout out = computeLayout(in);
    QCOMPARE(out.atlasPane, QRect(5, 5, 39, 475));
    QCOMPARE(out.splitterArea.x(), 54);
    QCOMPARE(out.splitterArea.y(), 28);
    QCOMPARE(out.splitterArea.x() + out.splitterArea.width(), 895);
    QCOMPARE(out.splitterArea.y() + out.splitterArea.height(), 480);
    QCOMPARE(out.minLeft, 57);
    QCOMPARE(out.toolbar, QRect(54, 0, 160, 28));
    QCOMPARE(out.slider, QRect(230, 8, 100, 20));
}

void GuiAppTest::windowSizeFromWorkArea()
{
    QCOMPARE(windowRectForWorkArea(QRect(0, 0, 1024, 768)), QRect(32, 32, 960, 556));
    QCOMPARE(windowRectForWorkArea(QRect(0, 0, 800, 570)), QRect(32, 32, 736, 398));
    // The bottom coordinate is scaled, not the height: a panel above the work
    // area makes the window shorter by more than the panel.
    QCOMPARE(windowRectForWorkArea(QRect(0, 24, 1024, 744)), QRect(32, 56, 960, 532));
}

void GuiAppTest::fontDescriptionFromDialogFont()
{
    LogFont base{};
    base.lfOutPrecision = 3;
    base.lfClipPrecision = 2;
    base.lfQuality = 1;
    setFaceName(base, "Old Face");

    QFont chosen(QStringLiteral("DejaVu Sans Mono"));
    chosen.setPointSize(12);
    chosen.setWeight(QFont::Bold);
    chosen.setItalic(true);
    LogFont d = logFontFromQFont(chosen, base, 96);
    QCOMPARE(d.lfHeight, -16);
    QCOMPARE(d.lfWeight, 700);
    QCOMPARE(int(d.lfItalic), 1);
    QCOMPARE(QString::fromLatin1(d.lfFaceName), QStringLiteral("DejaVu Sans Mono"));
    QCOMPARE(int(d.lfQuality), 1);  // kept from the description the dialog started from
    QCOMPARE(int(d.lfOutPrecision), 3);

    QFont pixels(QStringLiteral("A family name that is much longer than thirty-one characters"));
    pixels.setPixelSize(13);
    d = logFontFromQFont(pixels, base, 96);
    QCOMPARE(d.lfHeight, -13);
    QCOMPARE(d.lfWeight, 400);
    QCOMPARE(int(d.lfItalic), 0);
    QCOMPARE(std::strlen(d.lfFaceName), size_t{31});
}

void GuiAppTest::startUpState()
{
    Window w;
    TextImageApp& app = w.app;
    QCOMPARE(app.mainWindow()->windowTitle(), QStringLiteral("Morvel"));
    QVERIFY(app.mainWindow()->isVisible());
    QCOMPARE(app.statusPartText(0), drawnFace(app) + QStringLiteral(" 9"));
    QCOMPARE(app.statusPartText(1), QStringLiteral("3"));
    QCOMPARE(app.statusPartText(2), QString());
    QCOMPARE(app.engine().blurCount(), 3);
    QCOMPARE(app.engine().matchMode(), MatchMode::Correlation);

    QVERIFY(app.helpText().size() > 1000);
    QVERIFY(app.helpText().find("text art") != std::string::npos);
    QVERIFY(app.helpText().find("GIF, JPEG, PNG, WebP, HEIC, AVIF, TIFF or BMP") != std::string::npos);
    QCOMPARE(app.textBox()->toPlainText(), asShown(app.helpText()));
    QVERIFY(!app.textBox()->isReadOnly());
    QCOMPARE(app.textBox()->lineWrapMode(), QPlainTextEdit::NoWrap);

    QCOMPARE(app.slider()->minimum(), 0);
    QCOMPARE(app.slider()->maximum(), app.engine().blackLevelRange());
    QVERIFY(app.engine().blackLevelRange() > 0 && app.engine().blackLevelRange() < 255);
    QCOMPARE(app.slider()->value(), 0);
    QCOMPARE(app.slider()->pageStep(), 1);

    // Sized from the screen's work area.
    const QRect expected = windowRectForWorkArea(QGuiApplication::primaryScreen()->availableGeometry());
    QCOMPARE(app.mainWindow()->size(), expected.size());

    // Children where the layout puts them, with the real max glyph width.
    QVERIFY(app.engine().maxGlyphWidth() > 0);
    const WindowLayout rects = app.currentLayout();
    QCOMPARE(rects.atlasPane.width(), atlasPaneWidth(app.engine().maxGlyphWidth()));
    QCOMPARE(app.atlasPane()->geometry(), rects.atlasPane);
    QCOMPARE(app.toolbar()->geometry(), rects.toolbar);
    QCOMPARE(app.slider()->geometry(), rects.slider);
    QCOMPARE(app.splitter()->minLeft, rects.minLeft);
    QCOMPARE(app.imagePane()->x(), rects.splitterArea.x());
    const QRect box = app.textBox()->geometry();
    QCOMPARE(box.x() + box.width(), rects.splitterArea.x() + rects.splitterArea.width());
    QCOMPARE(app.atlasPane()->image(), app.engine().glyphAtlas());
    QVERIFY(app.imagePane()->image() == nullptr);

    // The status bar sits at the bottom, the atlas pane reaches down to it.
    const QRect status = app.statusBar()->geometry();
    QCOMPARE(status.y() + status.height(), app.mainWindow()->height());
    QCOMPARE(rects.atlasPane.y() + rects.atlasPane.height(), status.y());
    checkStatusParts(app);

    // The text box shows the very face and pixel size the atlas came from.
    const Font* font = app.engine().font();
    QVERIFY(font != nullptr);
    QCOMPARE(app.textBox()->font().pixelSize(), font->pixelSize());
    QCOMPARE(QFontInfo(app.textBox()->font()).family(), QString::fromStdString(font->faceUsed()));
}

void GuiAppTest::toolbarHasFiveImageButtonsWithoutTips()
{
    Window w;
    const QList<QAction*> actions = w.app.toolbar()->actions();
    QCOMPARE(actions.size(), 5);
    const int ids[] = {ID_OPEN_IMAGE, ID_CHOOSE_FONT, ID_BLUR_FONT, ID_TOGGLE_MATCH, ID_GENERATE};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(actions[i]->data().toInt(), ids[i]);
        QCOMPARE(actions[i], w.app.action(ids[i]));
        QCOMPARE(actions[i]->isCheckable(), ids[i] == ID_TOGGLE_MATCH);
        QVERIFY(!actions[i]->icon().isNull());
        // Every image has ink on a transparent ground.
        const QImage image = toolbarImage(i).toImage();
        QCOMPARE(image.size(), QSize(30, 20));
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        int ink = 0;
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 30; ++x)
                ink += qAlpha(image.pixel(x, y)) > 0;
        QVERIFY(ink > 20);

        // A tool-tip request on a button is swallowed: no popup.
        QWidget* button = w.app.toolbar()->widgetForAction(actions[i]);
        QVERIFY(button != nullptr);
        QCOMPARE(qobject_cast<QToolButton*>(button)->toolButtonStyle(), Qt::ToolButtonIconOnly);
        const QPoint at(button->width() / 2, button->height() / 2);
        QHelpEvent help(QEvent::ToolTip, at, button->mapToGlobal(at));
        QVERIFY(QApplication::sendEvent(button, &help));
        QVERIFY(!QToolTip::isVisible());
    }
}

void GuiAppTest::hintsOnHover()
{
    Window w;
    TextImageApp& app = w.app;
    hover(app, ID_OPEN_IMAGE);
    QCOMPARE(app.statusPartText(0), QStringLiteral("No Image Loaded"));
    hover(app, ID_CHOOSE_FONT);
    QCOMPARE(app.statusPartText(0), QStringLiteral("Font: ") + drawnFace(app) + QStringLiteral(" 9"));
    hover(app, ID_BLUR_FONT);
    QCOMPARE(app.statusPartText(0), QStringLiteral("Font blurred 3 times"));
    hover(app, ID_TOGGLE_MATCH);
    QCOMPARE(app.statusPartText(0), QStringLiteral("Match type: maximize correlation"));
    hover(app, ID_GENERATE);
    QCOMPARE(app.statusPartText(0), QStringLiteral("Generate the text image (F5)"));

    app.action(ID_TOGGLE_MATCH)->trigger();
    hover(app, ID_TOGGLE_MATCH);
    QCOMPARE(app.statusPartText(0), QStringLiteral("Match type: minimize difference"));

    const QString path = writeGrayJpeg(QStringLiteral("cat.jpg"), 320, 200);
    QVERIFY(!path.isEmpty());
    app.dropFiles({path});
    hover(app, ID_GENERATE);
    hover(app, ID_OPEN_IMAGE);
    QCOMPARE(app.statusPartText(0), QStringLiteral("cat.jpg (320 x 200)"));

    // Leaving a button restores nothing; ids that are not commands write nothing.
    QWidget* button = app.toolbar()->widgetForAction(app.action(ID_GENERATE));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    QCOMPARE(app.statusPartText(0), QStringLiteral("cat.jpg (320 x 200)"));
    QVERIFY(!app.showToolHint(50006));
    QCOMPARE(app.statusPartText(0), QStringLiteral("cat.jpg (320 x 200)"));
}

void GuiAppTest::openCommandLoadsChosenFile()
{
    Window w;
    TextImageApp& app = w.app;
    const QString path = writeGrayJpeg(QStringLiteral("open me.jpg"), 120, 90);
    QVERIFY(!path.isEmpty());

    w.dialogs->files.push_back(path);
    app.action(ID_OPEN_IMAGE)->trigger();
    QCOMPARE(w.dialogs->openCalls, 1);
    QCOMPARE(w.dialogs->lastStartPath, QString());
    QCOMPARE(app.imagePath(), path);
    QCOMPARE(app.mainWindow()->windowTitle(), QStringLiteral("open me.jpg - Morvel"));
    QCOMPARE(app.statusPartText(0), QStringLiteral("open me.jpg (120 x 90)"));
    const ImageRecord* working = app.engine().workingImage();
    QVERIFY(working != nullptr);
    QCOMPARE(app.imagePane()->image(), working);
    QCOMPARE(working->header.biWidth, 120);
    QCOMPARE(app.slider()->value(), 0);

    // The next dialog starts at the current file; cancelling changes nothing.
    app.action(ID_OPEN_IMAGE)->trigger();
    QCOMPARE(w.dialogs->openCalls, 2);
    QCOMPARE(w.dialogs->lastStartPath, path);
    QCOMPARE(app.imagePath(), path);
    QCOMPARE(app.engine().workingImage(), working);
    QCOMPARE(app.mainWindow()->windowTitle(), QStringLiteral("open me.jpg - Morvel"));
}

void GuiAppTest::dropOfThreeFilesLoadsFirst()
{
    Window w;
    TextImageApp& app = w.app;
    const QString a = writeGrayJpeg(QStringLiteral("first.jpg"), 64, 40);
    const QString b = writeGrayJpeg(QStringLiteral("second.jpg"), 50, 50);
    const QString c = writeGrayJpeg(QStringLiteral("third.jpg"), 30, 30);

    // A real drop on the image pane.
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(a), QUrl::fromLocalFile(b), QUrl::fromLocalFile(c)});
    QWidget* target = app.imagePane()->viewport();
    const QPointF at(10, 10);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    delete mime;

    QCOMPARE(app.imagePath(), a);
    QCOMPARE(app.mainWindow()->windowTitle(), QStringLiteral("first.jpg - Morvel"));
    QCOMPARE(app.statusPartText(0), QStringLiteral("first.jpg (64 x 40)"));
    QVERIFY(app.imagePane()->image() != nullptr);
    QCOMPARE(app.imagePane()->image()->header.biWidth, 64);
}

void GuiAppTest::fileDropAnywhereLoads_data()
{
    QTest::addColumn<QString>("where");
    for (const char* where : {"text box", "text box scroll bar", "image pane scroll bar", "atlas pane",
                              "toolbar button", "splitter bar", "slider", "status bar", "window"})
        QTest::newRow(where) << QString::fromLatin1(where);
}

// A file dragged over any part of the window goes to the widget Qt picks for
// it (the one under the pointer, or its nearest parent taking drops), and is
// loaded as on the image pane; the text box's text stays as it was.
void GuiAppTest::fileDropAnywhereLoads()
{
    QFETCH(QString, where);
    Window w;
    TextImageApp& app = w.app;
    const QString path = writeGrayJpeg(QStringLiteral("dropped.jpg"), 48, 36);
    const std::map<QString, QWidget*> widgets = {
        {"text box", app.textBox()->viewport()},
        {"text box scroll bar", app.textBox()->verticalScrollBar()},
        {"image pane scroll bar", app.imagePane()->verticalScrollBar()},
        {"atlas pane", app.atlasPane()->viewport()},
        {"toolbar button", app.toolbar()->widgetForAction(app.action(ID_GENERATE))},
        {"splitter bar", app.splitter()},
        {"slider", app.slider()},
        {"status bar", app.statusPartLabel(2)},
        {"window", app.mainWindow()},
    };
    QWidget* target = widgets.at(where);
    while (target != nullptr && !target->acceptDrops() && !target->isWindow())
        target = target->parentWidget();
    QVERIFY(target != nullptr && target->acceptDrops());
    const QString textBefore = app.textBox()->toPlainText();

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    mime.setText(QUrl::fromLocalFile(path).toString());  // file managers offer the name as text too
    QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(app.statusPartText(0), QStringLiteral("dropped.jpg (48 x 36)"));
    QCOMPARE(app.textBox()->toPlainText(), textBefore);

    // Plain text dragged onto the text box is still the box's own business.
    if (where == QLatin1String("text box")) {
        QMimeData words;
        words.setText(QStringLiteral("moved words"));
        QDragEnterEvent textEnter(QPoint(2, 2), Qt::MoveAction, &words, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &textEnter);
        QVERIFY(textEnter.isAccepted());
    }
}

void GuiAppTest::pngPictureLoadsLikeTheOthers()
{
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    if (convert.isEmpty())
        QSKIP("ImageMagick's convert is not installed");
    // A colour PNG made by another program: pure red on the left, pure blue
    // on the right, 8-bit RGB.
    const QString path = dir_.filePath(QStringLiteral("red and blue.png"));
    QProcess make;
    make.start(convert, {QStringLiteral("-size"), QStringLiteral("40x30"), QStringLiteral("xc:red"),
                         QStringLiteral("-size"), QStringLiteral("40x30"), QStringLiteral("xc:blue"),
                         QStringLiteral("+append"), QStringLiteral("PNG24:") + path});
    QVERIFY(make.waitForFinished(30000));
    QCOMPARE(make.exitCode(), 0);

    Window w;
    TextImageApp& app = w.app;
    app.dropFiles({writeGrayJpeg(QStringLiteral("before.jpg"), 50, 40)});
    w.dialogs->files.push_back(path);
    app.action(ID_OPEN_IMAGE)->trigger();

    QCOMPARE(app.mainWindow()->windowTitle(), QStringLiteral("red and blue.png - Morvel"));
    QCOMPARE(app.statusPartText(0), QStringLiteral("red and blue.png (80 x 30)"));
    const ImageRecord* source = app.engine().sourceImage();
    const ImageRecord* working = app.engine().workingImage();
    QVERIFY(source != nullptr && working != nullptr);
    QCOMPARE(app.imagePane()->image(), working);
    // Gray by the JPEG library's luminance for colour: red 76, blue 29; at
    // black level 0 the working image stretches them to 255 and 0.
    QCOMPARE(int(source->rows[0][0]), 76);
    QCOMPARE(int(source->rows[29][79]), 29);
    QCOMPARE(int(working->rows[15][10]), 255);
    QCOMPARE(int(working->rows[15][70]), 0);

    app.action(ID_GENERATE)->trigger();
    QVERIFY(app.engine().outputText().find("red and blue.png\r\n9 Point " + drawnFace(app).toStdString() + "\r\n") !=
            std::string::npos);
    QCOMPARE(app.textBox()->toPlainText(), asShown(app.engine().outputText()));
}

void GuiAppTest::openDialogOffersPng()
{
    QCOMPARE(
        QString::fromLatin1(kImageFileFilter),
        QStringLiteral("Images (*.gif *.jpg *.jpeg *.png *.webp *.heic *.heif *.avif *.tif *.tiff *.bmp);;All (*)"));
    // The toolkit's own dialog, as the program opens it: read its filters
    // once it is up, then cancel it.
    QWidget owner;
    QStringList filters;
    QString selected;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        filters = dialog->nameFilters();
        selected = dialog->selectedNameFilter();
        dialog->reject();
    });
    poll.start(20);
    QTimer::singleShot(10000, [] {
        if (auto* modal = QApplication::activeModalWidget())
            modal->close();
    });
    const std::optional<QString> chosen = makeStandardDialogs()->openImage(&owner, QString());
    poll.stop();
    QVERIFY(!chosen.has_value());
    QCOMPARE(
        filters,
        QStringList({QStringLiteral("Images (*.gif *.jpg *.jpeg *.png *.webp *.heic *.heif *.avif *.tif *.tiff *.bmp)"),
                     QStringLiteral("All (*)")}));
    QCOMPARE(selected, filters.value(0));
}

void GuiAppTest::unreadableFileKeepsPreviousPicture()
{
    Window w;
    TextImageApp& app = w.app;
    const QString good = writeGrayJpeg(QStringLiteral("good.jpg"), 80, 60);
    const QString bad = dir_.filePath(QStringLiteral("bad.gif"));
    {
        QFile file(bad);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("GIF89a but nothing after it");
    }
    app.dropFiles({good});
    const ImageRecord* working = app.engine().workingImage();
    QVERIFY(working != nullptr);

    app.slider()->setValue(5);
    app.finishSliderInteraction();
    const ImageRecord* stretched = app.engine().workingImage();
    app.dropFiles({bad});
    // Nothing changes but the status bar, which says why.
    QCOMPARE(app.engine().workingImage(), stretched);
    QCOMPARE(app.imagePane()->image(), stretched);
    QCOMPARE(app.mainWindow()->windowTitle(), QStringLiteral("good.jpg - Morvel"));
    QCOMPARE(app.statusPartText(0), QStringLiteral("damaged GIF data"));
    QCOMPARE(app.slider()->value(), 5);
    app.action(ID_GENERATE)->trigger();
    QVERIFY(app.engine().outputText().find("good.jpg\r\n") != std::string::npos);
}

void GuiAppTest::unreadableFirstFileLeavesPaneEmpty()
{
    Window w;
    const QString missing = dir_.filePath(QStringLiteral("no such file.jpg"));
    w.app.dropFiles({missing});
    QVERIFY(w.app.imagePane()->image() == nullptr);
    QCOMPARE(w.app.statusPartText(0), QStringLiteral("No such file or directory"));
    QCOMPARE(w.app.mainWindow()->windowTitle(), QStringLiteral("Morvel"));
}

void GuiAppTest::fontCommand()
{
    Window w;
    TextImageApp& app = w.app;
    QFont chosen(QStringLiteral("DejaVu Sans"));
    chosen.setPointSize(14);
    w.dialogs->fonts.push_back(chosen);
    const int rangeBefore = app.slider()->maximum();
    const QString faceBefore = drawnFace(app);

    app.action(ID_CHOOSE_FONT)->trigger();
    QCOMPARE(w.dialogs->fontCalls, 1);
    QCOMPARE(w.dialogs->lastStartFont.pointSize(), 9);
    // The dialog opens on the face the text is drawn in.
    QCOMPARE(w.dialogs->lastStartFont.family(), faceBefore);
    QCOMPARE(app.engine().faceName(), std::string("DejaVu Sans"));
    QCOMPARE(app.engine().fontDescription().lfHeight, -19);
    QCOMPARE(app.engine().pointSize(), 14);
    QCOMPARE(app.engine().blurCount(), 0);
    QCOMPARE(app.statusPartText(0), QStringLiteral("DejaVu Sans 14"));
    QCOMPARE(app.statusPartText(1), QStringLiteral("0"));
    // A build does not recompute the slider's range.
    QCOMPARE(app.slider()->maximum(), rangeBefore);

    // The text box follows, in the face the atlas was rendered from; the
    // atlas pane widens with the proportional font's widest glyph.
    const Font* font = app.engine().font();
    QVERIFY(font != nullptr);
    QCOMPARE(app.textBox()->font().pixelSize(), font->pixelSize());
    QCOMPARE(QFontInfo(app.textBox()->font()).family(), QString::fromStdString(font->faceUsed()));
    QCOMPARE(app.atlasPane()->image(), app.engine().glyphAtlas());
    QCOMPARE(app.atlasPane()->width(), atlasPaneWidth(app.engine().maxGlyphWidth()));

    hover(app, ID_CHOOSE_FONT);
    QCOMPARE(app.statusPartText(0), QStringLiteral("Font: DejaVu Sans 14"));
}

void GuiAppTest::textBoxAdvancesAreTheAtlasWidths_data()
{
    QTest::addColumn<QString>("family");  // empty: the start-up font
    QTest::addColumn<int>("weight");
    QTest::addColumn<QList<int>>("points");
    QTest::newRow("start-up font") << QString() << 400 << QList<int>{9};
    // Every size the font dialog offers, for a proportional bold face.
    QTest::newRow("proportional bold") << QStringLiteral("DejaVu Sans") << 700 << QFontDatabase::standardSizes();
    QTest::newRow("proportional serif") << QStringLiteral("DejaVu Serif") << 400 << QList<int>{7, 9, 11, 16, 24};
    QTest::newRow("monospaced") << QStringLiteral("DejaVu Sans Mono") << 400 << QList<int>{6, 8, 10, 13, 20};
}

// Each character of a line in the text box starts where the widths of the
// glyph table put it: the text is shown with the advances it was matched with.
void GuiAppTest::textBoxAdvancesAreTheAtlasWidths()
{
    QFETCH(QString, family);
    QFETCH(int, weight);
    QFETCH(QList<int>, points);
    Window w;
    TextImageApp& app = w.app;
    QString line;
    for (int c = 32; c <= 126; ++c)
        line += QChar(c);
    line += QStringLiteral("ffi fl ||| iiii WWWW AV To");  // ligature and kerning pairs
    for (int point : points) {
        if (!family.isEmpty()) {
            QFont chosen(family, point, weight);
            w.dialogs->fonts.push_back(chosen);
            app.action(ID_CHOOSE_FONT)->trigger();
        }
        std::array<int, 128> widths{};
        for (const GlyphEntry& entry : app.engine().glyphTable())
            widths[static_cast<size_t>(entry.code)] = entry.width;
        app.textBox()->setPlainText(line);
        QTextLayout* layout = app.textBox()->document()->firstBlock().layout();
        QVERIFY(layout != nullptr && layout->lineCount() == 1);
        const QTextLine laidOut = layout->lineAt(0);
        const qreal origin = laidOut.cursorToX(0);  // the document margin
        int x = 0;
        for (int i = 0; i <= line.size(); ++i) {
            if (laidOut.cursorToX(i) - origin != x)
                QFAIL(qPrintable(QStringLiteral("%1 %2 pt: character %3 ('%4') at %5, glyph table says %6")
                                     .arg(family)
                                     .arg(point)
                                     .arg(i)
                                     .arg(line.mid(i, 1))
                                     .arg(laidOut.cursorToX(i) - origin)
                                     .arg(x)));
            if (i < line.size())
                x += widths[static_cast<size_t>(line.at(i).unicode())];
        }
        QCOMPARE(laidOut.naturalTextWidth(), qreal(x));
    }
}

void GuiAppTest::cancelledFontDialogChangesNothing()
{
    Window w;
    TextImageApp& app = w.app;
    const LogFont before = app.engine().fontDescription();
    app.action(ID_BLUR_FONT)->trigger();
    app.action(ID_BLUR_FONT)->trigger();
    QCOMPARE(app.engine().blurCount(), 5);
    const ImageRecord* atlas = app.engine().glyphAtlas();

    app.action(ID_CHOOSE_FONT)->trigger();  // no answer queued: cancelled
    QCOMPARE(w.dialogs->fontCalls, 1);
    QCOMPARE(app.engine().blurCount(), 5);
    QCOMPARE(app.engine().glyphAtlas(), atlas);
    QCOMPARE(app.statusPartText(1), QStringLiteral("5"));
    QCOMPARE(std::memcmp(&before, &app.engine().fontDescription(), sizeof before), 0);
    QCOMPARE(app.atlasPane()->image(), app.engine().glyphAtlas());
}

void GuiAppTest::blurCommand()
{
    Window w;
    TextImageApp& app = w.app;
    const ImageRecord* atlas = app.engine().glyphAtlas();
    const int rangeBefore = app.slider()->maximum();
    app.action(ID_BLUR_FONT)->trigger();
    QCOMPARE(app.engine().blurCount(), 4);
    QCOMPARE(app.statusPartText(1), QStringLiteral("4"));
    QCOMPARE(app.engine().glyphAtlas(), atlas);  // blurred in place
    QCOMPARE(app.slider()->maximum(), app.engine().blackLevelRange());
    QVERIFY(app.slider()->maximum() >= rangeBefore);  // blurring only lightens the darkest cell
    hover(app, ID_BLUR_FONT);
    QCOMPARE(app.statusPartText(0), QStringLiteral("Font blurred 4 times"));
}

void GuiAppTest::toggleBackToCorrelationResetsSlider()
{
    Window w;
    TextImageApp& app = w.app;
    app.dropFiles({writeGrayJpeg(QStringLiteral("toggle.jpg"), 90, 60)});
    QVERIFY(app.slider()->maximum() >= 5);
    app.slider()->setValue(5);
    app.finishSliderInteraction();
    const ImageRecord* lifted = app.engine().workingImage();
    QVERIFY(lifted != nullptr);
    QAction* toggle = app.action(ID_TOGGLE_MATCH);

    toggle->trigger();
    QCOMPARE(app.engine().matchMode(), MatchMode::Difference);
    QVERIFY(toggle->isChecked());
    QCOMPARE(app.slider()->value(), 5);
    QCOMPARE(app.engine().workingImage(), lifted);

    toggle->trigger();
    QCOMPARE(app.engine().matchMode(), MatchMode::Correlation);
    QVERIFY(!toggle->isChecked());
    QCOMPARE(app.slider()->value(), 0);
    const ImageRecord* rebuilt = app.engine().workingImage();
    QVERIFY(rebuilt != nullptr);
    QCOMPARE(app.imagePane()->image(), rebuilt);
    // Rebuilt at level 0: the darkest pixel is black again.
    QCOMPARE(lowestLevel(*rebuilt), 0);
}

void GuiAppTest::sliderDragAppliesOnceOnRelease()
{
    Window w;
    TextImageApp& app = w.app;
    app.dropFiles({writeGrayJpeg(QStringLiteral("drag.jpg"), 90, 60)});
    LevelSlider* slider = app.slider();
    QVERIFY(slider->maximum() > 20);
    QSignalSpy finished(slider, &LevelSlider::interactionFinished);
    const ImageRecord* before = app.engine().workingImage();

    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = Qt::Horizontal;
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = slider->value();
    option.sliderValue = slider->value();
    const QRect handle = slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider);
    const QPoint start = handle.center();
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, start);
    QVERIFY(slider->isSliderDown());
    for (int dx = 5; dx <= 50; dx += 5) {
        QMouseEvent move(QEvent::MouseMove, QPointF(start + QPoint(dx, 0)),
                         slider->mapToGlobal(QPointF(start + QPoint(dx, 0))), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(slider, &move);
        // Nothing is applied while the thumb moves.
        QCOMPARE(app.engine().workingImage(), before);
    }
    const int level = slider->value();
    QVERIFY(level > 0);
    QCOMPARE(finished.count(), 0);
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, start + QPoint(50, 0));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(slider->value(), level);
    const ImageRecord* after = app.engine().workingImage();
    QVERIFY(after != before);
    QCOMPARE(app.imagePane()->image(), after);
    QCOMPARE(lowestLevel(*after), level);

    // The footer of the next run names the slider's level.
    app.action(ID_GENERATE)->trigger();
    QVERIFY(app.engine().outputText().find(QStringLiteral("Black Level %1)").arg(level).toStdString()) !=
            std::string::npos);
}

void GuiAppTest::sliderKeyApplies()
{
    Window w;
    TextImageApp& app = w.app;
    app.dropFiles({writeGrayJpeg(QStringLiteral("keys.jpg"), 90, 60)});
    QSignalSpy finished(app.slider(), &LevelSlider::interactionFinished);
    const ImageRecord* before = app.engine().workingImage();
    QTest::keyClick(app.slider(), Qt::Key_Right);
    QCOMPARE(app.slider()->value(), 1);
    QCOMPARE(finished.count(), 1);
    QVERIFY(app.engine().workingImage() != before);
    QTest::keyClick(app.slider(), Qt::Key_A);  // not a slider key
    QCOMPARE(finished.count(), 1);
}

void GuiAppTest::generateFillsTextBox()
{
    Window w;
    TextImageApp& app = w.app;
    const QString path = writeGrayJpeg(QStringLiteral("small.jpg"), 800, 1500);
    app.dropFiles({path});
    QSignalSpy lines(app.textBox()->document(), &QTextDocument::contentsChanged);
    QVERIFY(QTest::qWaitForWindowExposed(app.mainWindow()));
    PaintCounter paints;
    app.textBox()->viewport()->installEventFilter(&paints);
    app.action(ID_GENERATE)->trigger();
    app.textBox()->viewport()->removeEventFilter(&paints);

    const std::string& output = app.engine().outputText();
    QVERIFY(!output.empty());
    QCOMPARE(app.textBox()->toPlainText(), asShown(output));
    QVERIFY(output.find("small.jpg\r\n9 Point " + drawnFace(app).toStdString() + "\r\n(Blur 3, Black Level 0)\r\n") !=
            std::string::npos);
    QCOMPARE(app.statusPartText(2), QStringLiteral("%1 characters wide").arg(app.engine().widestLine()));
    QVERIFY(app.engine().widestLine() > 0);
    // The text grew line by line: one change per picture line at least.
    const int pictureLines = (1500 - 1) / app.engine().cellHeight();
    QVERIFY(lines.count() >= pictureLines);
    // Lines are painted as they come while they can be seen; the ones added
    // below the full view are not.
    const int linesShown = app.textBox()->viewport()->height() / app.textBox()->fontMetrics().lineSpacing() + 1;
    QVERIFY2(pictureLines > linesShown + 5, qPrintable(QStringLiteral("%1 %2").arg(pictureLines).arg(linesShown)));
    QVERIFY2(paints.count >= linesShown / 2 && paints.count <= linesShown + 2,
             qPrintable(QString::number(paints.count)));
    QVERIFY(QApplication::overrideCursor() == nullptr);
    // The box shows the start of the text, as a freshly set text would.
    QCOMPARE(app.textBox()->verticalScrollBar()->value(), 0);
    QCOMPARE(app.textBox()->horizontalScrollBar()->value(), 0);

    // An edit by the user does not leak into the next run's text.
    QTextCursor cursor(app.textBox()->document());
    cursor.insertText(QStringLiteral("typed by hand\n"));
    app.action(ID_TOGGLE_MATCH)->trigger();
    app.action(ID_GENERATE)->trigger();
    QCOMPARE(app.textBox()->toPlainText(), asShown(app.engine().outputText()));

    // A run in the other mode replaces the text whole.
    app.action(ID_TOGGLE_MATCH)->trigger();
    app.action(ID_GENERATE)->trigger();
    QCOMPARE(app.textBox()->toPlainText(), asShown(app.engine().outputText()));
}

void GuiAppTest::generateWithoutPictureKeepsTextBox()
{
    Window w;
    w.app.action(ID_GENERATE)->trigger();
    QCOMPARE(w.app.textBox()->toPlainText(), asShown(w.app.helpText()));
    QCOMPARE(w.app.statusPartText(2), QString());
    QCOMPARE(w.app.statusPartText(0), QStringLiteral("Load a picture first"));
}

void GuiAppTest::resizeGivesExtraWidthToSplitterArea()
{
    Window w;
    TextImageApp& app = w.app;
    const QRect atlasBefore = app.atlasPane()->geometry();
    const QSize size = app.mainWindow()->size();
    app.mainWindow()->resize(size.width() + 120, size.height() + 40);
    QCOMPARE(app.atlasPane()->width(), atlasBefore.width());
    QCOMPARE(app.atlasPane()->height(), atlasBefore.height() + 40);
    const QRect box = app.textBox()->geometry();
    QCOMPARE(box.x() + box.width(), app.mainWindow()->width() - 5);
    const QRect status = app.statusBar()->geometry();
    QCOMPARE(status.y() + status.height(), app.mainWindow()->height());
    QCOMPARE(status.width(), app.mainWindow()->width());
    checkStatusParts(app);
}

void GuiAppTest::closingTheWindowEndsTheLoop()
{
    Window w;
    QTimer::singleShot(0, w.app.mainWindow(), [&w] { w.app.mainWindow()->close(); });
    QTimer guard;  // a hang fails instead of blocking
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    guard.start(5000);
    QCOMPARE(QApplication::exec(), 0);
}

// Ctrl+S writes what the text box shows, LF line ends, whole; never over the
// picture. Ctrl+O is the open command.
void GuiAppTest::keysSaveTextAndOpen()
{
    Window w;
    TextImageApp& app = w.app;
    QApplication::setActiveWindow(app.mainWindow());
    QVERIFY(QTest::qWaitForWindowActive(app.mainWindow()));
    const QString picture = writeGrayJpeg(QStringLiteral("keys.jpg"), 300, 200);
    app.dropFiles({picture});
    app.action(ID_GENERATE)->trigger();
    QTextCursor(app.textBox()->document()).insertText(QStringLiteral("edited\n"));
    const QString shown = app.textBox()->toPlainText();

    const QString saved = dir_.filePath(QStringLiteral("keys.txt"));
    w.dialogs->saves = {saved, picture};
    QTest::keyClick(app.textBox()->viewport(), Qt::Key_S, Qt::ControlModifier);
    QVERIFY(w.dialogs->saves.size() == 1);
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(QString::fromUtf8(bytes), shown.endsWith(QLatin1Char('\n')) ? shown : shown + QLatin1Char('\n'));
    QVERIFY(!bytes.contains('\r') && bytes.startsWith("edited\n"));
    QCOMPARE(app.statusPartText(0), QStringLiteral("Text saved to keys.txt"));
    // The dialog starts beside the picture, named after it, every time.
    QCOMPARE(w.dialogs->lastSaveStartPath, dir_.filePath(QStringLiteral("keys.txt")));

    // A name ending in .html gets the page: the text escaped in a <pre>.
    const QString page = dir_.filePath(QStringLiteral("keys page.HTML"));
    w.dialogs->saves.push_front(page);
    QTest::keyClick(app.mainWindow(), Qt::Key_S, Qt::ControlModifier);
    QFile html(page);
    QVERIFY(html.open(QIODevice::ReadOnly));
    const QByteArray pageBytes = html.readAll();
    QVERIFY(pageBytes.startsWith("<!DOCTYPE html>"));
    QVERIFY(pageBytes.contains("<pre") && pageBytes.contains("edited\n") && pageBytes.contains("keys.jpg\n"));
    QCOMPARE(app.statusPartText(0), QStringLiteral("Text saved to keys page.HTML"));
    QVERIFY(pageBytes.contains("background: #fff"));
    // Inverted text goes on a dark page.
    app.controls()->invertBox()->setChecked(true);
    w.dialogs->saves.push_front(page);
    QTest::keyClick(app.mainWindow(), Qt::Key_S, Qt::ControlModifier);
    QFile darkHtml(page);
    QVERIFY(darkHtml.open(QIODevice::ReadOnly) && darkHtml.readAll().contains("background: #000"));
    app.controls()->invertBox()->setChecked(false);

    // .png and .svg get the text drawn as a picture.
    for (const char* name : {"keys.png", "keys.svg"}) {
        const QString drawn = dir_.filePath(QLatin1String(name));
        w.dialogs->saves.push_front(drawn);
        QTest::keyClick(app.mainWindow(), Qt::Key_S, Qt::ControlModifier);
        QFile f(drawn);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray head = f.read(512);
        QVERIFY2(head.startsWith("\x89PNG\r\n") || head.contains("<svg"), name);
    }

    // The picture itself is refused and stays as it was.
    const QByteArray pictureBytes = [&] {
        QFile f(picture);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    QTest::keyClick(app.mainWindow(), Qt::Key_S, Qt::ControlModifier);
    QVERIFY(w.dialogs->saves.empty());
    QVERIFY(app.statusPartText(0).startsWith(QStringLiteral("Cannot save keys.jpg")));
    QFile again(picture);
    QVERIFY(again.open(QIODevice::ReadOnly));
    QCOMPARE(again.readAll(), pictureBytes);
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("keys")).size(), 5);

    // A named pipe nobody reads from is refused rather than waited on.
    const QString pipe = dir_.filePath(QStringLiteral("pipe"));
    QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
    w.dialogs->saves = {pipe};
    QTest::keyClick(app.mainWindow(), Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(app.statusPartText(0), QStringLiteral("Cannot save pipe: nobody reads from this pipe"));

    QTest::keyClick(app.textBox()->viewport(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(w.dialogs->openCalls, 1);
    QCOMPARE(w.dialogs->lastStartPath, picture);
}

void GuiAppTest::keysGenerateZoomAndMoveFocus()
{
    Window w;
    TextImageApp& app = w.app;
    QApplication::setActiveWindow(app.mainWindow());
    QVERIFY(QTest::qWaitForWindowActive(app.mainWindow()));
    app.dropFiles({writeGrayJpeg(QStringLiteral("f5.jpg"), 120, 90)});
    const std::pair<Qt::Key, Qt::KeyboardModifiers> generateKeys[] = {{Qt::Key_F5, Qt::NoModifier},
                                                                      {Qt::Key_Return, Qt::ControlModifier}};
    for (const auto& [key, modifiers] : generateKeys) {
        app.textBox()->setPlainText(QString());
        QTest::keyClick(app.textBox(), key, modifiers);
        QCOMPARE(app.textBox()->toPlainText(), asShown(app.engine().outputText()));
        QVERIFY(!app.engine().outputText().empty());
    }

    // Zoom changes the view's font only: the matched font stays.
    const QFont matched = app.textBox()->font();
    QTest::keyClick(app.textBox(), Qt::Key_Plus, Qt::ControlModifier);
    QTest::keyClick(app.textBox(), Qt::Key_Plus, Qt::ControlModifier);
    QVERIFY(app.textBox()->font().pixelSize() > matched.pixelSize());
    QTest::keyClick(app.textBox(), Qt::Key_Minus, Qt::ControlModifier);
    QTest::keyClick(app.textBox(), Qt::Key_Minus, Qt::ControlModifier);
    QTest::keyClick(app.textBox(), Qt::Key_Minus, Qt::ControlModifier);
    QVERIFY(app.textBox()->font().pixelSize() < matched.pixelSize());
    QTest::keyClick(app.textBox(), Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(app.textBox()->font(), matched);
    QCOMPARE(app.textBox()->matchedFont(), matched);

    // Tab leaves the text box without typing a tab and goes round the
    // toolbar, the slider and back; Shift+Tab goes back.
    const QString before = app.textBox()->toPlainText();
    app.textBox()->setFocus();
    QTest::keyClick(app.textBox(), Qt::Key_Tab);
    QCOMPARE(app.textBox()->toPlainText(), before);
    QCOMPARE(QApplication::focusWidget(), app.toolbar()->widgetForAction(app.action(ID_OPEN_IMAGE)));
    for (int i = 0; i < 5; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(app.slider()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), app.controls()->firstControl());
    // Through the strip's enabled controls (the spin boxes wait for their
    // choice) to the text box.
    for (int i = 0; i < 6 && app.controls()->isAncestorOf(QApplication::focusWidget()); ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(app.textBox()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), app.controls()->lastControl());
}

void GuiAppTest::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QStringList>("toolkit");  // after the program name
    using A = CommandLine::Action;
    const int run = static_cast<int>(A::Run), help = static_cast<int>(A::Help);
    const int version = static_cast<int>(A::Version), usage = static_cast<int>(A::UsageError);
    QTest::newRow("nothing") << QStringList{} << run << QString() << QStringList{};
    QTest::newRow("picture") << QStringList{"a.jpg"} << run << "a.jpg" << QStringList{};
    QTest::newRow("toolkit options with values")
        << QStringList{"-platform", "offscreen", "a.jpg", "--style=fusion", "-reverse", "-geometry", "10x10"} << run
        << "a.jpg" << QStringList{"-platform", "offscreen", "--style=fusion", "-reverse", "-geometry", "10x10"};
    QTest::newRow("dash is a picture") << QStringList{"-"} << run << "-" << QStringList{};
    QTest::newRow("after double dash") << QStringList{"--", "-reverse"} << run << "-reverse" << QStringList{};
    QTest::newRow("help wins") << QStringList{"a.jpg", "--help"} << help << "a.jpg" << QStringList{};
    QTest::newRow("version") << QStringList{"--version", "--bogus"} << version << QString() << QStringList{};
    QTest::newRow("unknown option") << QStringList{"--bogus"} << usage << QString() << QStringList{};
    QTest::newRow("flag with value") << QStringList{"-reverse=1"} << usage << QString() << QStringList{};
    QTest::newRow("missing value") << QStringList{"a.jpg", "-style"} << usage << "a.jpg" << QStringList{};
    QTest::newRow("two pictures") << QStringList{"a.jpg", "b.jpg"} << usage << "a.jpg" << QStringList{};
}

namespace {

// The window's command line parsed from `arguments` (after the program's
// name).
CommandLine parseArguments(const QStringList& arguments)
{
    std::vector<std::string> storage{"morvel"};
    for (const QString& a : arguments)
        storage.push_back(a.toStdString());
    std::vector<const char*> argv;
    for (const std::string& a : storage)
        argv.push_back(a.c_str());
    return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

}  // namespace

void GuiAppTest::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    QFETCH(QString, picture);
    QFETCH(QStringList, toolkit);
    const CommandLine line = parseArguments(arguments);
    QCOMPARE(static_cast<int>(line.action), action);
    if (line.action == CommandLine::Action::UsageError) {
        QVERIFY(!line.error.empty());
        return;
    }
    QCOMPARE(QString::fromStdString(line.picture), picture);
    QStringList passed;
    for (const std::string& a : line.toolkitArguments)
        passed << QString::fromStdString(a);
    QCOMPARE(passed, QStringList{"morvel"} + toolkit);
}

// The real program, without any display to connect to: --help and --version
// answer before the toolkit starts; a bad option is a usage error.
void GuiAppTest::helpAndVersionNeedNoDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    struct Result {
        int code = -1;
        QString out, err;
    };
    const auto run = [&](const QStringList& arguments) {
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(MORVEL_PROGRAM), arguments);
        if (!program.waitForFinished(20000))
            program.kill();
        return Result{program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
                      QString::fromUtf8(program.readAllStandardOutput()),
                      QString::fromUtf8(program.readAllStandardError())};
    };
    const Result version = run({"--version"});
    QCOMPARE(version.code, 0);
    QCOMPARE(version.out, QStringLiteral("morvel " MORVEL_VERSION "\n"));
    const Result help = run({"--help"});
    QCOMPARE(help.code, 0);
    QVERIFY(help.out.startsWith(QStringLiteral("Usage: morvel")));
    QVERIFY(help.out.contains(QStringLiteral("Ctrl+S")) && help.out.contains(QStringLiteral("Ctrl+O")));
    const Result bad = run({"--no-such-option"});
    QCOMPARE(bad.code, 2);
    QVERIFY(bad.out.isEmpty());
    QVERIFY(bad.err.contains(QStringLiteral("--no-such-option")) && bad.err.contains(QStringLiteral("--help")));
}

void GuiAppTest::pictureNamedOnCommandLineLoads()
{
    const QString path = writeGrayJpeg(QStringLiteral("named.jpg"), 70, 50);
    // Relative to the working folder, as a shell would pass it.
    const QString saved = QDir::currentPath();
    QDir::setCurrent(dir_.path());
    const QByteArray relative = QByteArrayLiteral("named.jpg");
    const char* argv[] = {"morvel", "-platform", "offscreen", relative.constData()};
    const CommandLine line = parseCommandLine(4, argv);
    Window w;
    w.app.openPicture(QString::fromStdString(line.picture));
    QDir::setCurrent(saved);
    QCOMPARE(w.app.imagePath(), path);
    QCOMPARE(w.app.mainWindow()->windowTitle(), QStringLiteral("named.jpg - Morvel"));
    QCOMPARE(w.app.statusPartText(0), QStringLiteral("named.jpg (70 x 50)"));
}

void GuiAppTest::controlsGiveTheConvertersText_data()
{
    QTest::addColumn<QStringList>("arguments");  // the window's command line
    QTest::addColumn<QString>("converter");      // the same for morvel-text; empty: none to compare
    QTest::addColumn<int>("columns");            // the width the lines must have; 0: any
    const QString sphere = QStringLiteral(MORVEL_SOURCE_DIR "/res/samples/sphere.jpg");
    const QString hills = QStringLiteral(MORVEL_SOURCE_DIR "/res/samples/hills.gif");
    QTest::newRow("tone, 80 columns") << QStringList{"--match", "tone", "--columns", "80", sphere}
                                      << QStringLiteral("--match tone --columns 80") << 80;
    QTest::newRow("tone, natural") << QStringList{"--match", "tone", sphere}
                                   << QStringLiteral("--match tone --columns natural") << 0;
    QTest::newRow("tone, 80 columns, GIF") << QStringList{"--match", "tone", "--columns", "80", hills}
                                           << QStringLiteral("--match tone --columns 80") << 80;
    QTest::newRow("defaults") << QStringList{hills} << QStringLiteral("--match correlation --columns natural") << 0;
    QTest::newRow("difference, 100 columns, inverted")
        << QStringList{"--match", "difference", "--columns=100", "--invert", hills}
        << QStringLiteral("--match difference --columns 100 --invert") << 100;
    QTest::newRow("fit") << QStringList{"--columns", "fit", sphere} << QString() << -1;
}

// The window set from its command line, then Generate: the picture lines are
// the converter's for the same choices, and as wide as asked.
void GuiAppTest::controlsGiveTheConvertersText()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, converter);
    QFETCH(int, columns);
    const CommandLine line = parseArguments(arguments);
    QCOMPARE(line.action, CommandLine::Action::Run);
    Window w;
    w.app.applySettings(line.settings);
    if (line.difference)
        w.app.handleCommand(ID_TOGGLE_MATCH);
    w.app.openPicture(QString::fromStdString(line.picture));
    w.app.handleCommand(ID_GENERATE);
    const TextImage& made = w.app.engine().lastTextImage();
    QVERIFY(made.lineCount > 0);
    const std::string& text = w.app.engine().outputText();
    size_t end = 0;
    for (int i = 0; i < made.lineCount; ++i)
        end = text.find("\r\n", end) + 2;
    const std::string lines = text.substr(0, end);
    if (columns != 0)
        QCOMPARE(static_cast<int>(text.find("\r\n")), columns > 0 ? columns : w.app.runSettings().size.columns);
    if (converter.isEmpty())
        return;
    QProcess program;
    program.start(QStringLiteral(MORVEL_CONVERTER),
                  converter.split(QLatin1Char(' ')) + QStringList{"--font-ratio", "font", "--crlf", "--no-footer",
                                                                  "--color", "none",
                                                                  QString::fromStdString(line.picture)});
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(program.readAllStandardOutput().toStdString(), lines);
}

QTEST_MAIN(GuiAppTest)
#include "gui_app_test.moc"
