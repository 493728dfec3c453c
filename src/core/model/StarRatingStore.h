#pragma once

#include "model/JsonStoreFile.h"
#include "model/PersistentPathTable.h"

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

class WorkQueues;

// The user's 1-5 star ratings, keyed by each file's decoded absolute path, so
// they survive rescans and apply whichever folder a file is opened through.
// The whole table lives in memory; every change is saved to one JSON object
// file (path -> rating) shared with other processes (JsonStoreFile), in the
// background, so rating never waits for the disk. UI thread only.
class StarRatingStore : public QObject
{
    Q_OBJECT

public:
    // The file is ~/.local/share/Kelvane/star-ratings.json. Saves run on
    // `queues`' file operations, clean-ups on its background pool.
    explicit StarRatingStore(WorkQueues &queues, QObject *parent = nullptr);
    // Keeps the table in `filePath` instead; for tests.
    StarRatingStore(const QString &filePath, WorkQueues &queues, QObject *parent = nullptr);

    static QString defaultFilePath();
    const QString &filePath() const { return m_table.file().filePath(); }

    // An empty table answers without hashing the path: opening a folder asks
    // once per image.
    int rating(const QString &path) const { return m_table.value(path); }
    int rating(const QUrl &url) const { return rating(url.toLocalFile()); }

    // 0 removes the entry; anything else is clamped to 1..5. Always saves.
    void setRating(int rating, const QString &path);
    void setRating(int rating, const QUrl &url) { setRating(rating, url.toLocalFile()); }

    // Drops the ratings of files below `folderPath` (at any depth) that are
    // certainly gone (VanishedFiles); saves once if anything was dropped. The
    // file checks run on a pool thread on a copy of the keys; the returned
    // future finishes once the result is applied here. Held paths are never
    // dropped, nor ratings changed meanwhile.
    QFuture<void> cleanupStaleEntries(const QString &folderPath);

    // Files that are being moved (an archive): until released, a clean-up
    // neither judges them nor drops their ratings, however the files look
    // meanwhile; moveRatings then carries the ratings along. Counted: a path
    // held twice stays held until released twice.
    void holdPaths(const QStringList &paths) { m_table.hold(paths); }
    void releasePaths(const QStringList &paths) { m_table.release(paths); }

    // Removes the ratings of `paths` with one save and one ratingsRemoved.
    void removeRatings(const QStringList &paths);
    // Sets several ratings (path -> 1..5, clamped) with one save and one
    // ratingsRemoved, when any differs.
    void setRatings(const QHash<QString, int> &ratings);
    // Files that moved: each path of `from` hands its rating (none included)
    // to the path at the same place of `to`, with one save and one
    // ratingsRemoved, when any rating changed.
    void moveRatings(const QStringList &from, const QStringList &to);

    qsizetype count() const { return m_table.count(); }

    // Blocks until every change so far is on disk and the table in memory
    // holds what was merged from the file.
    void waitForSaved() { m_table.file().waitForSaved(); }

    static bool setAsideDamagedFile(const QString &path, QString *error)
    {
        return JsonStoreFile::setAsideDamagedFile(path, error);
    }

Q_SIGNALS:
    // The rating of one file changed (ratings are 0 when absent).
    void ratingChanged(const QString &path, int oldRating, int newRating);
    // Several ratings were removed or set at once (vanished files, archived
    // files, ratings taken from the files themselves).
    void ratingsRemoved();
    // The ratings file could not be read or written (`reason` is the
    // system's description). The changes stay pending and every later save
    // tries again; said once until a save succeeds.
    void saveFailed(const QString &reason);

private:
    // What other processes saved meanwhile (0 = removed), announced per file.
    void adoptOthersChanges(const JsonStoreFile::Entries &changes);

    PersistentPathTable<int> m_table;
};
