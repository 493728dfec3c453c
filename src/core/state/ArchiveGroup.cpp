#include "state/ArchiveGroup.h"

#include "model/SidecarIndex.h"

#include <QHash>
#include <algorithm>
#include <optional>

namespace {

QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString nameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QStringList namesOf(const QStringList &paths)
{
    QStringList names;
    names.reserve(paths.size());
    for (const QString &path : paths)
        names.append(nameOf(path));
    return names;
}

// One source folder's sidecars; no index when it cannot be listed.
using FolderIndex = std::optional<SidecarIndex>;

} // namespace

QList<ArchiveGroup> ArchiveGroup::plan(const QStringList &sources)
{
    QHash<QString, FolderIndex> folders;
    QHash<QString, qsizetype> groupOfStem; // lower-case stem sidecar path -> index
    QList<ArchiveGroup> groups;
    for (const QString &source : sources) {
        const QString folder = folderOf(source);
        auto index = folders.find(folder);
        if (index == folders.end())
            index = folders.insert(folder, SidecarIndex::ofFolder(folder));
        if (!index->has_value()) {
            groups.append({folder, {{source, {}}}, {}, false, false});
            continue;
        }
        const SidecarIndex &sidecars = **index;
        const ArchiveGroup::Photo photo{source, namesOf(sidecars.fullNameSidecarsOf(source))};
        const QStringList stemSidecars = sidecars.stemSidecarsBeside(source);
        if (stemSidecars.isEmpty()) {
            groups.append({folder, {photo}, {}, false, true});
            continue;
        }
        const QString key = SidecarIndex::stemSidecar(source).toLower();
        auto group = groupOfStem.find(key);
        if (group == groupOfStem.end()) {
            group = groupOfStem.insert(key, groups.size());
            groups.append({folder, {}, namesOf(stemSidecars), false, true});
        }
        groups[*group].photos.append(photo);
    }
    for (ArchiveGroup &group : groups) {
        if (group.stemSidecars.isEmpty())
            continue;
        QStringList leaving;
        for (const Photo &photo : std::as_const(group.photos))
            leaving.append(photo.path);
        const QStringList owners = (*folders.constFind(group.folder))->stemOwners(leaving.first());
        const auto leaves = [&leaving](const QString &owner) { return leaving.contains(owner); };
        // A JPEG leaving its RAW behind takes nothing of the RAW's sidecar.
        if (std::none_of(owners.cbegin(), owners.cend(), leaves))
            group.stemSidecars.clear();
        else
            group.stemSidecarsMove = std::all_of(owners.cbegin(), owners.cend(), leaves);
    }
    return groups;
}
