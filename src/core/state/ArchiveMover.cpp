#include "state/ArchiveMover.h"

#include "model/BackgroundTask.h"
#include "model/FileDescriptorWriter.h"
#include "model/LocalFileName.h"
#include "model/NoReplaceRename.h"
#include "state/AppState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QtConcurrent/QtConcurrentRun>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Enough for any real clash; stops a file system that keeps refusing names
// (a name that lstat cannot see but rename can) from looping for ever.
constexpr int kMaxNameAttempts = 10000;

QByteArray encoded(const QString &path)
{
    return LocalFileName::encode(path);
}

enum class NameState { free, taken, unusable };

// ENOENT alone means free: a dangling symbolic link takes the name, and any
// other error (no search permission, a name too long) makes it unusable.
NameState nameState(const QString &path)
{
    struct stat info;
    if (::lstat(encoded(path).constData(), &info) == 0)
        return NameState::taken;
    return errno == ENOENT ? NameState::free : NameState::unusable;
}

using Rename = NoReplaceRename::Result;

// Publishes `from` under the first free name for `fileName` in `folder`.
QString publishUnderFreeName(const QByteArray &from, const QString &fileName, const QString &folder,
                             Rename *last)
{
    *last = Rename::failed;
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        const QString candidate = ArchiveMover::uniqueURL(fileName, folder);
        if (candidate.isEmpty())
            return {};
        *last = NoReplaceRename::rename(from, encoded(candidate));
        if (*last == Rename::done)
            return candidate;
        if (*last != Rename::nameTaken)
            return {};
    }
    return {};
}

bool syncFolder(const QString &folder)
{
    const int fd = ::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

// An open descriptor that is closed on every path out.
class Descriptor
{
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool copyBytes(int from, int to)
{
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (!FileDescriptorWriter::writeAll(to, buffer.data(), size_t(got)))
            return false;
    }
}

// A copy of a file being made in the destination folder, removed again
// unless published: either a hidden file that gets its name afterwards, or,
// where the file system cannot rename without replacing, the free name itself
// taken with O_EXCL and filled in place.
class PartialCopy
{
public:
    explicit PartialCopy(const QString &folder)
    {
        for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
            m_path = encoded(
                QStringLiteral("%1/.kelvane-archive-%2.part")
                    .arg(folder)
                    .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0')));
            if (!create() && errno != EEXIST)
                break;
        }
    }
    PartialCopy(const QString &fileName, const QString &folder)
    {
        for (int attempt = 0; attempt < kMaxNameAttempts && m_fd < 0; ++attempt) {
            m_name = ArchiveMover::uniqueURL(fileName, folder);
            if (m_name.isEmpty())
                break;
            m_path = encoded(m_name);
            if (!create() && errno != EEXIST)
                break;
        }
    }
    ~PartialCopy()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (m_created && !m_published)
            ::unlink(m_path.constData());
    }
    PartialCopy(const PartialCopy &) = delete;
    PartialCopy &operator=(const PartialCopy &) = delete;

    // Every byte of `source` on disk, with its permissions and times, or false.
    bool fill(int source, const struct stat &sourceInfo)
    {
        if (m_fd < 0 || !copyBytes(source, m_fd) || ::fsync(m_fd) != 0)
            return false;
        struct stat copied;
        if (::fstat(m_fd, &copied) != 0 || copied.st_size != sourceInfo.st_size)
            return false;
        ::fchmod(m_fd, sourceInfo.st_mode & 07777);
        const struct timespec times[2] = {sourceInfo.st_atim, sourceInfo.st_mtim};
        ::futimens(m_fd, times);
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

    const QByteArray &path() const { return m_path; }
    // The name taken in place (second constructor).
    const QString &name() const { return m_name; }
    void markPublished() { m_published = true; }

private:
    bool create()
    {
        m_fd = ::open(m_path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        m_created = m_fd >= 0;
        return m_created;
    }

    QString m_name;
    QByteArray m_path;
    int m_fd = -1;
    bool m_created = false;
    bool m_published = false;
};

struct OpenSource
{
    explicit OpenSource(const QString &path)
        : descriptor(::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC))
    {
        usable =
            descriptor.isOpen() && ::fstat(descriptor.get(), &info) == 0 && S_ISREG(info.st_mode);
    }
    Descriptor descriptor;
    struct stat info = {};
    bool usable = false;
};

// The original goes only once its copy is complete and its folder synced.
// False when it cannot go (a read-only source folder): the caller then drops
// the copy, so the file stays in exactly one place.
bool removeCopiedSource(const QString &source, const QString &folder)
{
    syncFolder(folder);
    return ::unlink(encoded(source).constData()) == 0;
}

// The move where no rename can refuse an existing name: the free name is
// created exclusively and filled, then the source removed.
QString copyIntoFreeName(const QString &source, const QString &folder)
{
    OpenSource input(source);
    if (!input.usable)
        return {};
    PartialCopy copy(QFileInfo(source).fileName(), folder);
    if (!copy.fill(input.descriptor.get(), input.info) || !removeCopiedSource(source, folder))
        return {};
    copy.markPublished();
    return copy.name();
}

// The move across file systems: copy, verify, publish, then remove the source.
QString copyAcross(const QString &source, const QString &folder)
{
    OpenSource input(source);
    if (!input.usable)
        return {};
    PartialCopy copy(folder);
    if (!copy.fill(input.descriptor.get(), input.info))
        return {};
    Rename last = Rename::failed;
    const QString published =
        publishUnderFreeName(copy.path(), QFileInfo(source).fileName(), folder, &last);
    if (published.isEmpty())
        return last == Rename::unsupported ? copyIntoFreeName(source, folder) : QString();
    copy.markPublished();
    if (!removeCopiedSource(source, folder)) {
        ::unlink(encoded(published).constData());
        return {};
    }
    return published;
}

} // namespace

