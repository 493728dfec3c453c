#include "model/VanishedFiles.h"

#include "model/FolderListing.h"
#include "model/LocalFileName.h"
#include "model/MountPoints.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <cerrno>
#include <optional>
#include <sys/stat.h>

namespace {

// The names in `folder` when its listing shows which files are gone, else
// nothing. An empty folder proves nothing (an unmounted card, NFS share or
// sshfs mount point is one), nor does a mount point (another disk may be
// mounted there now).
std::optional<QSet<QByteArray>> listingAsEvidence(const QByteArray &folder,
                                                  std::optional<MountPoints> &mountPoints)
{
    std::optional<QSet<QByteArray>> names = FolderListing::names(folder);
    if (!names || names->isEmpty())
        return std::nullopt;
    if (!mountPoints)
        mountPoints.emplace();
    if (mountPoints->contains(folder))
        return std::nullopt;
    return names;
}

} // namespace

QStringList VanishedFiles::below(const QString &folderPath, const QStringList &paths)
{
    const QString prefix =
        folderPath.endsWith(QLatin1Char('/')) ? folderPath : folderPath + QLatin1Char('/');
    QStringList inside;
    for (const QString &path : paths) {
        if (path.startsWith(prefix))
            inside << path;
    }
    return inside;
}

QStringList VanishedFiles::among(const QStringList &paths)
{
    QStringList vanished;
    QHash<QByteArray, std::optional<QSet<QByteArray>>> listings; // per folder
    std::optional<MountPoints> mountPoints;                      // read once, when first needed
    for (const QString &path : paths) {
        const QByteArray encoded = LocalFileName::encode(path);
        struct stat info;
        if (::lstat(encoded.constData(), &info) == 0 || errno != ENOENT)
            continue; // present, or the question has no sure answer
        const qsizetype slash = encoded.lastIndexOf('/');
        if (slash < 0)
            continue;
        const QByteArray folder = slash == 0 ? QByteArray("/") : encoded.left(slash);
        auto listing = listings.find(folder);
        if (listing == listings.end())
            listing = listings.insert(folder, listingAsEvidence(folder, mountPoints));
        if (listing->has_value() && !(*listing)->contains(encoded.mid(slash + 1)))
            vanished << path;
    }
    return vanished;
}
