#include "model/StarRatingStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>

StarRatingStore::StarRatingStore(QObject *parent)
    : StarRatingStore(defaultFilePath(), parent)
{}

StarRatingStore::StarRatingStore(const QString &filePath, QObject *parent)
    : QObject(parent)
    , m_filePath(filePath)
{
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    load();
}

QString StarRatingStore::defaultFilePath()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    // Without a data location the table still works in memory; keep the file
    // next to the user's home so that nothing is written to the working folder.
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/Kelvane/star-ratings.json");
}

void StarRatingStore::setRating(int rating, const QString &path)
{
    const int old = m_ratings.value(path, 0);
    const int stored = rating == 0 ? 0 : std::clamp(rating, 1, 5);
    if (stored == 0)
        m_ratings.remove(path);
    else
        m_ratings.insert(path, stored);
    save();
    if (old != stored)
        Q_EMIT ratingChanged(path, old, stored);
}

void StarRatingStore::cleanupStaleEntries(const QString &folderPath)
{
    const QString prefix =
        folderPath.endsWith(QLatin1Char('/')) ? folderPath : folderPath + QLatin1Char('/');
    const QStringList keys = m_ratings.keys();
    bool changed = false;
    for (const QString &key : keys) {
        if (key.startsWith(prefix) && !QFileInfo::exists(key)) {
            m_ratings.remove(key);
            changed = true;
        }
    }
    if (!changed)
        return;
    save();
    Q_EMIT staleEntriesRemoved();
}

void StarRatingStore::load()
{
    QFile file(m_filePath);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        m_damagedFileOnDisk = true;
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject()) {
        m_damagedFileOnDisk = true;
        return;
    }
    QHash<QString, int> ratings;
    const QJsonObject object = document.object();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        const double value = it.value().toDouble(qQNaN());
        // Only whole numbers decode; anything else makes the file unreadable as a whole.
        if (!it.value().isDouble() || value != std::trunc(value) || std::abs(value) > 1e9) {
            m_damagedFileOnDisk = true;
            return;
        }
        ratings.insert(it.key(), int(value));
    }
    m_ratings = std::move(ratings);
}

void StarRatingStore::waitForSaved()
{
    m_writer.waitForDone();
}

bool StarRatingStore::setAsideDamagedFile(const QString &path)
{
    const QString base = path + QStringLiteral(".damaged");
    QString target = base;
    for (int n = 1; QFileInfo::exists(target); ++n)
        target = base + QLatin1Char('.') + QString::number(n);
    // rename() never replaces an existing file.
    return QFile::rename(path, target) || !QFileInfo::exists(path);
}

void StarRatingStore::writeFile(const QString &path, const QByteArray &json,
                                bool &damagedFileOnDisk)
{
    // Until the damaged file is safely aside, writing would destroy the only copy.
    if (damagedFileOnDisk) {
        if (!setAsideDamagedFile(path))
            return;
        damagedFileOnDisk = false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(json);
    file.commit();
}

void StarRatingStore::save()
{
    QJsonObject object;
    for (auto it = m_ratings.constBegin(); it != m_ratings.constEnd(); ++it)
        object.insert(it.key(), it.value());
    const QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Compact);
    m_writer.post([this, json] { writeFile(m_filePath, json, m_damagedFileOnDisk); });
}
