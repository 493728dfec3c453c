#include "model/StarRatingStore.h"

#include "model/BackgroundTask.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <dirent.h>
#include <optional>
#include <sys/stat.h>

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

QFuture<void> StarRatingStore::cleanupStaleEntries(const QString &folderPath)
{
    const QString prefix =
        folderPath.endsWith(QLatin1Char('/')) ? folderPath : folderPath + QLatin1Char('/');
    QHash<QString, int> candidates;
    for (auto it = m_ratings.constBegin(); it != m_ratings.constEnd(); ++it) {
        if (it.key().startsWith(prefix))
            candidates.insert(it.key(), it.value());
    }
    return BackgroundTask::run(
        QThreadPool::globalInstance(), this,
        [paths = candidates.keys()] { return vanishedFiles(paths); },
        [this, candidates](const QStringList &vanished) {
            // A rating given meanwhile is the user's newer word: keep it.
            QStringList unchanged;
            for (const QString &path : vanished) {
                if (m_ratings.value(path, 0) == candidates.value(path))
                    unchanged << path;
            }
            removeRatings(unchanged);
        });
}

void StarRatingStore::removeRatings(const QStringList &paths)
{
    bool removed = false;
    for (const QString &path : paths)
        removed |= m_ratings.remove(path);
    if (!removed)
        return;
    save();
    Q_EMIT ratingsRemoved();
}

namespace {

// The names in one folder, or nothing when it cannot be listed to the end.
std::optional<QSet<QByteArray>> listNames(const QByteArray &folder)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return std::nullopt;
    QSet<QByteArray> names;
    errno = 0;
    while (const dirent *entry = ::readdir(dir))
        names.insert(QByteArray(entry->d_name));
    const bool complete = errno == 0;
    ::closedir(dir);
    if (!complete)
        return std::nullopt;
    return names;
}

} // namespace

QStringList StarRatingStore::vanishedFiles(const QStringList &paths)
{
    QStringList vanished;
    QHash<QByteArray, std::optional<QSet<QByteArray>>> listings; // per folder
    for (const QString &path : paths) {
        const QByteArray encoded = QFile::encodeName(path);
        struct stat info;
        if (::lstat(encoded.constData(), &info) == 0 || errno != ENOENT)
            continue; // present, or the question has no sure answer
        const qsizetype slash = encoded.lastIndexOf('/');
        if (slash < 0)
            continue;
        const QByteArray folder = slash == 0 ? QByteArray("/") : encoded.left(slash);
        auto listing = listings.find(folder);
        if (listing == listings.end())
            listing = listings.insert(folder, listNames(folder));
        if (listing->has_value() && !(*listing)->contains(encoded.mid(slash + 1)))
            vanished << path;
    }
    return vanished;
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
