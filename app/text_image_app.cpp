#include "app/text_image_app.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRawFont>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolBar>
#include <algorithm>
#include <cmath>
#include <string_view>

#include "app/advance_corrector.h"
#include "app/file_drop_filter.h"
#include "app/level_slider.h"
#include "app/save_text.h"
#include "app/toolbar_images.h"
#include "image/load_picture.h"
#include "platform/font.h"
#include "platform/printable_name.h"
#include "view/image_view.h"
#include "view/splitter.h"

namespace morvel {
namespace {

constexpr int kCommandIds[kToolImageCount] = {ID_OPEN_IMAGE, ID_CHOOSE_FONT, ID_BLUR_FONT, ID_TOGGLE_MATCH,
                                              ID_GENERATE};
// Accessible names of the buttons; they are never shown (icon-only buttons
// without tool tips).
constexpr const char* kCommandNames[kToolImageCount] = {"Open image", "Choose font", "Blur font", "Toggle match type",
                                                        "Generate"};

int commandIndex(int id)
{
    for (int i = 0; i < kToolImageCount; ++i) {
        if (kCommandIds[i] == id)
            return i;
    }
    return -1;
}

QString fromBytes(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Text for the text box: the program's strings end lines with CR LF, the
// document wants one line break per line.
QString boxText(std::string_view text)
{
    QString s = fromBytes(text);
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return s;
}

// The toolkit weight for a description's weight (none: normal).
QFont::Weight qtWeight(const LogFont& description)
{
    return static_cast<QFont::Weight>(std::clamp<int>(description.lfWeight > 0 ? description.lfWeight : 400, 1, 1000));
}

QString pictureStatus(const std::string& displayName, const ImageRecord* working)
{
    const QString name = fromBytes(displayName);
    if (working == nullptr)
        return name;
    return QStringLiteral("%1 (%2 x %3)").arg(name).arg(working->header.biWidth).arg(working->rowCount);
}

QIcon applicationIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128}) {
        icon.addFile(QStringLiteral(":/morvel/icons/morvel-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace

LogFont logFontFromQFont(const QFont& font, const LogFont& base, int dpi)
{
    LogFont description = base;
    int pixels = font.pixelSize();
    if (pixels <= 0)
        pixels = static_cast<int>(std::lround(font.pointSizeF() * dpi / 72.0));
    description.lfHeight = -std::max(pixels, 1);
    description.lfWidth = 0;
    description.lfEscapement = 0;
    description.lfOrientation = 0;
    // Qt 6 weights are already on the OpenType scale (100 thin .. 900 black),
    // which is the description's scale too.
    description.lfWeight = std::clamp(static_cast<int>(font.weight()), 0, 1000);
    description.lfItalic = font.italic() ? 1 : 0;
    description.lfUnderline = font.underline() ? 1 : 0;
    description.lfStrikeOut = font.strikeOut() ? 1 : 0;
    setFaceName(description, font.family().toStdString());
    return description;
}

MainWindow::MainWindow()
{
    setObjectName(QStringLiteral("Morvel"));
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    emit resized();
}

TextImageApp::TextImageApp(std::unique_ptr<Dialogs> dialogs)
    : engine_(this), dialogs_(dialogs ? std::move(dialogs) : makeStandardDialogs())
{}

TextImageApp::~TextImageApp()
{
    // The window goes first: its panes show pictures the engine owns.
    window_.reset();
}

void TextImageApp::createWindows()
{
    window_ = std::make_unique<MainWindow>();
    window_->setWindowTitle(QStringLiteral("Morvel"));
    window_->setWindowIcon(applicationIcon());
    window_->setGeometry(100, 100, 200, 200);

    atlasPane_ = new ImageView(window_.get());
    imagePane_ = new ImageView(window_.get());
    imagePane_->setDropCallback([this](const QStringList& paths) { dropFiles(paths); });

    createTextBox();

    // Files dropped anywhere else in the window load as on the image pane.
    auto* drops = new FileDropFilter([this](const QStringList& paths) { dropFiles(paths); }, this);
    drops->watch(window_.get());
    drops->watch(textBox_->viewport());

    splitter_ = new Splitter(window_.get());
    splitter_->leftPane = imagePane_;
    splitter_->rightPane = textBox_;

    createToolbar();

    slider_ = new LevelSlider(window_.get());
    slider_->setObjectName(QStringLiteral("range"));
    slider_->setGeometry(0, 0, 50, 16);
    slider_->setPageStep(1);
    slider_->setMinimum(0);
    slider_->setValue(0);
    slider_->show();
    connect(slider_, &LevelSlider::interactionFinished, this, [this](int) { finishSliderInteraction(); });

    createStatusBar();
    createKeys();

    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect frame = windowRectForWorkArea(screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768));
    window_->move(frame.topLeft());
    window_->resize(std::max(frame.width(), 1), std::max(frame.height(), 1));
    dockStatusBar();
    connect(window_.get(), &MainWindow::resized, this, [this] {
        dockStatusBar();
        layout();
    });

    layout();
    window_->show();

    engine_.setDefaultFont("Lucida Console", 9, 400);
    engine_.buildGlyphAtlas();
    engine_.blurFont();
    engine_.blurFont();
    engine_.blurFont();
    atlasPane_->refresh();
    engine_.updateBlackLevelRange();

    loadHelpText();
    showText(helpText_);
}

void TextImageApp::createTextBox()
{
    textBox_ = new QPlainTextEdit(window_.get());
    textBox_->setObjectName(QStringLiteral("textBox"));
    textBox_->setLineWrapMode(QPlainTextEdit::NoWrap);
    textBox_->setWordWrapMode(QTextOption::NoWrap);
    textBox_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    textBox_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    textBox_->setGeometry(100, 100, 200, 200);
    textBox_->setPlainText(QString());
    advanceCorrector_ = new AdvanceCorrector(textBox_->document());
    textBox_->show();
}

void TextImageApp::createToolbar()
{
    toolbar_ = new QToolBar(window_.get());
    toolbar_->setObjectName(QStringLiteral("toolbar"));
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolbar_->setIconSize(QSize(kToolImageWidth, kToolImageHeight));
    toolbar_->setContentsMargins(0, 0, 0, 0);
    for (int i = 0; i < kToolImageCount; ++i) {
        const int id = kCommandIds[i];
        QAction* action = toolbar_->addAction(QIcon(toolbarImage(i)), QString::fromLatin1(kCommandNames[i]));
        action->setData(id);
        action->setCheckable(id == ID_TOGGLE_MATCH);
        connect(action, &QAction::triggered, this, [this, id] { handleCommand(id); });
        connect(action, &QAction::hovered, this, [this, id] { showToolHint(id); });
        if (QWidget* button = toolbar_->widgetForAction(action)) {
            button->installEventFilter(this);
            button->setFixedWidth(std::max(button->sizeHint().width(), kToolImageWidth));
        }
        actions_[static_cast<size_t>(i)] = action;
    }
    toolbar_->resize(toolbar_->sizeHint());
    toolbar_->move(5, 0);
    toolbar_->show();
}

void TextImageApp::createKeys()
{
    // The window's two keys; there is no menu.
    auto* open = new QAction(QStringLiteral("Open image"), window_.get());
    open->setShortcut(QKeySequence::Open);
    connect(open, &QAction::triggered, this, [this] { handleCommand(ID_OPEN_IMAGE); });
    auto* save = new QAction(QStringLiteral("Save text"), window_.get());
    save->setShortcut(QKeySequence::Save);
    connect(save, &QAction::triggered, this, [this] { saveText(); });
    window_->addActions({open, save});
}

void TextImageApp::createStatusBar()
{
    statusBar_ = new QStatusBar(window_.get());
    statusBar_->setObjectName(QStringLiteral("statusBar"));
    statusBar_->setSizeGripEnabled(true);
    // The parts are placed by hand (see placeStatusParts) so that their edges
    // fall exactly at 300 and 335; the size grip stays on top of part 2.
    for (int part = 0; part < 3; ++part) {
        auto* label = new QLabel(statusBar_);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setIndent(3);
        label->lower();
        statusParts_[static_cast<size_t>(part)] = label;
    }
    statusBar_->installEventFilter(this);
    statusBar_->show();
}

void TextImageApp::placeStatusParts()
{
    if (statusBar_ == nullptr || statusParts_[0] == nullptr)
        return;
    const int height = statusBar_->height();
    const int width = statusBar_->width();
    statusParts_[0]->setGeometry(0, 0, kStatusPart0Right, height);
    statusParts_[1]->setGeometry(kStatusPart0Right, 0, kStatusPart1Right - kStatusPart0Right, height);
    statusParts_[2]->setGeometry(kStatusPart1Right, 0, std::max(width - kStatusPart1Right, 0), height);
}

void TextImageApp::dockStatusBar()
{
    if (!window_ || statusBar_ == nullptr)
        return;
    const int height = statusBar_->sizeHint().height();
    statusBar_->setGeometry(0, window_->height() - height, window_->width(), height);
}

WindowLayout TextImageApp::currentLayout() const
{
    LayoutInput in;
    in.client = window_->size();
    in.toolbar = toolbar_->size();
    in.statusHeight = statusBar_->height();
    in.maxGlyphWidth = engine_.maxGlyphWidth();
    return computeLayout(in);
}

void TextImageApp::layout()
{
    if (!window_ || atlasPane_ == nullptr || splitter_ == nullptr || toolbar_ == nullptr || slider_ == nullptr)
        return;
    const WindowLayout rects = currentLayout();
    const auto nonNegative = [](const QRect& r) {
        return QRect(r.x(), r.y(), std::max(r.width(), 0), std::max(r.height(), 0));
    };
    atlasPane_->setGeometry(nonNegative(rects.atlasPane));
    atlasPane_->setHorizontalScrollBarHidden(true);
    splitter_->layout(rects.splitterArea);
    splitter_->minLeft = rects.minLeft;
    toolbar_->setGeometry(rects.toolbar);
    slider_->setGeometry(rects.slider);
}

QAction* TextImageApp::action(int id) const
{
    const int index = commandIndex(id);
    return index < 0 ? nullptr : actions_[static_cast<size_t>(index)];
}

QString TextImageApp::statusPartText(int part) const
{
    if (part < 0 || part > 2 || statusParts_[static_cast<size_t>(part)] == nullptr)
        return QString();
    return statusParts_[static_cast<size_t>(part)]->text();
}

void TextImageApp::setStatus(int part, const QString& text)
{
    if (part < 0 || part > 2 || statusParts_[static_cast<size_t>(part)] == nullptr)
        return;
    statusParts_[static_cast<size_t>(part)]->setText(text);
}

bool TextImageApp::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == statusBar_) {
        if (event->type() == QEvent::Resize)
            placeStatusParts();
        return QObject::eventFilter(watched, event);
    }
    // Toolbar buttons: no tool-tip popups.
    if (event->type() == QEvent::ToolTip)
        return true;
    return QObject::eventFilter(watched, event);
}

// --- Commands ---

void TextImageApp::handleCommand(int id)
{
    switch (id) {
    case ID_OPEN_IMAGE:
        if (chooseImageFile())
            loadImage();
        break;
    case ID_CHOOSE_FONT:
        // The atlas is rebuilt also after a cancelled dialog: it comes back
        // unblurred from the font in force.
        chooseFont();
        engine_.buildGlyphAtlas();
        break;
    case ID_BLUR_FONT:
        engine_.blurFont();
        if (atlasPane_ != nullptr)
            atlasPane_->refresh();
        engine_.updateBlackLevelRange();
        break;
    case ID_TOGGLE_MATCH: {
        const bool toCorrelation = engine_.matchMode() != MatchMode::Correlation;
        engine_.setMatchMode(toCorrelation ? MatchMode::Correlation : MatchMode::Difference);
        if (QAction* toggle = action(ID_TOGGLE_MATCH))
            toggle->setChecked(!toCorrelation);
        if (toCorrelation) {
            if (slider_ != nullptr)
                slider_->setValue(0);
            engine_.applyBlackLevel(0);
        }
        break;
    }
    case ID_GENERATE:
        engine_.generateTextImage(slider_ != nullptr ? slider_->value() : 0);
        break;
    default:
        break;
    }
}

bool TextImageApp::showToolHint(int id)
{
    QString hint;
    switch (id) {
    case ID_OPEN_IMAGE:
        hint = pictureStatus(engine_.displayName(), engine_.workingImage());
        break;
    case ID_CHOOSE_FONT:
        hint = QStringLiteral("Font: %1 %2").arg(fromBytes(engine_.drawnFaceName())).arg(engine_.pointSize());
        break;
    case ID_BLUR_FONT:
        hint = QStringLiteral("Font blurred %1 times").arg(engine_.blurCount());
        break;
    case ID_TOGGLE_MATCH:
        hint = engine_.matchMode() == MatchMode::Correlation ? QStringLiteral("Match type: maximize correlation")
                                                             : QStringLiteral("Match type: minimize difference");
        break;
    case ID_GENERATE:
        hint = QStringLiteral("Generate the text image");
        break;
    default:
        return false;
    }
    setStatus(0, hint);
    return true;
}

void TextImageApp::dropFiles(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    imagePath_ = paths.front();
    loadImage();
}

void TextImageApp::openPicture(const QString& path)
{
    // A drop hands over absolute paths; so does the command line, which also
    // lets the open dialog start in the picture's folder.
    dropFiles({QFileInfo(path).absoluteFilePath()});
}

void TextImageApp::finishSliderInteraction()
{
    if (slider_ == nullptr)
        return;
    engine_.applyBlackLevel(slider_->value());
}

bool TextImageApp::chooseImageFile()
{
    const std::optional<QString> path = dialogs_->openImage(window_.get(), imagePath_);
    if (!path)
        return false;
    imagePath_ = *path;
    return true;
}

void TextImageApp::loadImage()
{
    const std::string path = QFile::encodeName(imagePath_).toStdString();
    // The loaders refuse anything but a regular file without waiting on it,
    // so a directory, device or named pipe simply gives no picture.
    LoadResult loaded = readPicture(path);
    const bool failed = !loaded.gray;
    engine_.setSourceImage(std::move(loaded.gray));
    engine_.setDisplayName(printableName(displayNameOf(path)));
    if (window_)
        window_->setWindowTitle(fromBytes(engine_.displayName()) + QStringLiteral(" - Morvel"));
    if (slider_ != nullptr)
        slider_->setValue(0);
    engine_.applyBlackLevel(0);
    if (imagePane_ != nullptr)
        imagePane_->setImage(engine_.workingImage());
    // A failed load says why, and a picture drawn past damage what is wrong
    // with it, in the converter's words; the title names the file, so the
    // narrow status part holds the words alone.
    if (failed)
        setStatus(0, fromBytes(loaded.error));
    else if (!loaded.warning.empty())
        setStatus(0, fromBytes(loaded.warning));
    else
        setStatus(0, pictureStatus(engine_.displayName(), engine_.workingImage()));
}

void TextImageApp::chooseFont()
{
    const LogFont& current = engine_.fontDescription();
    QFont start = textBoxFont();
    if (engine_.pointSize() > 0)
        start.setPointSize(engine_.pointSize());
    start.setWeight(qtWeight(current));
    start.setItalic(current.lfItalic != 0);
    const std::optional<QFont> chosen = dialogs_->chooseFont(window_.get(), start);
    if (!chosen)
        return;
    engine_.applyFontDescription(logFontFromQFont(*chosen, current, engine_.dpi()));
}

void TextImageApp::saveText()
{
    if (textBox_ == nullptr)
        return;
    const std::optional<QString> chosen = dialogs_->saveText(window_.get(), saveStartPath(savedPath_, imagePath_));
    if (!chosen)
        return;
    QString error;
    if (saveTextFile(*chosen, textBox_->toPlainText(), imagePath_, error)) {
        savedPath_ = *chosen;
        setStatus(0, QStringLiteral("Text saved to %1").arg(QFileInfo(*chosen).fileName()));
    } else {
        setStatus(0, QStringLiteral("Cannot save %1: %2").arg(QFileInfo(*chosen).fileName(), error));
    }
}

void TextImageApp::loadHelpText()
{
    QFile file(QString::fromLatin1(kHelpTextResource));
    if (!file.open(QIODevice::ReadOnly))
        return;
    QByteArray bytes = file.readAll();
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    helpText_ = bytes.toStdString();
}

// --- The text box ---

QFont TextImageApp::textBoxFont() const
{
    return textBox_ != nullptr ? textBox_->font() : QFont();
}

QFont TextImageApp::fontForTextBox()
{
    const LogFont& description = engine_.fontDescription();
    const Font* font = engine_.font();
    if (font != nullptr && !font->filePath().empty()) {
        const QString file = QFile::decodeName(QByteArray::fromStdString(font->filePath()));
        if (file != loadedFontFile_) {
            // The very file the atlas was rendered from, so the text box shows
            // the text in the glyphs it was matched against.
            const int id = QFontDatabase::addApplicationFont(file);
            const QStringList families = id >= 0 ? QFontDatabase::applicationFontFamilies(id) : QStringList();
            const QString used = fromBytes(font->faceUsed());
            QString family;
            if (families.contains(used)) {
                family = used;
            } else if (font->faceIndex() >= 0 && font->faceIndex() < families.size()) {
                family = families.at(font->faceIndex());
            } else if (!families.isEmpty()) {
                family = families.front();
            } else {
                family = used;
            }
            loadedFontFile_ = file;
            loadedFontFamily_ = family;
        }
        QFont qfont(loadedFontFamily_);
        qfont.setPixelSize(std::max(font->pixelSize(), 1));
        const QRawFont raw(file, std::max(font->pixelSize(), 1));
        if (raw.isValid() && font->faceIndex() == 0 && raw.familyName() == loadedFontFamily_) {
            qfont.setStyleName(raw.styleName());
        } else {
            qfont.setWeight(qtWeight(description));
            qfont.setItalic(description.lfItalic != 0);
        }
        // Each character advances by its own width, as in the atlas: the
        // whole-pixel advances of fully hinted outlines (the font layer's
        // measure), no kerning and no ligatures.
        qfont.setKerning(false);
        qfont.setHintingPreference(QFont::PreferFullHinting);
        qfont.setStyleHint(QFont::TypeWriter, QFont::StyleStrategy(QFont::PreferMatch | QFont::PreferNoShaping));
        return qfont;
    }
    QFont qfont(fromBytes(engine_.faceName()));
    if (engine_.pointSize() > 0)
        qfont.setPointSize(engine_.pointSize());
    qfont.setStyleHint(QFont::TypeWriter);
    return qfont;
}

void TextImageApp::showText(const std::string& text)
{
    if (textBox_ == nullptr)
        return;
    QTextDocument* document = textBox_->document();
    const bool untouched = document->revision() == shownRevision_;
    const bool extends = !shownText_.empty() && shownText_.back() != '\r' && text.size() >= shownText_.size() &&
                         text.compare(0, shownText_.size(), shownText_) == 0;
    if (untouched && extends) {
        // A run grows the text line by line: append only what is new, to the
        // box and to the record of what it shows.
        const std::string_view added = std::string_view(text).substr(shownText_.size());
        QTextCursor cursor(document);
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(boxText(added));
        shownText_.append(added);
        shownRevision_ = document->revision();
        // Once the view is full, what is added lands below it and cannot be
        // seen: no repaint then (the event loop paints the box once the run
        // is over, when the scroll bar shows the final length).
        if (!endIsVisible())
            return;
    } else {
        textBox_->setPlainText(boxText(text));
        shownText_ = text;
        shownRevision_ = document->revision();
    }
    textBox_->viewport()->repaint();
}

bool TextImageApp::endIsVisible() const
{
    // Lines never wrap, so each block is one line and the vertical scroll
    // position is the number of the first line shown.
    const int lineHeight = std::max(textBox_->fontMetrics().lineSpacing(), 1);
    const int firstShown = textBox_->verticalScrollBar()->value();
    const int linesShown = textBox_->viewport()->height() / lineHeight + 1;
    const int lastLine = textBox_->document()->blockCount() - 1;
    // The line before the last one counts too: the last line of a run is
    // often still empty (the text ends with a line break).
    return lastLine - 1 < firstShown + linesShown;
}

// --- Engine notifications ---

void TextImageApp::statusText(int part, const std::string& text)
{
    setStatus(part, fromBytes(text));
}

void TextImageApp::fontChanged()
{
    if (textBox_ != nullptr)
        textBox_->setFont(fontForTextBox());
}

void TextImageApp::atlasRebuilt()
{
    if (atlasPane_ != nullptr)
        atlasPane_->setImage(engine_.glyphAtlas());
    if (advanceCorrector_ != nullptr)
        advanceCorrector_->update(textBox_->font(), engine_.glyphTable());
    layout();
}

void TextImageApp::atlasBlurred()
{
    if (atlasPane_ != nullptr)
        atlasPane_->refresh();
}

void TextImageApp::blackLevelRangeChanged(int32_t range)
{
    if (slider_ != nullptr)
        slider_->setMaximum(range);
}

void TextImageApp::workingImageChanged()
{
    if (imagePane_ != nullptr)
        imagePane_->setImage(engine_.workingImage());
}

void TextImageApp::generationStarted()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void TextImageApp::generationFinished()
{
    QApplication::restoreOverrideCursor();
}

void TextImageApp::textChanged(const std::string& text)
{
    showText(text);
}

}  // namespace morvel
