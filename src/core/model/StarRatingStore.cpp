#include "model/StarRatingStore.h"

#include "model/AdvisoryFileLock.h"
#include "model/BackgroundTask.h"
#include "model/FolderListing.h"
#include "model/LocalFileName.h"
#include "model/MountPoints.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <optional>
#include <sys/stat.h>
#include <utility>

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
    m_unsaved.insert(path, rating);
    return old;
}

void StarRatingStore::setRating(int rating, const QString &path)
{
    const int stored = rating == 0 ? 0 : std::clamp(rating, 1, 5);
    const int old = put(path, stored);
    save();
    if (old != stored)
        Q_EMIT ratingChanged(path, old, stored);
}

QFuture<void> StarRatingStore::cleanupStaleEntries(const QString &folderPath)
{
    const QString prefix =
        folderPath.endsWith(QLatin1Char('/')) ? folderPath : folderPath + QLatin1Char('/');
    QHash<QString, int> candidates;
    for (auto it = m_ratings.constBegin(); it != m_ratings.constEnd(); ++it) {
        if (it.key().startsWith(prefix) && !m_held.contains(it.key()))
            candidates.insert(it.key(), it.value());
    }
    return BackgroundTask::run(
        QThreadPool::globalInstance(), this,
        [paths = candidates.keys()] { return vanishedFiles(paths); },
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
    save();
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
    save();
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
    save();
    Q_EMIT ratingsRemoved();
}

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

QStringList StarRatingStore::vanishedFiles(const QStringList &paths)
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

namespace {

enum class FileState { missing, unreadable, damaged, readable, unchanged };

// Whole numbers only: anything else makes the file unreadable as a whole.
std::optional<QHash<QString, int>> decodeTable(const QByteArray &bytes)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject())
        return std::nullopt;
    QHash<QString, int> table;
    const QJsonObject object = document.object();
    table.reserve(object.size());
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        const double value = it.value().toDouble(qQNaN());
        if (!it.value().isDouble() || value != std::trunc(value) || std::abs(value) > 1e9)
            return std::nullopt;
        table.insert(it.key(), int(value));
    }
    return table;
}

// A file that cannot be opened or read is not damaged: it may hold everyone's
// ratings, and only its reason is known.
// `bytes` receives what was read; when that is `known` (what this process
// last read or wrote), nothing is decoded and the file is `unchanged`.
FileState readTable(const QString &path, QHash<QString, int> &table, QString *reason = nullptr,
                    QByteArray *bytes = nullptr, const QByteArray &known = {})
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!file.exists())
            return FileState::missing;
        if (reason)
            *reason = file.errorString();
        return FileState::unreadable;
    }
    QByteArray read = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (reason)
            *reason = file.errorString();
        return FileState::unreadable;
    }
    if (!known.isNull() && read == known)
        return FileState::unchanged;
    std::optional<QHash<QString, int>> decoded = decodeTable(read);
    if (bytes)
        *bytes = std::move(read);
    if (!decoded)
        return FileState::damaged;
    table = std::move(*decoded);
    return FileState::readable;
}

// The entries of `after` that differ from `before`, with 0 for a removed one.
QHash<QString, int> differences(const QHash<QString, int> &before, const QHash<QString, int> &after)
{
    QHash<QString, int> changes;
    for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
        const auto old = before.constFind(it.key());
        if (old == before.constEnd() || old.value() != it.value())
            changes.insert(it.key(), it.value());
    }
    for (auto it = before.constBegin(); it != before.constEnd(); ++it) {
        if (!after.contains(it.key()))
            changes.insert(it.key(), 0);
    }
    return changes;
}

// `text` as Qt's JSON writer puts it, quotes included: the plain UTF-8 of a
// usual file name, and Qt's own escaping for the rest (control characters,
// quotes, backslashes, the unpaired surrogates of undecodable names).
void appendJsonString(QByteArray &json, const QString &text)
{
    const bool plain = std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.unicode() < 0x20 || c == u'"' || c == u'\\' || c.isSurrogate();
    });
    if (!plain) {
        const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
        json += QByteArrayView(array).sliced(1, array.size() - 2);
        return;
    }
    json += '"';
    json += text.toUtf8();
    json += '"';
}

// The compact JSON object, members in key order, in one pass. (Building a
// QJsonObject member by member costs seconds at 100,000 members.)
QByteArray encodeTable(const QHash<QString, int> &table)
{
    QStringList keys = table.keys();
    std::sort(keys.begin(), keys.end());
    QByteArray json;
    json.reserve(table.size() * 64 + 2);
    json += '{';
    for (const QString &key : std::as_const(keys)) {
        if (json.size() > 1)
            json += ',';
        appendJsonString(json, key);
        json += ':';
        json += QByteArray::number(table.value(key));
    }
    json += '}';
    return json;
}

void applyChanges(const QHash<QString, int> &changes, QHash<QString, int> &table)
{
    for (auto it = changes.constBegin(); it != changes.constEnd(); ++it) {
        if (it.value() == 0)
            table.remove(it.key());
        else
            table.insert(it.key(), it.value());
    }
}

} // namespace

