// The modal dialogs the window uses, behind an interface so that tests
// can answer them without a person at the screen.
#pragma once

#include <QFont>
#include <QString>
#include <memory>
#include <optional>

class QWidget;

namespace morvel {

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // An open-file dialog starting at `startPath`; the chosen file, or none
    // when it was cancelled.
    virtual std::optional<QString> openImage(QWidget* parent, const QString& startPath) = 0;
    // A font dialog starting from `start`; the chosen font, or none when it
    // was cancelled.
    virtual std::optional<QFont> chooseFont(QWidget* parent, const QFont& start) = 0;
    // A save-file dialog starting at `startPath`; the chosen file, or none
    // when it was cancelled.
    virtual std::optional<QString> saveText(QWidget* parent, const QString& startPath) = 0;
};

// The file filter of the open dialog: pictures first, then everything.
inline constexpr const char* kImageFileFilter =
    "Images (*.gif *.jpg *.jpeg *.png *.webp *.heic *.heif *.avif *.tif *.tiff *.bmp);;All (*)";

// The file filter of the save dialog: plain text, an HTML page, or the text
// drawn as a PNG or SVG picture; a name without an extension takes that of
// the type chosen.
inline constexpr const char* kTextFileFilter =
    "Text (*.txt);;HTML page (*.html *.htm);;PNG picture (*.png);;SVG picture (*.svg);;All (*)";

// The toolkit's own dialogs.
std::unique_ptr<Dialogs> makeStandardDialogs();

}  // namespace morvel
