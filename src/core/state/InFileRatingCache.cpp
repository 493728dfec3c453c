#include "state/InFileRatingCache.h"

#include "model/AdvisoryFileLock.h"
#include "model/LocalFileName.h"
#include "model/StarRatingStore.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

QString InFileRatingCache::filePathBeside(const QString &ratingsFile)
{
    return QFileInfo(ratingsFile).path() + QStringLiteral("/in-file-ratings.json");
}

InFileRatingCache InFileRatingCache::load(const QString &path)
{
    InFileRatingCache cache;
    read(path, cache);
    return cache;
}

InFileRatingCache::FileState InFileRatingCache::read(const QString &path, InFileRatingCache &cache)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.exists() ? FileState::unreadable : FileState::missing;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return FileState::unreadable;
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject())
        return FileState::damaged;
    const QJsonObject root = document.object();
    const QJsonObject entries = root.value(QStringLiteral("files")).toObject();
    cache.entries.reserve(entries.size());
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        const QJsonArray entry = it.value().toArray();
        if (entry.size() == 2 || entry.size() == 3)
            cache.entries.insert(it.key(), {entry.at(0).toString(), entry.at(1).toInt(),
                                            CullingMark::fromJson(entry.at(2))});
    }
    for (const QJsonValue &unwritten : root.value(QStringLiteral("unwritten")).toArray())
        cache.unwritten.insert(unwritten.toString());
    cache.m_savedEntries = cache.entries;
    cache.m_savedUnwritten = cache.unwritten;
    return FileState::readable;
}

void InFileRatingCache::takeChangesInto(InFileRatingCache &onDisk) const
{
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
        const auto saved = m_savedEntries.constFind(it.key());
        if (saved == m_savedEntries.constEnd() || !(*saved == *it))
            onDisk.entries.insert(it.key(), *it);
    }
    for (auto it = m_savedEntries.constBegin(); it != m_savedEntries.constEnd(); ++it) {
        if (!entries.contains(it.key()))
            onDisk.entries.remove(it.key());
    }
    for (const QString &path : unwritten) {
        if (!m_savedUnwritten.contains(path))
            onDisk.unwritten.insert(path);
    }
    for (const QString &path : m_savedUnwritten) {
        if (!unwritten.contains(path))
            onDisk.unwritten.remove(path);
    }
}

bool InFileRatingCache::save(const QString &path)
{
    const AdvisoryFileLock lock(path + QStringLiteral(".lock"));
    InFileRatingCache merged;
    QString error;
    switch (read(path, merged)) {
    case FileState::unreadable:
        // It may hold every other process's entries: keep it, write nothing.
        return false;
    case FileState::damaged:
        // Kept aside, so this process's changes alone never replace the only copy.
        if (!StarRatingStore::setAsideDamagedFile(path, &error))
            return false;
        break;
    case FileState::missing:
    case FileState::readable:
        break;
    }
    takeChangesInto(merged);
    if (!merged.write(path))
        return false;
    entries = merged.entries;
    unwritten = merged.unwritten;
    m_savedEntries = entries;
    m_savedUnwritten = unwritten;
    return true;
}

bool InFileRatingCache::write(const QString &path) const
{
    // Members inserted in key order are appended; in any other order each
    // insertion moves the ones after it (seconds for 100,000 photos).
    QStringList paths = entries.keys();
    std::sort(paths.begin(), paths.end());
    QJsonObject files;
    for (const QString &photo : std::as_const(paths)) {
        const Entry &entry = *entries.constFind(photo);
        QJsonArray stored{entry.stamp, entry.rating};
        if (!entry.mark.isEmpty())
            stored.append(entry.mark.toJson());
        files.insert(photo, stored);
    }
    QStringList unwrittenPaths(unwritten.begin(), unwritten.end());
    std::sort(unwrittenPaths.begin(), unwrittenPaths.end());
    QJsonObject root;
    root.insert(QStringLiteral("files"), files);
    root.insert(QStringLiteral("unwritten"), QJsonArray::fromStringList(unwrittenPaths));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(root).toJson(QJsonDocument::Compact));
    return file.commit();
}

namespace {

// One stat, no time-zone arithmetic and no string per number: this runs for
// every photo of every folder opened, most of them unchanged.
bool appendStamp(const QString &path, QByteArray &stamp)
{
    struct stat info;
    if (::stat(LocalFileName::encode(path).constData(), &info) != 0)
        return false;
    char text[64];
    const int length = std::snprintf(
        text, sizeof text, "%lld:%lld.%09ld", static_cast<long long>(info.st_size),
        static_cast<long long>(info.st_mtim.tv_sec), static_cast<long>(info.st_mtim.tv_nsec));
    stamp.append(text, length);
    return true;
}

} // namespace

QString InFileRatingCache::stampOf(const QString &imagePath, const QStringList &sidecars)
{
    QByteArray stamp;
    stamp.reserve(40 * (1 + sidecars.size()));
    if (!appendStamp(imagePath, stamp))
        return {};
    for (const QString &sidecar : sidecars) {
        stamp.append('|');
        appendStamp(sidecar, stamp);
    }
    return QString::fromLatin1(stamp);
}
