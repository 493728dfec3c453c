#include "state/InFileRatingCache.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

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

QString InFileRatingCache::stampOf(const QString &imagePath, const QStringList &sidecars)
{
    const QFileInfo image(imagePath);
    if (!image.exists())
        return {};
    QString stamp = QString::number(image.size()) + QLatin1Char(':') +
                    QString::number(image.lastModified().toMSecsSinceEpoch());
    for (const QString &sidecar : sidecars) {
        const QFileInfo info(sidecar);
        stamp += QLatin1Char('|') + QString::number(info.size()) + QLatin1Char(':') +
                 QString::number(info.lastModified().toMSecsSinceEpoch());
    }
    return stamp;
}
