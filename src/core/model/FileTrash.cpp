#include "model/FileTrash.h"

#include "model/FileDescriptorWriter.h"
#include "model/LocalFileName.h"
#include "model/MountPoints.h"
#include "model/NoReplaceRename.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Enough for any number of trashings of one name; stops a trash whose every
// name is taken from looping for ever.
constexpr int kMaxNameAttempts = 10000;

using Rename = NoReplaceRename::Result;

QByteArray encoded(const QString &path)
{
    return LocalFileName::encode(path);
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString parentOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// $XDG_DATA_HOME when it is set to an absolute path, else ~/.local/share.
QString dataHome()
{
    const QString configured = qEnvironmentVariable("XDG_DATA_HOME");
    if (QDir::isAbsolutePath(configured))
        return QDir::cleanPath(configured);
    return QDir::homePath() + QStringLiteral("/.local/share");
}

// The device of `path` or, while it does not exist yet, of its nearest
// existing ancestor (links followed: the trash is where they lead).
bool deviceOf(QString path, dev_t *device)
{
    for (;;) {
        struct stat info;
        if (::stat(encoded(path).constData(), &info) == 0) {
            *device = info.st_dev;
            return true;
        }
        if (errno != ENOENT || path == QLatin1String("/"))
            return false;
        path = parentOf(path);
    }
}

// The folder where the file system holding `folder` is mounted.
QString topFolderOf(QString folder)
{
    const MountPoints mounts;
    while (folder != QLatin1String("/") && !mounts.contains(encoded(folder)))
        folder = parentOf(folder);
    return folder;
}

enum class Links { followed, refused };

// Makes `path` a folder (0700) unless it is one already. A top folder's
// trash must be a real folder of this user: a link or another user's folder
// there could send files where nobody expects them.
bool makeFolder(const QString &path, Links links, QString *error)
{
    const QByteArray bytes = encoded(path);
    if (::mkdir(bytes.constData(), 0700) != 0 && errno != EEXIST) {
        *error = systemError(errno);
        return false;
    }
    struct stat info;
    const int looked = links == Links::followed ? ::stat(bytes.constData(), &info)
                                                : ::lstat(bytes.constData(), &info);
    if (looked != 0) {
        *error = systemError(errno);
        return false;
    }
    if (S_ISLNK(info.st_mode)) {
        *error = QStringLiteral("「") + path + QStringLiteral("」是符号链接");
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        *error = QStringLiteral("「") + path + QStringLiteral("」不是文件夹");
        return false;
    }
    if (links == Links::refused && info.st_uid != ::getuid()) {
        *error = QStringLiteral("「") + path + QStringLiteral("」属于其他用户");
        return false;
    }
    return true;
}

// A trash folder (holding files/ and info/) on the file's own file system.
struct TrashFolder
{
    QString path;
    QString topFolder; // what Path= is relative to; empty for the home trash (absolute)
    QString error;     // why there is none, when path is empty
};

TrashFolder homeTrash()
{
    const QString home = dataHome();
    QString error;
    QDir().mkpath(home);
    const QString trash = home + QStringLiteral("/Trash");
    if (!makeFolder(trash, Links::followed, &error))
        return {{}, {}, error};
    return {trash, {}, {}};
}

TrashFolder topFolderTrash(const QString &file)
{
    const QString top = topFolderOf(parentOf(file));
    const QString base = top == QLatin1String("/") ? QString() : top;
    const QString uid = QString::number(::getuid());
    QString error;

    // An administrator's shared .Trash counts only when it is a real folder
    // with the sticky bit, so that users cannot remove each other's folders.
    const QString shared = base + QStringLiteral("/.Trash");
    struct stat info;
    if (::lstat(encoded(shared).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
        (info.st_mode & S_ISVTX)) {
        const QString own = shared + QLatin1Char('/') + uid;
        if (makeFolder(own, Links::refused, &error))
            return {own, top, {}};
    }
    const QString own = base + QStringLiteral("/.Trash-") + uid;
    if (makeFolder(own, Links::refused, &error))
        return {own, top, {}};
    return {{}, {}, error};
}

TrashFolder trashFor(const QString &file, dev_t fileDevice)
{
    TrashFolder trash;
    dev_t homeDevice = 0;
    if (deviceOf(dataHome() + QStringLiteral("/Trash"), &homeDevice) && homeDevice == fileDevice)
        trash = homeTrash();
    else
        trash = topFolderTrash(file);
    QString error;
    if (!trash.path.isEmpty() &&
        (!makeFolder(trash.path + QStringLiteral("/files"), Links::refused, &error) ||
         !makeFolder(trash.path + QStringLiteral("/info"), Links::refused, &error)))
        trash = {{}, {}, error};
    dev_t trashDevice = 0;
    if (!trash.path.isEmpty() && (!deviceOf(trash.path + QStringLiteral("/files"), &trashDevice) ||
                                  trashDevice != fileDevice))
        trash = {{}, {}, QStringLiteral("废纸篓在另一个磁盘上")};
    if (trash.path.isEmpty())
        trash.error = QStringLiteral("此文件所在的磁盘上无法使用废纸篓：") + trash.error;
    return trash;
}

// `fileName` with _k before its extension (what follows the last dot); k = 0
// is the name itself.
QString numberedName(const QString &fileName, int k)
{
    if (k == 0)
        return fileName;
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString number = QLatin1Char('_') + QString::number(k);
    return dot <= 0 ? fileName + number : fileName.left(dot) + number + fileName.mid(dot);
}

QByteArray trashInfo(const QString &file, const QString &topFolder)
{
    QString path = file;
    if (!topFolder.isEmpty())
        path = file.mid(topFolder == QLatin1String("/") ? 1 : topFolder.size() + 1);
    const QString now =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd'T'hh:mm:ss"));
    return "[Trash Info]\nPath=" + QUrl::toPercentEncoding(encoded(path), "/") +
           "\nDeletionDate=" + now.toLatin1() + '\n';
}

// Creates `path` exclusively with `content`; false with errno set when the
// name is taken (EEXIST) or the file cannot be written (then it is removed).
bool createExclusively(const QByteArray &path, const QByteArray &content)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool written =
        FileDescriptorWriter::writeAll(fd, content.constData(), size_t(content.size()));
    const int writeError = errno;
    if (::close(fd) == 0 && written)
        return true;
    ::unlink(path.constData());
    errno = written ? EIO : writeError;
    return false;
}

// A rename that never replaces a file. File systems that rename only by
// replacing (exFAT, FUSE mounts) get the new name taken first by an empty
// file of ours, which the rename then replaces: no one else's file is ever
// at risk. `error` gets the errno of a failure.
Rename moveWithoutReplacing(const QByteArray &from, const QByteArray &to, int *error)
{
    const Rename result = NoReplaceRename::rename(from, to);
    *error = errno;
    if (result != Rename::unsupported)
        return result;
    if (!createExclusively(to, QByteArray())) {
        *error = errno;
        return errno == EEXIST ? Rename::nameTaken : Rename::failed;
    }
    if (::rename(from.constData(), to.constData()) == 0)
        return Rename::done;
    *error = errno;
    ::unlink(to.constData());
    return Rename::failed;
}

// Where the file really is: its folder with symbolic links resolved, which
// decides its file system and what its trash records.
QString realLocation(const QString &file)
{
    char *folder = ::realpath(encoded(parentOf(file)).constData(), nullptr);
    if (folder == nullptr)
        return file;
    const QString real = LocalFileName::decode(folder, qsizetype(std::strlen(folder)));
    std::free(folder);
    return (real == QLatin1String("/") ? QString() : real) +
           file.mid(file.lastIndexOf(QLatin1Char('/')));
}

bool nameIsFree(const QString &path)
{
    struct stat info;
    return ::lstat(encoded(path).constData(), &info) != 0 && errno == ENOENT;
}

} // namespace

