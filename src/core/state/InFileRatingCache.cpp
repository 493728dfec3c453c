#include "state/InFileRatingCache.h"

#include "model/LocalFileName.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cstdio>
#include <sys/stat.h>

QString InFileRatingCache::filePathBeside(const QString &ratingsFile)
{
    return QFileInfo(ratingsFile).path() + QStringLiteral("/in-file-ratings.json");
}

InFileRatingCache InFileRatingCache::load(const QString &path)
{
    InFileRatingCache cache;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return cache;
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    const QJsonObject entries = root.value(QStringLiteral("files")).toObject();
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        const QJsonArray pair = it.value().toArray();
        if (pair.size() == 2)
            cache.entries.insert(it.key(), {pair.at(0).toString(), pair.at(1).toInt()});
    }
    for (const QJsonValue &unwritten : root.value(QStringLiteral("unwritten")).toArray())
        cache.unwritten.insert(unwritten.toString());
    return cache;
}

bool InFileRatingCache::save(const QString &path) const
{
    QJsonObject files;
    for (auto it = entries.begin(); it != entries.end(); ++it)
        files.insert(it.key(), QJsonArray{it->stamp, it->rating});
    QJsonArray unwrittenList;
    for (const QString &path : unwritten)
        unwrittenList.append(path);
    QJsonObject root;
    root.insert(QStringLiteral("files"), files);
    root.insert(QStringLiteral("unwritten"), unwrittenList);
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
