// Saving the text box's text (Ctrl+S): the text with every line ended by LF,
// in UTF-8, or an HTML page, through the one safe file writer; never over
// the picture itself.
#pragma once

#include <QString>

namespace morvel {

// Writes `text` (lines separated by '\n', as the text box gives them) to
// `path`, ending its last line too. Refuses when `path` is the file at
// `picturePath`. False on failure, with `error` saying why.
bool saveTextFile(const QString& path, const QString& text, const QString& picturePath, QString& error);

// Writes `bytes` as they are to `path`, with the refusals of saveTextFile.
bool saveBytesFile(const QString& path, const QByteArray& bytes, const QString& picturePath, QString& error);

// Whether `path` names an HTML page (ends in .html or .htm, any case).
bool isHtmlName(const QString& path);

// Where the save dialog starts: a file beside the picture named after it
// (photo.jpg: photo.txt), else the last file saved, else nothing.
QString saveStartPath(const QString& lastSaved, const QString& picturePath);

}  // namespace morvel
