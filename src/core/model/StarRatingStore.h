#pragma once

#include "model/SerialFileWriter.h"

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

// The user's 1-5 star ratings, keyed by each file's decoded absolute path, so
// they survive rescans and apply whichever folder a file is opened through.
// The whole table lives in memory and is written to one JSON object file
// (atomically) after every change. UI thread only; the file is written in the
// background, every change in order, so rating never waits for the disk.
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
    // once the result is applied here.
    QFuture<void> cleanupStaleEntries(const QString &folderPath);

    // Removes the ratings of `paths` with one save and one ratingsRemoved.
    void removeRatings(const QStringList &paths);

    // Those of `paths` that are certainly gone: the file's folder exists and
    // can be listed, and the name is not in it. A file behind an unreadable
    // folder, a missing mount or a failing check is not reported. Any thread.
    static QStringList vanishedFiles(const QStringList &paths);

    qsizetype count() const { return m_ratings.size(); }

    // Blocks until every change so far is on disk.
    void waitForSaved();

Q_SIGNALS:
    // The rating of one file changed (ratings are 0 when absent).
    void ratingChanged(const QString &path, int oldRating, int newRating);
    // Several ratings were removed at once (vanished files, archived files).
    void ratingsRemoved();

private:
    void load();
    void save();
    // Writer thread only.
    static void writeFile(const QString &path, const QByteArray &json, bool &damagedFileOnDisk);
    static bool setAsideDamagedFile(const QString &path);

    QString m_filePath;
    QHash<QString, int> m_ratings;
    // The file on disk could not be decoded; it is kept aside before the first
    // save replaces it, so no rating in it is lost for good. Read and written
    // only by the writer's jobs once the store is loaded.
    bool m_damagedFileOnDisk = false;
    SerialFileWriter m_writer;
};
