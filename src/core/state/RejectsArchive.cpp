#include "state/RejectsArchive.h"

#include <algorithm>

namespace {

bool waits(const QString &path, const QString &archivePrefix)
{
    return !path.startsWith(archivePrefix);
}

} // namespace

QString RejectsArchive::targetFolder(const QString &openFolder)
{
    return openFolder + QStringLiteral("/归档-排除");
}

bool RejectsArchive::hasPending(const QSet<QString> &rejected, const QString &openFolder)
{
    const QString archivePrefix = targetFolder(openFolder) + QLatin1Char('/');
    return std::any_of(rejected.cbegin(), rejected.cend(),
                       [&](const QString &path) { return waits(path, archivePrefix); });
}

ArchiveItem RejectsArchive::plan(const QList<ImageItem> &images, const QSet<QString> &rejected,
                                 const QString &openFolder)
{
    ArchiveItem plan;
    plan.targetPath = targetFolder(openFolder);
    plan.description = QStringLiteral("排除的照片");
    if (rejected.isEmpty())
        return plan;
    const QString archivePrefix = plan.targetPath + QLatin1Char('/');
    for (const ImageItem &item : images) {
        if (rejected.contains(item.path()) && waits(item.path(), archivePrefix))
            plan.images << item;
    }
    return plan;
}
