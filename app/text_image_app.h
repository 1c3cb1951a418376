// The application object: owns the engine, the main window with all its
// children, and the strings (image path, help text); turns toolbar commands,
// slider interactions and file drops into engine operations, and engine
// notifications into widget updates.
#pragma once

#include <QFont>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <memory>
#include <string>

#include "app/dialogs.h"
#include "app/matched_font.h"
#include "app/status_parts.h"
#include "app/window_layout.h"
#include "app/window_settings.h"
#include "cli/cell_colours.h"
#include "engine/text_engine.h"
#include "engine/text_picture.h"

class QAction;
class QLabel;
class QStatusBar;
class QToolBar;

namespace morvel {

class ControlStrip;
class ControlStrip;
class ImageView;
class LevelSlider;
class Splitter;
class TextBox;

// The toolbar's commands, buttons 0 to 4.
enum CommandId : int {
    ID_OPEN_IMAGE = 50001,
    ID_CHOOSE_FONT = 50002,
    ID_BLUR_FONT = 50003,
    ID_TOGGLE_MATCH = 50004,
    ID_GENERATE = 50005,
};

// Resource path of the help text.
inline constexpr const char* kHelpTextResource = ":/morvel/help.txt";

// A font description for a font picked in the toolkit's dialog, starting from
// `base` (whose precision, quality and character-set fields are kept): the
// family cut to 31 characters, the em height as a negative pixel height at
// `dpi`, the weight on the 0..1000 scale, italic, underline and strike-out.
LogFont logFontFromQFont(const QFont& font, const LogFont& base, int dpi);

// The main window: a plain top-level widget whose children are placed by hand.
class MainWindow final : public QWidget {
    Q_OBJECT
public:
    MainWindow();

signals:
    void resized();

protected:
    void resizeEvent(QResizeEvent* event) override;
};

class TextImageApp final : public QObject, private EngineObserver {
    Q_OBJECT
public:
    // `dialogs` answers the open and font dialogs; the toolkit's own when none.
    explicit TextImageApp(std::unique_ptr<Dialogs> dialogs = nullptr);
    ~TextImageApp() override;

    // Builds the window and its children, sizes and shows it, sets the default
    // font, builds and blurs the atlas and shows the help text.
    void createWindows();
    // Places every child from the current sizes and the max glyph width.
    void layout();

    // Sets the controls (the command line's choices before the first
    // picture); the start-up state when left alone.
    void applySettings(const WindowSettings& settings);
    WindowSettings settings() const;
    // The engine's settings for the next Generate: the controls', the
    // toggle's and the slider's.
    TextSettings runSettings() const;

    // Runs one toolbar command; other ids do nothing.
    void handleCommand(int id);
    // One slot per action.
    void openImage();
    void chooseFontAndRebuild();
    void blurOnce();
    void toggleMatch();
    void generate();
    // Copies the whole text box to the clipboard.
    void copyAll();
    // Writes the hint of a toolbar button into status part 0. False for an id
    // that is not one of the five commands.
    bool showToolHint(int id);
    // A drop on the image pane: the first path is loaded, the rest ignored.
    void dropFiles(const QStringList& paths);
    // A picture named on the command line: loaded as a drop of that one file.
    void openPicture(const QString& path);
    // The end of a slider interaction: applies the slider's position.
    void finishSliderInteraction();

    // The open dialog; true when a file was chosen (the image path is then set).
    bool chooseImageFile();
    // Loads the picture named by the image path.
    void loadImage();
    // The font dialog; on OK the engine takes the new description and the
    // atlas is rebuilt (true). Cancelled: nothing changes (false).
    bool chooseFont();
    // Ctrl+S: the save dialog, then the text box's text into the chosen file
    // as plain text, or as an HTML page for a name ending in .html or .htm;
    // the status bar says where it went, or why it did not.
    void saveText();
    // Reads the help text from the program's resources (empty when missing).
    void loadHelpText();

    // --- For tests and tools ---
    TextEngine& engine() { return engine_; }
    MainWindow* mainWindow() const { return window_.get(); }
    ImageView* atlasPane() const { return atlasPane_; }
    ImageView* imagePane() const { return imagePane_; }
    Splitter* splitter() const { return splitter_; }
    TextBox* textBox() const { return textBox_; }
    ControlStrip* controls() const { return controls_; }
    QToolBar* toolbar() const { return toolbar_; }
    QAction* action(int id) const;
    LevelSlider* slider() const { return slider_; }
    QStatusBar* statusBar() const;
    QString statusPartText(int part) const;
    QLabel* statusPartLabel(int part) const;
    const QString& imagePath() const { return imagePath_; }
    void setImagePath(const QString& path) { imagePath_ = path; }
    const std::string& helpText() const { return helpText_; }
    QFont textBoxFont() const;
    WindowLayout currentLayout() const;

protected:
    // Keeps tool-tip popups off the toolbar buttons (their hints go to the
    // status bar instead).
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // EngineObserver
    void statusText(int part, const std::string& text) override;
    void fontChanged() override;
    void atlasRebuilt() override;
    void atlasBlurred() override;
    void blackLevelRangeChanged(int32_t range) override;
    void workingImageChanged() override;
    void generationStarted() override;
    void generationFinished() override;
    void textChanged(const std::string& text) override;

    void createToolbar();
    void createTextBox();
    void createControls();
    void createKeys();
    void setFocusChain();
    void setStatus(int part, const QString& text);
    // The columns "Fit" gives: as many as the text box shows at its width.
    int32_t fittingColumns() const;
    // The loaded picture's colour, read when first needed (none for a
    // picture without colour).
    const ImageRecord* pictureColour();
    // The colours of the last text's cells; empty without colour.
    std::vector<cli::Rgb> cellColoursShown();
    // Colours each character of the text box as its cell, or not at all.
    void showColours();
    // The text box light on dark for an inverted text, else dark on light.
    void showInverted(bool on);
    // Writes the text as an HTML page.
    bool saveHtml(const QString& path, QString& error);
    bool saveTextPicture(const QString& path, TextPictureFormat format, QString& error);

    // The engine is declared first so that it outlives the window, whose
    // panes show the engine's pictures.
    TextEngine engine_;
    std::unique_ptr<Dialogs> dialogs_;
    std::unique_ptr<MainWindow> window_;
    ImageView* atlasPane_ = nullptr;
    ImageView* imagePane_ = nullptr;
    Splitter* splitter_ = nullptr;
    TextBox* textBox_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    std::array<QAction*, 5> actions_{};
    LevelSlider* slider_ = nullptr;
    ControlStrip* controls_ = nullptr;
    StatusParts* statusBar_ = nullptr;
    MatchedFont matchedFont_;

    // The file last chosen or dropped, and the picture that is loaded.
    QString imagePath_;
    QString picturePath_;
    QString savedPath_;
    std::string helpText_;
    ImageHandle colour_;
    bool colourRead_ = false;
};

}  // namespace morvel
