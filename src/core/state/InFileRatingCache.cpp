#include "state/InFileRatingCache.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
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

// One stat and no time-zone arithmetic: this runs for every photo of every
// folder opened, most of them unchanged.
bool appendStamp(const QString &path, QString &stamp)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    stamp += QString::number(qint64(info.st_size)) + QLatin1Char(':') +
             QString::number(qint64(info.st_mtim.tv_sec)) + QLatin1Char('.') +
             QString::number(qint64(info.st_mtim.tv_nsec));
    return true;
}

} // namespace

QString InFileRatingCache::stampOf(const QString &imagePath, const QStringList &sidecars)
{
    QString stamp;
    if (!appendStamp(imagePath, stamp))
        return {};
    for (const QString &sidecar : sidecars) {
        stamp += QLatin1Char('|');
        appendStamp(sidecar, stamp);
    }
    return stamp;
}
