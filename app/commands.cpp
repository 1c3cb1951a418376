// The window's commands: one slot per toolbar button or key, and what they
// share (loading a picture, the hints, saving and copying the text).
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <algorithm>
#include <string>

#include "app/control_strip.h"
#include "app/level_slider.h"
#include "app/save_text.h"
#include "app/text_box.h"
#include "app/text_image_app.h"
#include "cli/html_page.h"
#include "image/load_picture.h"
#include "platform/font.h"
#include "platform/printable_name.h"
#include "view/image_view.h"

namespace morvel {
namespace {

QString fromBytes(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString pictureStatus(const std::string& displayName, const ImageRecord* working)
{
    const QString name = fromBytes(displayName);
    if (working == nullptr)
        return name;
    return QStringLiteral("%1 (%2 x %3)").arg(name).arg(working->header.biWidth).arg(working->rowCount);
}

}  // namespace

void TextImageApp::handleCommand(int id)
{
    switch (id) {
    case ID_OPEN_IMAGE:
        openImage();
        break;
    case ID_CHOOSE_FONT:
        chooseFontAndRebuild();
        break;
    case ID_BLUR_FONT:
        blurOnce();
        break;
    case ID_TOGGLE_MATCH:
        toggleMatch();
        break;
    case ID_GENERATE:
        generate();
        break;
    default:
        break;
    }
}

void TextImageApp::openImage()
{
    if (chooseImageFile())
        loadImage();
}

void TextImageApp::chooseFontAndRebuild()
{
    // Only a chosen font rebuilds the atlas (unblurred); a cancelled dialog
    // leaves the atlas and its blurs alone.
    if (chooseFont())
        engine_.buildGlyphAtlas();
}

void TextImageApp::blurOnce()
{
    engine_.blurFont();
    if (atlasPane_ != nullptr)
        atlasPane_->refresh();
    engine_.updateBlackLevelRange();
}

void TextImageApp::toggleMatch()
{
    const bool toCorrelation = engine_.matchMode() != MatchMode::Correlation;
    engine_.setMatchMode(toCorrelation ? MatchMode::Correlation : MatchMode::Difference);
    if (QAction* toggle = action(ID_TOGGLE_MATCH))
        toggle->setChecked(!toCorrelation);
    if (toCorrelation) {
        if (slider_ != nullptr)
            slider_->setValue(0);
        engine_.applyBlackLevel(0);
    }
}

void TextImageApp::generate()
{
    // With no picture the text box keeps what it shows (the help text,
    // say) and the status bar says what is missing.
    if (engine_.workingImage() == nullptr) {
        setStatus(0, QStringLiteral("Load a picture first"));
        return;
    }
    const TextSettings settings = runSettings();
    // At a size, the picture is read again as the converter reads it: a
    // loader may decode it at a reduced scale and shrink it while reading,
    // which is what makes the converter's text. Only the directions that
    // shrink are asked of the loader; the engine enlarges the others a band
    // at a time as it walks.
    std::optional<ColumnFit> fit;
    ImageHandle sized;
    if (settings.size.columns > 0 || settings.size.rows > 0) {
        LoadOptions options;
        options.fit = [this, &settings, &fit](int32_t width, int32_t height) -> std::optional<PictureSize> {
            fit = fitText(width, height, settings.size, engine_.maxGlyphWidth(), engine_.cellHeight());
            if (!fit)
                return std::nullopt;
            return PictureSize{std::min(width, fit->scaled.width), std::min(height, fit->scaled.height)};
        };
        sized = readPicture(QFile::encodeName(picturePath_).toStdString(), options).gray;
    }
    const ColumnFit* fitted = sized && fit ? &*fit : nullptr;
    engine_.generateTextImage(settings, std::move(sized), fitted);
    showColours();
}

void TextImageApp::applySettings(const WindowSettings& chosen)
{
    controls_->setSettings(chosen);
    showInverted(chosen.invert);
}

WindowSettings TextImageApp::settings() const
{
    return controls_->settings();
}

TextSettings TextImageApp::runSettings() const
{
    const WindowSettings chosen = controls_->settings();
    TextSettings run;
    run.mode = chosen.tone ? MatchMode::Tone : engine_.matchMode();
    run.gamma = chosen.gamma;
    run.invert = chosen.invert;
    if (chosen.width == WindowSettings::Width::Columns)
        run.size.columns = chosen.columns;
    else if (chosen.width == WindowSettings::Width::Fit)
        run.size.columns = fittingColumns();
    run.footerLevel = slider_->value();
    run.footerNamesMode = true;
    return run;
}

int32_t TextImageApp::fittingColumns() const
{
    // The text at the matched font's size (not the zoomed view's), in the
    // box's width less the document's margins.
    const int32_t glyphWidth = std::max(engine_.maxGlyphWidth(), 1);
    const int margins = 2 * static_cast<int>(textBox_->document()->documentMargin());
    const int32_t columns = (textBox_->viewport()->width() - margins) / glyphWidth;
    return std::clamp(columns, kMinColumns, kMaxColumns);
}

const ImageRecord* TextImageApp::pictureColour()
{
    if (!colourRead_ && !picturePath_.isEmpty()) {
        colourRead_ = true;
        LoadOptions options;
        options.colour = true;
        colour_ = std::move(readPicture(QFile::encodeName(picturePath_).toStdString(), options).colour);
    }
    return colour_.get();
}

std::vector<cli::Rgb> TextImageApp::cellColoursShown()
{
    const TextImage& last = engine_.lastTextImage();
    if (!controls_->settings().colour || last.cells.empty() || engine_.outputText() != last.text)
        return {};
    const ImageRecord* colour = pictureColour();
    if (colour == nullptr)
        return {};
    return cli::cellColours(last, *colour);
}

void TextImageApp::showColours()
{
    std::vector<QColor> colours;
    // Only while the box shows the last text as it was made.
    if (textBox_->toPlainText() ==
        QString::fromStdString(engine_.outputText()).replace(QLatin1String("\r\n"), QLatin1String("\n"))) {
        for (const cli::Rgb& c : cellColoursShown())
            colours.emplace_back(c.red, c.green, c.blue);
    }
    textBox_->setCharacterColours(std::move(colours), engine_.lastTextImage().lineCount);
}

void TextImageApp::showInverted(bool on)
{
    QPalette palette = textBox_->palette();
    const QPalette standard = QApplication::palette(textBox_);
    const bool darkStandard = standard.color(QPalette::Base).lightness() < standard.color(QPalette::Text).lightness();
    if (on == darkStandard) {
        palette = standard;
    } else {
        palette.setColor(QPalette::Base, standard.color(QPalette::Text));
        palette.setColor(QPalette::Text, standard.color(QPalette::Base));
    }
    textBox_->setPalette(palette);
}

void TextImageApp::copyAll()
{
    if (textBox_ == nullptr)
        return;
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(textBox_->toPlainText());
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
        if (controls_->settings().tone)
            hint = QStringLiteral("Match type: tone (Tone is on)");
        break;
    case ID_GENERATE:
        hint = QStringLiteral("Generate the text image (F5)");
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
    if (!loaded.gray) {
        // Everything stays as it was (picture, title, slider, the name the
        // footer shows); the status bar says why, in the converter's words.
        setStatus(0, fromBytes(loaded.error));
        return;
    }
    picturePath_ = imagePath_;
    colour_.reset();
    colourRead_ = false;
    engine_.setSourceImage(std::move(loaded.gray));
    engine_.setDisplayName(printableName(displayNameOf(path)));
    if (window_)
        window_->setWindowTitle(fromBytes(engine_.displayName()) + QStringLiteral(" - Morvel"));
    if (slider_ != nullptr)
        slider_->setValue(0);
    engine_.applyBlackLevel(0);
    if (imagePane_ != nullptr)
        imagePane_->setImage(engine_.workingImage());
    // A picture drawn past damage says what is wrong with it, in the
    // converter's words.
    setStatus(0, !loaded.warning.empty() ? fromBytes(loaded.warning)
                                         : pictureStatus(engine_.displayName(), engine_.workingImage()));
}

bool TextImageApp::chooseFont()
{
    const LogFont& current = engine_.fontDescription();
    QFont start = textBoxFont();
    if (engine_.pointSize() > 0)
        start.setPointSize(engine_.pointSize());
    start.setWeight(qtWeight(current));
    start.setItalic(current.lfItalic != 0);
    const std::optional<QFont> chosen = dialogs_->chooseFont(window_.get(), start);
    if (!chosen)
        return false;
    return engine_.applyFontDescription(logFontFromQFont(*chosen, current, engine_.dpi()));
}

void TextImageApp::saveText()
{
    if (textBox_ == nullptr)
        return;
    const std::optional<QString> chosen = dialogs_->saveText(window_.get(), saveStartPath(savedPath_, picturePath_));
    if (!chosen)
        return;
    QString error;
    const std::optional<TextPictureFormat> picture = textPictureFormatOf(QFile::encodeName(*chosen).toStdString());
    const bool saved = picture               ? saveTextPicture(*chosen, *picture, error)
                       : isHtmlName(*chosen) ? saveHtml(*chosen, error)
                                             : saveTextFile(*chosen, textBox_->toPlainText(), picturePath_, error);
    if (saved) {
        savedPath_ = *chosen;
        setStatus(0, QStringLiteral("Text saved to %1").arg(QFileInfo(*chosen).fileName()));
    } else {
        setStatus(0, QStringLiteral("Cannot save %1: %2").arg(QFileInfo(*chosen).fileName(), error));
    }
}

bool TextImageApp::saveTextPicture(const QString& path, TextPictureFormat format, QString& error)
{
    // The text as the box shows it, drawn in the face it was matched with;
    // the colours go with the text as it was made, not with edits.
    const Font* font = engine_.font();
    if (font == nullptr) {
        error = QStringLiteral("no font to draw the text with");
        return false;
    }
    QString shownText = textBox_->toPlainText();
    if (!shownText.isEmpty() && !shownText.endsWith(QLatin1Char('\n')))
        shownText += QLatin1Char('\n');
    const std::string text = shownText.toStdString();
    const std::vector<cli::Rgb> colours =
        shownText == QString::fromStdString(engine_.outputText()).replace(QLatin1String("\r\n"), QLatin1String("\n"))
            ? cellColoursShown()
            : std::vector<cli::Rgb>();
    std::vector<uint8_t> rgb;
    rgb.reserve(colours.size() * 3);
    for (const cli::Rgb& c : colours)
        rgb.insert(rgb.end(), {c.red, c.green, c.blue});
    TextPictureStyle style;
    style.dark = controls_->settings().invert;
    if (!rgb.empty()) {
        style.colours = rgb.data();
        style.colourCount = colours.size();
        style.colouredLines = engine_.lastTextImage().lineCount;
    }
    std::string why;
    const std::optional<std::string> bytes = textPictureBytes(format, text, *font, style, why);
    if (!bytes) {
        error = QString::fromStdString(why);
        return false;
    }
    return saveBytesFile(path, QByteArray::fromStdString(*bytes), picturePath_, error);
}

bool TextImageApp::saveHtml(const QString& path, QString& error)
{
    // The converter's page, from the text as the box shows it.
    cli::HtmlStyle style;
    const Font* font = engine_.font();
    style.face = font != nullptr ? font->faceUsed() : engine_.faceName();
    style.pixelSize = font != nullptr ? font->pixelSize() : engine_.cellHeight();
    style.lineHeight = engine_.cellHeight();
    style.advances = cli::glyphAdvances(engine_.atlasView());
    QString shown = textBox_->toPlainText();
    shown.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    if (!shown.isEmpty() && !shown.endsWith(QLatin1Char('\n')))
        shown += QLatin1String("\r\n");
    // Inverted text is light on dark: the page's ground follows it.
    style.dark = controls_->settings().invert;
    const std::string text = shown.toStdString();
    std::string page = cli::htmlPageStart(style, engine_.displayName());
    // The colours go with the text as it was made, not with edits.
    const std::vector<cli::Rgb> colours = text == engine_.outputText() ? cellColoursShown() : std::vector<cli::Rgb>();
    page += cli::htmlPre(style, text, engine_.lastTextImage().lineCount, colours,
                         colours.empty() ? cli::ColourMode::None : cli::ColourMode::TrueColour);
    page += cli::htmlPageEnd();
    return saveBytesFile(path, QByteArray::fromStdString(page), picturePath_, error);
}

}  // namespace morvel
