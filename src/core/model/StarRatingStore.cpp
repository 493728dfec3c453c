#include "model/StarRatingStore.h"

#include "model/WorkQueues.h"

#include <QDir>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>

namespace {

// Whole numbers only: anything else makes the file unreadable as a whole.
bool isStoredRating(const QJsonValue &value)
{
    const double number = value.toDouble(qQNaN());
    return value.isDouble() && number == std::trunc(number) && std::abs(number) <= 1e9;
}

QJsonValue encodeRating(const int &rating)
{
    return rating;
}

int decodeRating(const QJsonValue &value)
{
    return int(value.toInteger());
}

} // namespace

StarRatingStore::StarRatingStore(WorkQueues &queues, QObject *parent)
    : StarRatingStore(defaultFilePath(), queues, parent)
{}

StarRatingStore::StarRatingStore(const QString &filePath, WorkQueues &queues, QObject *parent)
    : QObject(parent)
    , m_table(filePath, isStoredRating, encodeRating, decodeRating, queues)
{
    connect(&m_table.file(), &JsonStoreFile::othersChanged, this,
            &StarRatingStore::adoptOthersChanges);
    connect(&m_table.file(), &JsonStoreFile::saveFailed, this, &StarRatingStore::saveFailed);
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
    const int stored = rating == 0 ? 0 : std::clamp(rating, 1, 5);
    const int old = m_table.put(path, stored);
    m_table.save();
    if (old != stored)
        Q_EMIT ratingChanged(path, old, stored);
}

QFuture<void> StarRatingStore::cleanupStaleEntries(const QString &folderPath)
{
    return m_table.findVanished(folderPath, this,
                                [this](const QStringList &vanished) { removeRatings(vanished); });
}

void StarRatingStore::removeRatings(const QStringList &paths)
{
    bool removed = false;
    for (const QString &path : paths)
        removed |= m_table.put(path, 0) != 0;
    if (!removed)
        return;
    m_table.save();
    Q_EMIT ratingsRemoved();
}

void StarRatingStore::setRatings(const QHash<QString, int> &ratings)
{
    bool changed = false;
    for (auto it = ratings.constBegin(); it != ratings.constEnd(); ++it) {
        const int stored = std::clamp(it.value(), 1, 5);
        changed |= m_table.put(it.key(), stored) != stored;
    }
    if (!changed)
        return;
    m_table.save();
    Q_EMIT ratingsRemoved();
}

void StarRatingStore::moveRatings(const QStringList &from, const QStringList &to)
{
    if (m_table.move(from, to).isEmpty())
        return;
    m_table.save();
    Q_EMIT ratingsRemoved();
}

void StarRatingStore::adoptOthersChanges(const JsonStoreFile::Entries &changes)
{
    m_table.adopt(changes, [this](const QString &path, int old, int now) {
        Q_EMIT ratingChanged(path, old, now);
    });
}
