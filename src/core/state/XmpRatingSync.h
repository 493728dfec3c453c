#pragma once

#include "imaging/XmpSidecarWriter.h"
#include "model/CullingMark.h"
#include "model/SerialFileWriter.h"
#include "state/InFileRatingCache.h"

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <QTimer>
#include <atomic>
#include <memory>
#include <optional>

class CullingMarkStore;
class StarRatingStore;

// Keeps XMP sidecars in step with the rating store and the culling marks
// while the user's setting "将评分同步到 XMP 附属文件" is on (off by
// default): every rating, reject and colour label change is also written into
// the photo's sidecars, in the background. A reject is written as the rating
// -1 in place of the stars, which stay in the table and come back into the
// sidecar when the reject is cleared; a pick is not written. With the setting
// off it does nothing at all: no sidecar is read or written.
//
// A failed write keeps the rating in the store; it is reported once per
// folder and the file is remembered, so that the store's rating is not taken
// back by the older value in the file.
class XmpRatingSync : public QObject
{
    Q_OBJECT

public:
    // The setting is kept in `settingsFile` (INI), or in the application's
    // settings when it is empty. Sidecars are written on `fileOperations`
    // (WorkQueues::fileOperations: one thread, jobs in order).
    XmpRatingSync(StarRatingStore &store, CullingMarkStore &marks, QThreadPool &fileOperations,
                  const QString &settingsFile, QObject *parent = nullptr);
    // The cache of what was read from the files lives in `cacheFile`.
    XmpRatingSync(StarRatingStore &store, CullingMarkStore &marks, QThreadPool &fileOperations,
                  const QString &settingsFile, const QString &cacheFile, QObject *parent = nullptr);
    ~XmpRatingSync() override;

    static QString settingKey();

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);

    // Writes the given ratings (path -> 1..5) once, reporting progress.
    void writeAll(const QHash<QString, int> &ratings);

    // Reads the in-file rating of each of `imagePaths` on the pool; `sidecars`
    // are the .xmp files the scan listed (no other file is looked for). Where
    // a photo's in-file rating (1..5) differs from the table, the table takes
    // it, all in one batch, unless the user changed the rating meanwhile or
    // the photo's last sidecar write failed. A reject (-1) or colour label
    // in the files fills the flag or label the table leaves empty, under the
    // same conditions. Photos unchanged since they were
    // last read and applied here are not opened. Progress goes to statusReport. Does nothing
    // while the setting is off. A newer import stops the reading of an older
    // one (what it read still counts; only the newer one reports).
    QFuture<void> importRatings(const QStringList &imagePaths, const QStringList &sidecars);

    // Photos that moved from `from` to `to` (same order; an archive), after
    // the store moved their ratings. Their failure marks move along. With the
    // setting on, a photo whose sidecar holds an older rating (its last
    // write failed, or it was rated while it moved: `ratingsBefore` has the
    // ratings from when the move began) is written at its new place; writes
    // posted for the old paths meanwhile find them gone, which is no failure
    // to report.
    void followMovedFiles(const QStringList &from, const QStringList &to,
                          const QHash<QString, int> &ratingsBefore);

    // Files whose last sidecar write failed (UI thread).
    const QSet<QString> &failedFiles() const { return m_failedFiles; }
    // Blocks until every write posted so far is finished.
    void waitForDone();
    // The file-operation queue the sidecars are written on.
    QThreadPool *writerPool() { return m_writer.pool(); }

Q_SIGNALS:
    void enabledChanged(bool enabled);
    // A text for the status line: a failure (once per folder) or progress.
    void statusReport(const QString &text);
    // An import finished; `taken` ratings came from the files.
    void importFinished(qsizetype taken);

private:
    struct SharedCache
    {
        QString path;
        QMutex mutex;
        std::optional<InFileRatingCache> cache; // loaded on first use
        InFileRatingCache &loaded();            // with mutex held
    };
    struct ImportResult
    {
        // path -> stamp and in-file rating of the files read
        QHash<QString, InFileRatingCache::Entry> found;
        QSet<QString> unwritten; // as remembered in the cache
    };

    // Shared with the import's reading.
    struct ImportProgress
    {
        std::atomic<qsizetype> done = 0;
        // A newer import or the end of the program: what is left is not read.
        std::atomic<bool> dropped = false;
    };

    static ImportResult readRatings(const QStringList &imagePaths, const QStringList &sidecars,
                                    const std::shared_ptr<SharedCache> &cache,
                                    const std::shared_ptr<ImportProgress> &progress);
    // The table as an import began.
    struct ImportStart
    {
        QHash<QString, int> ratings;
        QHash<QString, CullingMark> marks; // the photos with one
        QSet<QString> writing;             // photos whose sidecar write was under way
    };
    void applyImport(const ImportResult &result, const ImportStart &start, bool superseded);
    // Takes rejects and labels found in the files into the marks left empty.
    void importMarks(const ImportResult &result, const ImportStart &start,
                     const QSet<QString> &stillWriting);
    void saveCache();
    // Remembers what an import read, once the table has taken it: a file
    // read but never applied (the program quit first) is read again.
    void recordRead(const QHash<QString, InFileRatingCache::Entry> &read);
    void onRatingChanged(const QString &path, int oldRating, int newRating);
    void onMarkChanged(const QString &path, const CullingMark &oldMark, const CullingMark &newMark);
    void onMarksChanged(const QStringList &paths);
    // The xmp:Rating a photo's sidecar gets: -1 when rejected, else its stars.
    int sidecarRating(const QString &path) const;
    void onWritten(const QString &path);
    void onWriteFailed(const QString &path, const QString &reason);
    void countBulkWrite(const QString &path);

    StarRatingStore &m_store;
    CullingMarkStore &m_marks;
    QString m_settingsFile;
    bool m_enabled = false;
    QSet<QString> m_failedFiles;
    // Old paths of moved photos, until the writes posted for them are done.
    QSet<QString> m_movedAway;
    QSet<QString> m_reportedFolders;
    QSet<QString> m_bulkPending;
    qsizetype m_bulkTotal = 0;
    QString m_bulkFailure;
    std::shared_ptr<SharedCache> m_cache;
    QTimer m_progressTimer;
    std::shared_ptr<ImportProgress> m_import;
    qsizetype m_importTotal = 0;
    int m_importsRunning = 0;
    SerialFileWriter m_cacheWriter;
    // Imports run here, one at a time, and spread their reading over the
    // global pool; what one recorded is known to the next. Waiting for that from a global pool
    // thread could wait for ever once every such thread waits the same way.
    QThreadPool m_importer;
    XmpSidecarWriter m_writer; // last: drained first on destruction
};