QString ArchiveMover::uniqueURL(const QString &fileName, const QString &folder)
{
    const QString candidate = folder + QLatin1Char('/') + fileName;
    NameState state = nameState(candidate);
    if (state != NameState::taken)
        return state == NameState::free ? candidate : QString();
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString base = dot < 0 ? fileName : fileName.left(dot);
    const QString extension = dot < 0 ? QString() : fileName.mid(dot + 1);
    for (int k = 1; k <= kMaxNameAttempts; ++k) {
        const QString name = base + QLatin1Char('_') + QString::number(k) +
                             (dot < 0 ? QString() : QLatin1Char('.') + extension);
        const QString next = folder + QLatin1Char('/') + name;
        state = nameState(next);
        if (state != NameState::taken)
            return state == NameState::free ? next : QString();
    }
    return {};
}

bool ArchiveMover::createFolder(const QString &folder, QString *error)
{
    const QString cleaned = QDir::cleanPath(folder);
    // Walk down from the first existing ancestor, so the error names the real cause.
    QStringList missing;
    QString path = cleaned;
    struct stat info;
    while (::stat(encoded(path).constData(), &info) != 0) {
        if (errno != ENOENT) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        missing.prepend(path);
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            break;
        path = parent;
    }
    if (missing.isEmpty() && !S_ISDIR(info.st_mode)) {
        *error = QString::fromLocal8Bit(std::strerror(EEXIST));
        return false;
    }
    for (const QString &step : std::as_const(missing)) {
        if (::mkdir(encoded(step).constData(), 0777) != 0 && errno != EEXIST) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        if (::stat(encoded(step).constData(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            *error = QString::fromLocal8Bit(std::strerror(ENOTDIR));
            return false;
        }
    }
    return true;
}

QString ArchiveMover::moveFile(const QString &source, const QString &folder)
{
    struct stat info;
    if (::lstat(encoded(source).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    Rename last = Rename::failed;
    const QString moved =
        publishUnderFreeName(encoded(source), QFileInfo(source).fileName(), folder, &last);
    if (!moved.isEmpty())
        return moved;
    if (last == Rename::otherFileSystem)
        return copyAcross(source, folder);
    if (last == Rename::unsupported)
        return copyIntoFreeName(source, folder);
    return {};
}

ArchiveMover::Outcome ArchiveMover::moveFiles(const QStringList &sources, const QString &folder)
{
    Outcome outcome;
    const QString target = QDir::cleanPath(folder);
    outcome.folderReady = createFolder(target, &outcome.folderError);
    if (!outcome.folderReady)
        return outcome;
    for (const QString &source : sources) {
        const QString destination = moveFile(source, target);
        if (destination.isEmpty())
            continue;
        outcome.movedSources << source;
        outcome.destinations << destination;
    }
    return outcome;
}

QFuture<void> ArchiveMover::performArchive(AppState &state, const QList<ImageItem> &images,
                                           const QString &folder)
{
    auto done = std::make_shared<QPromise<void>>();
    done->start();
    if (state.isArchiving()) {
        done->finish();
        return done->future();
    }
    QStringList sources;
    sources.reserve(images.size());
    for (const ImageItem &item : images)
        sources << item.path();
    const QString target = QDir::cleanPath(folder);
    const QString openRoot = state.currentFolder() ? state.currentFolder()->path() : QString();
    state.setArchiving(true);
    const auto finish = [&state, done] {
        state.setArchiving(false);
        done->finish();
    };
    // Another folder opened meanwhile keeps its own filters and selection.
    const auto rescanIfStillOpen = [&state, openRoot, finish] {
        const std::optional<FolderNode> &open = state.currentFolder();
        if (!open || open->path() != openRoot) {
            finish();
            return;
        }
        state.setStarFilter(0);
        state.clearSelection();
        // The rescan finishes on this thread too, so attaching here cannot race it.
        state.refreshFolder(*open).then(&state, finish);
    };
    BackgroundTask::run(
        QThreadPool::globalInstance(), &state,
        [sources, target] { return ArchiveMover::moveFiles(sources, target); },
        [&state, target, finish, rescanIfStillOpen](const Outcome &outcome) {
            if (!outcome.folderReady) {
                state.setToastMessage(QStringLiteral("创建文件夹失败：") + outcome.folderError);
                finish();
                return;
            }
            // A rating never follows a file to its new place.
            state.starRatingStore().removeRatings(outcome.movedSources);
            state.setToastMessage(QStringLiteral("已归档 %1 张图片到「%2」")
                                      .arg(outcome.movedSources.size())
                                      .arg(QFileInfo(target).fileName()));
            rescanIfStillOpen();
        },
        [&state, rescanIfStillOpen] {
            // Some files may have moved before the error: show the folder as it is now.
            state.setToastMessage(QStringLiteral("归档时出错"));
            rescanIfStillOpen();
        });
    return done->future();
}
