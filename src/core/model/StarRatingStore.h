#pragma once

#include "model/SerialFileWriter.h"

#include <QFuture>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

// The user's 1-5 star ratings, keyed by each file's decoded absolute path, so
// they survive rescans and apply whichever folder a file is opened through.
// The whole table lives in memory and is written to one JSON object file
// (atomically) after every change. UI thread only; the file is written in the
// background, every change in order, so rating never waits for the disk.
//
// Several processes may share the file (two windows, two sessions on one home
// folder). A save therefore never writes this process's table over the file:
// under an advisory lock it reads what is on disk, applies only the changes
// this process made since its last load or save, and writes the result; the
// table in memory then becomes that merged one. A rating changed by two
// processes ends with the change saved last.
class StarRatingStore : public QObject
{
    Q_OBJECT

public:
    // The file is ~/.local/share/Kelvane/star-ratings.json.
    explicit StarRatingStore(QObject *parent = nullptr);
    // Keeps the table in `filePath` instead; for tests.
    explicit StarRatingStore(const QString &filePath, QObject *parent = nullptr);

    static QString defaultFilePath();
    const QString &filePath() const { return m_filePath; }

    int rating(const QString &path) const { return m_ratings.value(path, 0); }
    int rating(const QUrl &url) const { return rating(url.toLocalFile()); }

    // 0 removes the entry; anything else is clamped to 1..5. Always saves.
    void setRating(int rating, const QString &path);
    void setRating(int rating, const QUrl &url) { setRating(rating, url.toLocalFile()); }

    // Drops the ratings of files below `folderPath` (at any depth) that are
    // certainly gone; saves once if anything was dropped. The file checks run
    // on a pool thread on a copy of the keys; the returned future finishes
    // once the result is applied here. Held paths are never dropped.
    QFuture<void> cleanupStaleEntries(const QString &folderPath);

    // Files that are being moved (an archive): until released, a clean-up
    // neither judges them nor drops their ratings, however the files look
    // meanwhile; moveRatings then carries the ratings along. Counted: a path
    // held twice stays held until released twice.
    void holdPaths(const QStringList &paths);
    void releasePaths(const QStringList &paths);

    // Removes the ratings of `paths` with one save and one ratingsRemoved.
    void removeRatings(const QStringList &paths);
    // Sets several ratings (path -> 1..5, clamped) with one save and one
    // ratingsRemoved, when any differs.
    void setRatings(const QHash<QString, int> &ratings);
    // Files that moved: each path of `from` hands its rating (none included)
    // to the path at the same place of `to`, with one save and one
    // ratingsRemoved, when any rating changed.
    void moveRatings(const QStringList &from, const QStringList &to);

    // Those of `paths` that are certainly gone: the file's folder exists, can
    // be listed, holds other entries and is not a mount point, and the name is
    // not in it. A file behind an unreadable folder, an empty folder (as an
    // unmounted mount point looks), a mount point or a failing check is not
    // reported. Any thread.
    static QStringList vanishedFiles(const QStringList &paths);

    qsizetype count() const { return m_ratings.size(); }

    // Blocks until every change so far is on disk and the table in memory
    // holds what was merged from the file.
    void waitForSaved();

    // Renames a file that was read and does not parse to `path`.damaged (then
    // .damaged.1, ...), never replacing an earlier copy, so that a new file
    // can be written without losing what the old one held. True also when
    // `path` is gone; otherwise false with the reason in `error`.
    static bool setAsideDamagedFile(const QString &path, QString *error);

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
    using Table = QHash<QString, int>;

    void load();
    // Stores `rating` (0 removes) and notes the change for the next save.
    // Returns the old rating.
    int put(const QString &path, int rating);
    void save();
    // Writer thread: merges whatever the queued save holds by now.
    void writeQueuedSave();
    // Writer thread only: merges `changes` (this process's own, 0 = removed)
    // into the file and hands what others changed back to the UI thread.
    void mergeIntoFile(const Table &changes, quint64 serial);
    static bool writeFile(const QString &path, const QByteArray &bytes, QString *error);
    // Writer thread: announces a failing save, once until one succeeds.
    void reportFailure(const QString &reason);
    // UI thread: takes in what other processes changed (0 = removed), as
    // found by the save numbered `serial`.
    void adoptMerged(const Table &othersChanges, quint64 serial);

    QString m_filePath;
    Table m_ratings;
    // Own changes not yet handed to the writer (0 = removed).
    Table m_unsaved;
    // The number of the save that carries each own change still on its way
    // to the file: a change of another process found by an earlier save is
    // older than it.
    QHash<QString, quint64> m_changeSerials;
    quint64 m_saveSerial = 0;
    QHash<QString, int> m_held; // path -> how often held

    // Writer thread only: the table as this process knows it (its own
    // changes handed over so far, and what the last merge found), so that
    // what others changed is found without a copy of the UI thread's table.
    Table m_known;
    // The file's content when this process last read or wrote it: while it
    // is still that, m_known is the merge and nothing needs decoding.
    QByteArray m_lastBytes;
    // Own changes (0 = removed) a failed save could not put on disk yet; the
    // next save carries them.
    Table m_unwrittenChanges;
    bool m_failureReported = false; // writer thread only

    // The save waiting for the writer. Saves made before the writer gets to
    // it fold their changes into it, so a burst of ratings costs one merge.
    struct QueuedSave
    {
        Table changes;
        quint64 serial = 0;
        bool queued = false;
    };
    QMutex m_queuedSaveMutex; // hand-over between the UI thread and the writer
    QueuedSave m_queuedSave;
    SerialFileWriter m_writer;
};
