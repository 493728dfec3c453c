#include "state/ArchiveMover.h"

#include "model/FileDescriptorWriter.h"
#include "model/LocalFileName.h"
#include "model/MovedPhoto.h"
#include "model/SafePublisher.h"
#include "state/ArchiveGroup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
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

// `fileName` with _k before its extension (what follows the last dot); k = 0
// is the name itself.
QString numberedName(const QString &fileName, int k)
{
    if (k == 0)
        return fileName;
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString number = QLatin1Char('_') + QString::number(k);
    return dot < 0 ? fileName + number : fileName.left(dot) + number + fileName.mid(dot);
}

// The smallest k from 0 for which every name `namesFor(k)` gives is free in
// `folder`; -1 when a name cannot be looked at or every k up to the limit is
// taken.
template <typename NamesFor>
int firstFreeNumber(const NamesFor &namesFor, const QString &folder)
{
    for (int k = 0; k <= kMaxNameAttempts; ++k) {
        bool allFree = true;
        for (const QString &name : namesFor(k)) {
            const NameState state = nameState(folder + QLatin1Char('/') + name);
            if (state == NameState::unusable)
                return -1;
            if (state == NameState::taken) {
                allFree = false;
                break;
            }
        }
        if (allFree)
            return k;
    }
    return -1;
}

// Where a file goes in the destination folder: the first free name for it
// (the archive's rule for a photo alone), or one name that has to be free.
struct Placement
{
    QString folder;
    QString fileName;
    bool exact = false;

    // The name to try next; empty when none is free (any more).
    QString candidate() const
    {
        if (!exact)
            return ArchiveMover::uniqueURL(fileName, folder);
        const QString path = folder + QLatin1Char('/') + fileName;
        return nameState(path) == NameState::free ? path : QString();
    }
};

Placement freeName(const QString &source, const QString &folder)
{
    return {folder, QFileInfo(source).fileName(), false};
}

Placement exactName(const QString &folder, const QString &fileName)
{
    return {folder, fileName, true};
}

SafePublisher::NextName nextNameFor(const Placement &placement)
{
    return [&placement] { return placement.candidate(); };
}

// Renames `from` to the name `placement` gives.
QString publish(const QByteArray &from, const Placement &placement, Rename *last)
{
    return SafePublisher::rename(from, nextNameFor(placement), kMaxNameAttempts, last);
}

