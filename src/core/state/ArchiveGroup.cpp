#include "state/ArchiveGroup.h"

#include "model/FolderListing.h"
#include "model/LocalFileName.h"

#include <QHash>
#include <optional>

namespace {

// What precedes the last dot: the part the archive's free names number.
QString stemOf(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

const QString kSidecarExtension = QStringLiteral(".xmp");

// One source folder's names, looked up without regard to case.
class FolderIndex
{
public:
    explicit FolderIndex(const QString &folder)
    {
        const std::optional<QSet<QByteArray>> names =
            FolderListing::names(LocalFileName::encode(folder));
        m_listed = names.has_value();
        if (!m_listed)
            return;
        for (const QByteArray &encoded : *names) {
            const QString name = LocalFileName::decode(encoded);
            m_byName[name.toLower()].append(name);
            m_byStem[stemOf(name).toLower()].append(name);
        }
    }

    bool isListed() const { return m_listed; }
    QStringList named(const QString &name) const { return m_byName.value(name.toLower()); }

    // True when every file with that stem, the stem sidecars aside, is one
    // of `names`.
    bool stemSharedOnlyBy(const QString &stem, const QStringList &names) const
    {
        const QString sidecar = (stem + kSidecarExtension).toLower();
        for (const QString &name : m_byStem.value(stem.toLower())) {
            if (name.toLower() != sidecar && !names.contains(name))
                return false;
        }
        return true;
    }

private:
    bool m_listed = false;
    QHash<QString, QStringList> m_byName;
    QHash<QString, QStringList> m_byStem;
};

QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString nameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

QList<ArchiveGroup> ArchiveGroup::plan(const QStringList &sources)
{
    QHash<QString, FolderIndex> folders;
    QHash<QString, qsizetype> groupOfStem; // folder + "/" + lower-case stem -> index
    QList<ArchiveGroup> groups;
    for (const QString &source : sources) {
        const QString folder = folderOf(source);
        const QString name = nameOf(source);
        auto index = folders.find(folder);
        if (index == folders.end())
            index = folders.insert(folder, FolderIndex(folder));
        ArchiveGroup::Photo photo{source, index->named(name + kSidecarExtension)};
        const QStringList stemSidecars = index->named(stemOf(name) + kSidecarExtension);
        if (!index->isListed() || stemSidecars.isEmpty()) {
            groups.append({folder, {photo}, {}, false, index->isListed()});
            continue;
        }
        const QString key = folder + QLatin1Char('/') + stemOf(name).toLower();
        auto group = groupOfStem.find(key);
        if (group == groupOfStem.end()) {
            group = groupOfStem.insert(key, groups.size());
            groups.append({folder, {}, stemSidecars, false, true});
        }
        groups[*group].photos.append(photo);
    }
    for (ArchiveGroup &group : groups) {
        if (group.stemSidecars.isEmpty())
            continue;
        QStringList names;
        for (const Photo &photo : std::as_const(group.photos))
            names.append(nameOf(photo.path));
        group.stemSidecarsMove =
            folders.constFind(group.folder)->stemSharedOnlyBy(stemOf(names.first()), names);
    }
    return groups;
}
