#include "state/PhotoTrash.h"

#include "model/FileTrash.h"
#include "state/ArchiveGroup.h"

#include <optional>

namespace {

using File = MovedPhoto::File;

QString inFolder(const QString &folder, const QString &name)
{
    return folder + QLatin1Char('/') + name;
}

// One file to the trash; its record, or the reason in `error`.
std::optional<File> trashFile(const QString &path, QString *error)
{
    const FileTrash::Trashed trashed = FileTrash::moveToTrash(path);
    if (!trashed.ok()) {
        *error = trashed.error;
        return std::nullopt;
    }
    return File::record(path, trashed.entry.trashedPath, trashed.entry.infoPath);
}

void putBack(const QList<File> &files)
{
    for (const File &file : files)
        FileTrash::restore({file.from, file.to, file.trashInfo});
}

// The sidecars first, so that no photo sits in the trash without them; when
// the photo then cannot go, they come back.
std::optional<MovedPhoto> trashPhoto(const ArchiveGroup::Photo &photo, const QString &folder,
                                     QString *error)
{
    MovedPhoto moved;
    for (const QString &sidecar : photo.sidecars) {
        const std::optional<File> file = trashFile(inFolder(folder, sidecar), error);
        if (!file) {
            putBack(moved.sidecars);
            return std::nullopt;
        }
        moved.sidecars << *file;
    }
    const std::optional<File> file = trashFile(photo.path, error);
    if (!file) {
        putBack(moved.sidecars);
        return std::nullopt;
    }
    moved.photo = *file;
    return moved;
}

void trashGroup(const ArchiveGroup &group, PhotoTrash::Outcome &outcome)
{
    QString error;
    qsizetype trashed = 0;
    const qsizetype first = outcome.trashed.size();
    for (const ArchiveGroup::Photo &photo : group.photos) {
        std::optional<MovedPhoto> moved;
        if (group.listed)
            moved = trashPhoto(photo, group.folder, &error);
        else
            error = QStringLiteral("无法读取文件夹");
        if (moved) {
            outcome.trashed << *moved;
            ++trashed;
        } else {
            outcome.stayed << photo.path;
            if (outcome.error.isEmpty())
                outcome.error = error;
        }
    }
    if (trashed < group.photos.size() || !group.stemSidecarsMove)
        return;
    // The shared sidecars go back with the group's first photo.
    for (const QString &sidecar : group.stemSidecars) {
        if (const std::optional<File> file = trashFile(inFolder(group.folder, sidecar), &error))
            outcome.trashed[first].sidecars << *file;
    }
}

} // namespace

PhotoTrash::Outcome PhotoTrash::moveToTrash(const QStringList &photos)
{
    Outcome outcome;
    for (const ArchiveGroup &group : ArchiveGroup::plan(photos))
        trashGroup(group, outcome);
    return outcome;
}
