#include "app/save_text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/output_file.h"

namespace morvel {
namespace {

// Whether two names reach the same file (hard and symbolic links included).
bool sameFile(const QByteArray& a, const QByteArray& b)
{
    struct stat first {
    }, second{};
    return ::stat(a.constData(), &first) == 0 && ::stat(b.constData(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

// A named pipe that nobody reads from would stop the window until someone
// does: such a pipe is refused up front. (A reader that leaves in the moment
// between this look and the write still lets the write wait.)
bool pipeWithoutReader(const QByteArray& path)
{
    struct stat info {};
    if (::stat(path.constData(), &info) != 0 || !S_ISFIFO(info.st_mode))
        return false;
    const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENXIO;
    ::close(fd);
    return false;
}

}  // namespace

bool saveTextFile(const QString& path, const QString& text, const QString& picturePath, QString& error)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.isEmpty() && !bytes.endsWith('\n'))
        bytes.append('\n');
    return saveBytesFile(path, bytes, picturePath, error);
}

bool isHtmlName(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("html") || suffix == QLatin1String("htm");
}

bool saveBytesFile(const QString& path, const QByteArray& bytes, const QString& picturePath, QString& error)
{
    const QByteArray target = QFile::encodeName(path);
    if (!picturePath.isEmpty() && sameFile(target, QFile::encodeName(picturePath))) {
        error = QStringLiteral("will not write over the picture");
        return false;
    }
    if (pipeWithoutReader(target)) {
        error = QStringLiteral("nobody reads from this pipe");
        return false;
    }
    std::string why;
    if (!writeFileSafely(target.toStdString(), std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())),
                         why)) {
        error = QString::fromLocal8Bit(why.c_str());
        return false;
    }
    return true;
}

QString saveStartPath(const QString& lastSaved, const QString& picturePath)
{
    if (picturePath.isEmpty())
        return lastSaved;
    const QFileInfo picture(picturePath);
    return picture.dir().filePath(picture.completeBaseName() + QStringLiteral(".txt"));
}

}  // namespace morvel