void StarRatingStore::load()
{
    // No lock needed: every writer replaces the file whole, by a rename. A
    // damaged file stays on disk until a save sets it aside.
    QByteArray bytes;
    if (readTable(m_filePath, m_ratings, nullptr, &bytes) == FileState::readable)
        m_lastBytes = std::move(bytes);
    // The writer's own copy, made now rather than by the first rating.
    m_known = m_ratings;
    m_known.detach();
}

void StarRatingStore::waitForSaved()
{
    m_writer.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

bool StarRatingStore::setAsideDamagedFile(const QString &path, QString *error)
{
    const QString base = path + QStringLiteral(".damaged");
    QString target = base;
    for (int n = 1; QFileInfo::exists(target); ++n)
        target = base + QLatin1Char('.') + QString::number(n);
    // rename() never replaces an existing file.
    QFile file(path);
    if (file.rename(target) || !file.exists())
        return true;
    *error = file.errorString();
    return false;
}

void StarRatingStore::reportFailure(const QString &reason)
{
    if (std::exchange(m_failureReported, true))
        return;
    QMetaObject::invokeMethod(
        this, [this, reason] { Q_EMIT saveFailed(reason); }, Qt::QueuedConnection);
}

bool StarRatingStore::writeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = file.errorString();
    return false;
}

void StarRatingStore::mergeIntoFile(const Table &newChanges, quint64 serial)
{
    Table changes = std::exchange(m_unwrittenChanges, {});
    for (auto it = newChanges.constBegin(); it != newChanges.constEnd(); ++it)
        changes.insert(it.key(), it.value());
    applyChanges(newChanges, m_known);

    const AdvisoryFileLock lock(m_filePath + QStringLiteral(".lock"));
    Table merged;
    QString error;
    const auto keepPending = [&] {
        m_unwrittenChanges = std::move(changes);
        reportFailure(error);
    };
    const FileState state = readTable(m_filePath, merged, &error, nullptr, m_lastBytes);
    switch (state) {
    case FileState::unchanged:
        // As this process left it: its own table is the merge.
        merged = m_known;
        break;
    case FileState::readable:
        applyChanges(changes, merged);
        break;
    case FileState::unreadable:
        // Not known to be damaged: it may hold every other process's ratings.
        keepPending();
        return;
    case FileState::damaged:
        // Until the damaged file is safely aside, writing would destroy the only copy.
        if (!setAsideDamagedFile(m_filePath, &error)) {
            keepPending();
            return;
        }
        [[fallthrough]];
    case FileState::missing:
        // Nothing to merge with: this process's table is the best knowledge.
        merged = m_known;
        break;
    }
    QByteArray bytes = encodeTable(merged);
    if (!writeFile(m_filePath, bytes, &error)) {
        keepPending();
        return;
    }
    m_failureReported = false;
    // What other processes changed, for the UI thread to take in without
    // comparing whole tables there. Only a file they rewrote can hold any.
    Table othersChanges = state == FileState::readable ? differences(m_known, merged) : Table();
    m_known = std::move(merged);
    m_lastBytes = std::move(bytes);
    QMetaObject::invokeMethod(
        this,
        [this, othersChanges = std::move(othersChanges), serial] {
            adoptMerged(othersChanges, serial);
        },
        Qt::QueuedConnection);
}

void StarRatingStore::adoptMerged(const Table &othersChanges, quint64 serial)
{
    // An own change made after that save is newer than what it found.
    for (auto it = othersChanges.constBegin(); it != othersChanges.constEnd(); ++it) {
        if (m_changeSerials.value(it.key(), 0) > serial)
            continue;
        const int old = m_ratings.value(it.key(), 0);
        if (old == it.value())
            continue;
        if (it.value() == 0)
            m_ratings.remove(it.key());
        else
            m_ratings.insert(it.key(), it.value());
        Q_EMIT ratingChanged(it.key(), old, it.value());
    }
    m_changeSerials.removeIf(
        [serial](QHash<QString, quint64>::iterator entry) { return entry.value() <= serial; });
}

void StarRatingStore::save()
{
    const quint64 serial = ++m_saveSerial;
    for (auto it = m_unsaved.constBegin(); it != m_unsaved.constEnd(); ++it)
        m_changeSerials.insert(it.key(), serial);
    const QMutexLocker locker(&m_queuedSaveMutex);
    if (m_queuedSave.changes.isEmpty()) {
        m_queuedSave.changes = std::exchange(m_unsaved, {});
    } else {
        for (auto it = m_unsaved.constBegin(); it != m_unsaved.constEnd(); ++it)
            m_queuedSave.changes.insert(it.key(), it.value());
        m_unsaved.clear();
    }
    m_queuedSave.serial = serial;
    if (m_queuedSave.queued)
        return; // folded into the save already waiting
    m_queuedSave.queued = true;
    m_writer.post([this] { writeQueuedSave(); });
}

void StarRatingStore::writeQueuedSave()
{
    QMutexLocker locker(&m_queuedSaveMutex);
    const QueuedSave save = std::exchange(m_queuedSave, {});
    locker.unlock();
    mergeIntoFile(save.changes, save.serial);
}