FileTrash::Trashed FileTrash::moveToTrash(const QString &path)
{
    const QString file = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QByteArray source = encoded(file);
    struct stat info;
    if (::lstat(source.constData(), &info) != 0)
        return {{}, systemError(errno)};
    const QString real = realLocation(file);
    const TrashFolder trash = trashFor(real, info.st_dev);
    if (trash.path.isEmpty())
        return {{}, trash.error};

    const QByteArray content = trashInfo(real, trash.topFolder);
    const QString fileName = file.mid(file.lastIndexOf(QLatin1Char('/')) + 1);
    for (int k = 0; k <= kMaxNameAttempts; ++k) {
        const QString name = numberedName(fileName, k);
        const Entry entry{file, trash.path + QStringLiteral("/files/") + name,
                          trash.path + QStringLiteral("/info/") + name +
                              QStringLiteral(".trashinfo")};
        // The info file reserves the name among trashing programs.
        if (!createExclusively(encoded(entry.infoPath), content)) {
            if (errno == EEXIST)
                continue;
            return {{}, systemError(errno)};
        }
        // A file left in files/ without its info file keeps its name too.
        if (!nameIsFree(entry.trashedPath)) {
            ::unlink(encoded(entry.infoPath).constData());
            continue;
        }
        int error = 0;
        const Rename moved = moveWithoutReplacing(source, encoded(entry.trashedPath), &error);
        if (moved == Rename::done)
            return {entry, {}};
        ::unlink(encoded(entry.infoPath).constData());
        if (moved != Rename::nameTaken)
            return {{}, systemError(error)};
    }
    return {{}, QStringLiteral("废纸篓中的同名文件过多")};
}

QString FileTrash::restore(const Entry &entry)
{
    if (!entry.isValid() || nameIsFree(entry.trashedPath))
        return QStringLiteral("废纸篓中已没有此文件");
    int error = 0;
    switch (moveWithoutReplacing(encoded(entry.trashedPath), encoded(entry.originalPath), &error)) {
    case Rename::done:
        ::unlink(encoded(entry.infoPath).constData());
        return {};
    case Rename::nameTaken:
        return QStringLiteral("原位置已有同名文件");
    default:
        if (error == ENOENT)
            return QStringLiteral("原来的文件夹已不存在");
        return systemError(error);
    }
}