// Known not to be a folder any more; any other failure to look (EACCES, EIO)
// is left to the folder creation to report.
bool folderIsGone(const QString &path)
{
    struct stat info;
    if (::stat(encoded(path).constData(), &info) == 0)
        return !S_ISDIR(info.st_mode);
    return errno == ENOENT || errno == ENOTDIR;
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

// The content of a copy of the open source: every byte on disk, with the
// source's permissions, and its times once the copy has its name (until then
// a temporary's modification time is that of its last write, which tells
// another process's sweep that it is in use).
SafePublisher::Content copyOf(const OpenSource &input)
{
    const int source = input.descriptor.get();
    const struct stat sourceInfo = input.info;
    return {[source, sourceInfo](int fd) {
                if (::lseek(source, 0, SEEK_SET) != 0 || !copyBytes(source, fd) || ::fsync(fd) != 0)
                    return false;
                struct stat copied;
                if (::fstat(fd, &copied) != 0 || copied.st_size != sourceInfo.st_size)
                    return false;
                ::fchmod(fd, sourceInfo.st_mode & 07777);
                return true;
            },
            [sourceInfo](int fd) {
                const struct timespec times[2] = {sourceInfo.st_atim, sourceInfo.st_mtim};
                ::futimens(fd, times);
            }};
}

// A complete, synced copy of `source` published under `placement`; the
// source is left as it is. `inPlace`: the file system is known to rename
// only by replacing, so the free name itself is created and filled.
QString copyTo(const QString &source, const Placement &placement, bool inPlace = false)
{
    const OpenSource input(source);
    if (!input.usable)
        return {};
    constexpr auto kind = SafePublisher::Kind::archiveCopy;
    return inPlace ? SafePublisher::writeInPlace(kind, copyOf(input), nextNameFor(placement),
                                                 kMaxNameAttempts)
                   : SafePublisher::write(kind, placement.folder, copyOf(input),
                                          nextNameFor(placement), kMaxNameAttempts);
}

// The move across file systems, or where no rename refuses a name: copy,
// verify, publish, then remove the source.
QString moveByCopy(const QString &source, const Placement &placement, bool inPlace)
{
    const QString copied = copyTo(source, placement, inPlace);
    if (copied.isEmpty())
        return {};
    if (!removeCopiedSource(source, placement.folder)) {
        ::unlink(encoded(copied).constData());
        return {};
    }
    return copied;
}

QString moveTo(const QString &source, const Placement &placement)
{
    struct stat info;
    if (::lstat(encoded(source).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    Rename last = Rename::failed;
    const QString moved = publish(encoded(source), placement, &last);
    if (!moved.isEmpty())
        return moved;
    if (last == Rename::otherFileSystem || last == Rename::unsupported)
        return moveByCopy(source, placement, last == Rename::unsupported);
    return {};
}

// A photo's own sidecar <name>.<ext>.xmp under the photo's number k, spelt
// as the sidecar is (IMG_1.JPG.XMP beside img_1.jpg stays upper-case).
QString numberedSidecarName(const QString &sidecar, int k)
{
    constexpr qsizetype extension = 4; // ".xmp" in any case
    return numberedName(sidecar.chopped(extension), k) + sidecar.right(extension);
}

// Every name a group takes in the destination with the number k.
QStringList destinationNames(const ArchiveGroup &group, int k)
{
    QStringList names;
    for (const QString &sidecar : group.stemSidecars)
        names << numberedName(sidecar, k);
    for (const ArchiveGroup::Photo &photo : group.photos) {
        const QString name = QFileInfo(photo.path).fileName();
        names << numberedName(name, k);
        for (const QString &sidecar : photo.sidecars)
            names << numberedSidecarName(sidecar, k);
    }
    return names;
}

// The photo's own sidecars go first, so that a photo never arrives without
// them; when the photo then cannot follow, they go back. Returns the record
// of the move, with an empty destination when the photo stayed.
MovedPhoto movePhotoWithSidecars(const ArchiveGroup::Photo &photo, const QString &sourceFolder,
                                 const QString &target, int k)
{
    const QString name = QFileInfo(photo.path).fileName();
    MovedPhoto moved;
    bool sidecarsMoved = true;
    for (const QString &sidecar : photo.sidecars) {
        const QString from = sourceFolder + QLatin1Char('/') + sidecar;
        const QString to = moveTo(from, exactName(target, numberedSidecarName(sidecar, k)));
        if (to.isEmpty()) {
            sidecarsMoved = false;
            break;
        }
        moved.sidecars << MovedPhoto::File::record(from, to);
    }
    const QString destination =
        sidecarsMoved ? moveTo(photo.path, exactName(target, numberedName(name, k))) : QString();
    if (destination.isEmpty()) {
        // Their old names were theirs a moment ago; only a race can take them.
        for (const MovedPhoto::File &sidecar : std::as_const(moved.sidecars))
            moveTo(sidecar.to, exactName(sourceFolder, QFileInfo(sidecar.from).fileName()));
        return {};
    }
    moved.photo = MovedPhoto::File::record(photo.path, destination);
    return moved;
}

void addMove(ArchiveMover::Outcome &outcome, const MovedPhoto &moved)
{
    if (moved.photo.to.isEmpty())
        return;
    outcome.movedSources << moved.photo.from;
    outcome.destinations << moved.photo.to;
    outcome.moved << moved;
}

void removeFiles(const QStringList &paths)
{
    for (const QString &path : paths)
        ::unlink(encoded(path).constData());
}

// One number for the whole group, so the photos and their sidecars keep
// matching names. Shared stem sidecars are copied first and the originals
// removed only once every photo of the group has left.
void moveGroup(const ArchiveGroup &group, const QString &target, ArchiveMover::Outcome &outcome)
{
    if (!group.listed)
        return;
    const bool alone = group.photos.size() == 1 && group.stemSidecars.isEmpty() &&
                       group.photos.first().sidecars.isEmpty();
    if (alone) {
        const QString source = group.photos.first().path;
        const QString destination = moveTo(source, freeName(source, target));
        if (!destination.isEmpty())
            addMove(outcome, {MovedPhoto::File::record(source, destination), {}});
        return;
    }
    const int k = firstFreeNumber([&group](int k) { return destinationNames(group, k); }, target);
    if (k < 0)
        return;
    QStringList stemCopies;
    for (const QString &sidecar : group.stemSidecars) {
        const QString copy = copyTo(group.folder + QLatin1Char('/') + sidecar,
                                    exactName(target, numberedName(sidecar, k)));
        if (copy.isEmpty()) {
            removeFiles(stemCopies);
            return;
        }
        stemCopies << copy;
    }
    const qsizetype first = outcome.moved.size();
    for (const ArchiveGroup::Photo &photo : group.photos)
        addMove(outcome, movePhotoWithSidecars(photo, group.folder, target, k));
    const qsizetype moved = outcome.moved.size() - first;
    if (moved == 0) {
        removeFiles(stemCopies);
        return;
    }
    const bool originalsGo = moved == group.photos.size() && group.stemSidecarsMove;
    // The shared sidecars go back with the group's first photo.
    QList<MovedPhoto::File> &records = outcome.moved[first].sidecars;
    for (qsizetype i = 0; i < group.stemSidecars.size(); ++i) {
        const QString original = group.folder + QLatin1Char('/') + group.stemSidecars.at(i);
        MovedPhoto::File record = MovedPhoto::File::record(original, stemCopies.at(i));
        record.copied = !(originalsGo && removeCopiedSource(original, target));
        records << record;
    }
}

} // namespace

QString ArchiveMover::uniqueURL(const QString &fileName, const QString &folder)
{
    const int k = firstFreeNumber(
        [&fileName](int k) { return QStringList{numberedName(fileName, k)}; }, folder);
    return k < 0 ? QString() : folder + QLatin1Char('/') + numberedName(fileName, k);
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
    return moveTo(source, freeName(source, folder));
}

bool ArchiveMover::moveFileTo(const QString &source, const QString &destination)
{
    const QFileInfo target(destination);
    return !moveTo(source, exactName(target.path(), target.fileName())).isEmpty();
}

ArchiveMover::Outcome ArchiveMover::moveFiles(const QStringList &sources, const QString &folder,
                                              const QString &openFolder)
{
    Outcome outcome;
    if (!openFolder.isEmpty() && folderIsGone(openFolder)) {
        outcome.openFolderGone = true;
        return outcome;
    }
    const QString target = QDir::cleanPath(folder);
    outcome.folderReady = createFolder(target, &outcome.folderError);
    if (!outcome.folderReady)
        return outcome;
    SafePublisher::removeStaleTemporaries(target);
    for (const ArchiveGroup &group : ArchiveGroup::plan(sources))
        moveGroup(group, target, outcome);
    return outcome;
}
