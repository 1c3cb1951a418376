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
#include <QMenu>
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

#include "app/control_strip.h"
#include "app/file_drop_filter.h"
#include "app/level_slider.h"
#include "app/text_box.h"
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
    createControls();

    statusBar_ = new StatusParts(window_.get());
    statusBar_->show();
    createKeys();
    setFocusChain();

    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect frame = windowRectForWorkArea(screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768));
    window_->move(frame.topLeft());
    window_->resize(std::max(frame.width(), 1), std::max(frame.height(), 1));
    statusBar_->dock();
    connect(window_.get(), &MainWindow::resized, this, [this] {
        statusBar_->dock();
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
    textBox_->showText(helpText_);
}

void TextImageApp::createTextBox()
{
    textBox_ = new TextBox(window_.get());
    textBox_->setObjectName(QStringLiteral("textBox"));
    textBox_->setGeometry(100, 100, 200, 200);
    textBox_->setPlainText(QString());
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
    // The window's keys; there is no menu.
    struct Key {
        const char* name;
        QList<QKeySequence> keys;
        void (TextImageApp::*slot)();
    };
    const Key keys[] = {
        {"Open image", {QKeySequence::Open}, &TextImageApp::openImage},
        {"Save text", {QKeySequence::Save}, &TextImageApp::saveText},
        {"Generate",
         {QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)},
         &TextImageApp::generate},
        {"Copy all", {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)}, &TextImageApp::copyAll},
    };
    for (const Key& key : keys) {
        auto* action = new QAction(QString::fromLatin1(key.name), window_.get());
        action->setShortcuts(key.keys);
        connect(action, &QAction::triggered, this, key.slot);
        window_->addAction(action);
    }
    // Zoom acts on the text box's view only, wherever the focus is.
    const std::pair<QList<QKeySequence>, int> zooms[] = {
        {{QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)}, 1},
        {{QKeySequence::ZoomOut}, -1},
        {{QKeySequence(Qt::CTRL | Qt::Key_0)}, 0},
    };
    for (const auto& [sequences, steps] : zooms) {
        auto* action = new QAction(window_.get());
        action->setShortcuts(sequences);
        connect(action, &QAction::triggered, this, [this, steps = steps] {
            if (steps == 0)
                textBox_->resetZoom();
            else
                textBox_->zoomBy(steps);
        });
        window_->addAction(action);
    }
    // "Copy all" also sits in the text box's own context menu.
    auto* copyAllAction = new QAction(QStringLiteral("Copy all"), textBox_);
    connect(copyAllAction, &QAction::triggered, this, &TextImageApp::copyAll);
    textBox_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(textBox_, &QWidget::customContextMenuRequested, this, [this, copyAllAction](const QPoint& at) {
        QMenu* menu = textBox_->createStandardContextMenu(at);
        menu->addAction(copyAllAction);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(textBox_->viewport()->mapToGlobal(at));
    });
}

void TextImageApp::createControls()
{
    controls_ = new ControlStrip(window_.get());
    // A dark theme gets light text on a dark box, matched inverted, unless
    // the user turns Invert off.
    const QPalette palette = window_->palette();
    WindowSettings start;
    start.invert = palette.color(QPalette::Base).lightness() < palette.color(QPalette::Text).lightness();
    controls_->setSettings(start);
    showInverted(start.invert);
    connect(controls_, &ControlStrip::invertChanged, this, &TextImageApp::showInverted);
    connect(controls_, &ControlStrip::colourChanged, this, &TextImageApp::showColours);
    controls_->show();
}

void TextImageApp::setFocusChain()
{
    // Tab and Shift+Tab: the toolbar's buttons in order, the slider, the
    // text box, and round again. The panes take the focus when clicked.
    atlasPane_->setFocusPolicy(Qt::ClickFocus);
    imagePane_->setFocusPolicy(Qt::ClickFocus);
    QWidget* previous = nullptr;
    for (QAction* action : actions_) {
        QWidget* button = toolbar_->widgetForAction(action);
        if (button == nullptr)
            continue;
        button->setFocusPolicy(Qt::StrongFocus);
        if (previous != nullptr)
            QWidget::setTabOrder(previous, button);
        previous = button;
    }
    slider_->setFocusPolicy(Qt::StrongFocus);
    QWidget::setTabOrder(previous, slider_);
    QWidget::setTabOrder(slider_, controls_->firstControl());
    QWidget::setTabOrder(controls_->lastControl(), textBox_);
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
    if (!window_ || atlasPane_ == nullptr || splitter_ == nullptr || toolbar_ == nullptr || slider_ == nullptr ||
        controls_ == nullptr)
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
    // The controls follow the slider on the toolbar's strip.
    const QSize strip = controls_->sizeHint();
    controls_->setGeometry(rects.slider.x() + rects.slider.width() + 16,
                           rects.toolbar.y() + std::max(0, (rects.toolbar.height() - strip.height()) / 2),
                           strip.width(), std::min(strip.height(), std::max(rects.toolbar.height(), 1)));
}

QAction* TextImageApp::action(int id) const
{
    const int index = commandIndex(id);
    return index < 0 ? nullptr : actions_[static_cast<size_t>(index)];
}

QStatusBar* TextImageApp::statusBar() const
{
    return statusBar_;
}

QLabel* TextImageApp::statusPartLabel(int part) const
{
    return statusBar_ != nullptr ? statusBar_->partLabel(part) : nullptr;
}

QString TextImageApp::statusPartText(int part) const
{
    return statusBar_ != nullptr ? statusBar_->partText(part) : QString();
}

void TextImageApp::setStatus(int part, const QString& text)
{
    if (statusBar_ != nullptr)
        statusBar_->setPart(part, text);
}

bool TextImageApp::eventFilter(QObject* watched, QEvent* event)
{
    // Toolbar buttons: no tool-tip popups.
    if (event->type() == QEvent::ToolTip)
        return true;
    return QObject::eventFilter(watched, event);
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

QFont TextImageApp::textBoxFont() const
{
    return textBox_ != nullptr ? textBox_->matchedFont() : QFont();
}

// --- Engine notifications ---

void TextImageApp::statusText(int part, const std::string& text)
{
    setStatus(part, QString::fromStdString(text));
}

void TextImageApp::fontChanged()
{
    if (textBox_ != nullptr)
        textBox_->setMatchedFont(matchedFont_.fontFor(engine_));
}

void TextImageApp::atlasRebuilt()
{
    if (atlasPane_ != nullptr)
        atlasPane_->setImage(engine_.glyphAtlas());
    if (textBox_ != nullptr)
        textBox_->setGlyphWidths(engine_.glyphTable());
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
    if (textBox_ != nullptr)
        textBox_->showText(text);
}

}  // namespace morvel
