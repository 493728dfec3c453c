#include "imaging/SidecarFile.h"

#include "model/FileDescriptorWriter.h"
#include "model/LocalFileName.h"
#include "model/NoReplaceRename.h"
#include "model/TemporaryFileSweep.h"

#include <QCoreApplication>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemReason(int error)
{
    return qt_error_string(error);
}

QString notARegularFile()
{
    return QCoreApplication::translate("SidecarFile", "附属文件不是普通文件");
}

bool sameFile(const struct stat &info, const SidecarFile::Snapshot &read)
{
    return info.st_dev == read.device && info.st_ino == read.inode && info.st_size == read.size &&
           info.st_mtim.tv_sec == read.modified.tv_sec &&
           info.st_mtim.tv_nsec == read.modified.tv_nsec;
}

// A hidden temporary name beside `path` (the scan skips hidden names),
// created exclusively; -1 when none can be made.
int createTemporary(const QByteArray &path, mode_t mode, QByteArray *temporary)
{
    const QByteArray folder = path.left(path.lastIndexOf('/') + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temporary =
            folder + TemporaryFileSweep::randomName(SidecarFile::kTemporaryPrefix).toLatin1();
        const int fd =
            ::open(temporary->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// What lies at `path` now is the file `read` came from (or, for a snapshot of
// no file, nothing lies there).
bool stillAsRead(const QByteArray &path, const SidecarFile::Snapshot &read, int *error)
{
    struct stat info;
    if (::lstat(path.constData(), &info) != 0) {
        *error = errno;
        return *error == ENOENT && !read.exists;
    }
    return read.exists && sameFile(info, read);
}

} // namespace

std::optional<SidecarFile::Snapshot> SidecarFile::read(const QString &path, QString *error)
{
    // O_NONBLOCK: opening a FIFO with no writer returns at once.
    const int fd = ::open(LocalFileName::encode(path).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *error = errno == ELOOP ? notARegularFile() : systemReason(errno);
        return std::nullopt;
    }
    Snapshot snapshot;
    struct stat info;
    bool ok = false;
    if (::fstat(fd, &info) != 0) {
        *error = systemReason(errno);
    } else if (!S_ISREG(info.st_mode)) {
        *error = notARegularFile();
    } else if (info.st_size > kMaxSize) {
        *error = QCoreApplication::translate("SidecarFile", "附属文件超过 16 MB");
    } else {
        snapshot.content.resize(info.st_size);
        qsizetype done = 0;
        while (done < snapshot.content.size()) {
            const ssize_t n =
                ::read(fd, snapshot.content.data() + done, size_t(snapshot.content.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
        ok = done == snapshot.content.size();
        if (!ok)
            *error = systemReason(errno);
    }
    ::close(fd);
    if (!ok)
        return std::nullopt;
    snapshot.exists = true;
    snapshot.device = info.st_dev;
    snapshot.inode = info.st_ino;
    snapshot.size = info.st_size;
    snapshot.modified = info.st_mtim;
    return snapshot;
}

SidecarFile::Replaced SidecarFile::replace(const QString &path, const Snapshot &read,
                                           const QByteArray &content, QString *error)
{
    const QByteArray target = LocalFileName::encode(path);
    QByteArray temporary;
    const int fd = createTemporary(target, 0666, &temporary);
    if (fd < 0) {
        *error = systemReason(errno);
        return Replaced::failed;
    }
    struct stat original;
    const bool keepMode = read.exists && ::lstat(target.constData(), &original) == 0;
    const bool written =
        FileDescriptorWriter::writeAll(fd, content.constData(), size_t(content.size())) &&
        (!keepMode || ::fchmod(fd, original.st_mode & 07777) == 0) && ::fsync(fd) == 0;
    const int writeError = errno;
    if (::close(fd) != 0 || !written) {
        *error = systemReason(written ? errno : writeError);
        ::unlink(temporary.constData());
        return Replaced::failed;
    }
    int checkError = 0;
    if (!stillAsRead(target, read, &checkError)) {
        ::unlink(temporary.constData());
        if (checkError != 0 && checkError != ENOENT) {
            *error = systemReason(checkError);
            return Replaced::failed;
        }
        return Replaced::changedMeanwhile;
    }
    if (read.exists) {
        if (::rename(temporary.constData(), target.constData()) == 0)
            return Replaced::done;
        *error = systemReason(errno);
        ::unlink(temporary.constData());
        return Replaced::failed;
    }
    // A new name: never over a file another program made a moment ago.
    switch (NoReplaceRename::rename(temporary, target)) {
    case NoReplaceRename::Result::done:
        return Replaced::done;
    case NoReplaceRename::Result::nameTaken:
        ::unlink(temporary.constData());
        return Replaced::changedMeanwhile;
    case NoReplaceRename::Result::unsupported:
        // Checked just above; the moment between the check and the rename is
        // all such a file system leaves.
        if (::rename(temporary.constData(), target.constData()) == 0)
            return Replaced::done;
        break;
    default:
        break;
    }
    *error = systemReason(errno);
    ::unlink(temporary.constData());
    return Replaced::failed;
}

int SidecarFile::removeStaleTemporaries(const QString &folder)
{
    return TemporaryFileSweep::removeStale(folder, kTemporaryPrefix, staleTemporaryAgeSeconds);
}
