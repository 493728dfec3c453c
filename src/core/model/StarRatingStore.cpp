#include "model/StarRatingStore.h"

#include "model/BackgroundTask.h"
#include "model/VanishedFiles.h"
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

int ratingOf(const QJsonValue &value)
{
    return value.isUndefined() ? 0 : int(value.toInteger());
}

} // namespace

StarRatingStore::StarRatingStore(WorkQueues &queues, QObject *parent)
    : StarRatingStore(defaultFilePath(), queues, parent)
{}

StarRatingStore::StarRatingStore(const QString &filePath, WorkQueues &queues, QObject *parent)
    : QObject(parent)
    , m_checks(queues.background())
    , m_file(filePath, isStoredRating, queues.storeWrites())
{
    const JsonStoreFile::Entries stored = m_file.load();
    m_ratings.reserve(stored.size());
    for (auto it = stored.constBegin(); it != stored.constEnd(); ++it)
        m_ratings.insert(it.key(), ratingOf(it.value()));
    connect(&m_file, &JsonStoreFile::othersChanged, this, &StarRatingStore::adoptOthersChanges);
    connect(&m_file, &JsonStoreFile::saveFailed, this, &StarRatingStore::saveFailed);
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

int StarRatingStore::put(const QString &path, int rating)
{
    const auto it = m_ratings.find(path);
    const int old = it == m_ratings.end() ? 0 : it.value();
    if (old == rating)
        return old;
    if (rating == 0)
        m_ratings.erase(it);
    else if (it == m_ratings.end())
        m_ratings.insert(path, rating);
    else
        it.value() = rating;
    m_file.change(path, rating == 0 ? QJsonValue(QJsonValue::Undefined) : QJsonValue(rating));
    return old;
}

void StarRatingStore::setRating(int rating, const QString &path)
{
    const int stored = rating == 0 ? 0 : std::clamp(rating, 1, 5);
    const int old = put(path, stored);
    m_file.save();
    if (old != stored)
        Q_EMIT ratingChanged(path, old, stored);
}

QFuture<void> StarRatingStore::cleanupStaleEntries(const QString &folderPath)
{
    QHash<QString, int> candidates;
    for (const QString &path : VanishedFiles::below(folderPath, m_ratings.keys())) {
        if (!m_held.contains(path))
            candidates.insert(path, m_ratings.value(path));
    }
    return BackgroundTask::run(
        &m_checks, this, [paths = candidates.keys()] { return VanishedFiles::among(paths); },
        [this, candidates](const QStringList &vanished) {
            // A rating given meanwhile is the user's newer word: keep it. A
            // file whose move began meanwhile is gone from here for a reason.
            QStringList unchanged;
            for (const QString &path : vanished) {
                if (m_ratings.value(path, 0) == candidates.value(path) && !m_held.contains(path))
                    unchanged << path;
            }
            removeRatings(unchanged);
        });
}

void StarRatingStore::holdPaths(const QStringList &paths)
{
    for (const QString &path : paths)
        ++m_held[path];
}

void StarRatingStore::releasePaths(const QStringList &paths)
{
    for (const QString &path : paths) {
        const auto held = m_held.find(path);
        if (held != m_held.end() && --held.value() == 0)
            m_held.erase(held);
    }
}

void StarRatingStore::removeRatings(const QStringList &paths)
{
    bool removed = false;
    for (const QString &path : paths)
        removed |= put(path, 0) != 0;
    if (!removed)
        return;
    m_file.save();
    Q_EMIT ratingsRemoved();
}

void StarRatingStore::setRatings(const QHash<QString, int> &ratings)
{
    bool changed = false;
    for (auto it = ratings.constBegin(); it != ratings.constEnd(); ++it) {
        const int stored = std::clamp(it.value(), 1, 5);
        changed |= put(it.key(), stored) != stored;
    }
    if (!changed)
        return;
    m_file.save();
    Q_EMIT ratingsRemoved();
}

void StarRatingStore::moveRatings(const QStringList &from, const QStringList &to)
{
    Q_ASSERT(from.size() == to.size());
    const qsizetype count = std::min(from.size(), to.size());
    // All taken before any is placed, so that a file moving onto the old
    // path of another takes its own rating.
    QList<int> ratings;
    ratings.reserve(count);
    for (qsizetype i = 0; i < count; ++i)
        ratings << m_ratings.value(from.at(i), 0);
    bool changed = false;
    for (qsizetype i = 0; i < count; ++i)
        changed |= put(from.at(i), 0) != 0;
    for (qsizetype i = 0; i < count; ++i)
        changed |= put(to.at(i), ratings.at(i)) != ratings.at(i);
    if (!changed)
        return;
    m_file.save();
    Q_EMIT ratingsRemoved();
}

void StarRatingStore::adoptOthersChanges(const JsonStoreFile::Entries &changes)
{
    for (auto it = changes.constBegin(); it != changes.constEnd(); ++it) {
        const int old = m_ratings.value(it.key(), 0);
        const int now = ratingOf(it.value());
        if (old == now)
            continue;
        if (now == 0)
            m_ratings.remove(it.key());
        else
            m_ratings.insert(it.key(), now);
        Q_EMIT ratingChanged(it.key(), old, now);
    }
}
