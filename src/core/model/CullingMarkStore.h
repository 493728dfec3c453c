#pragma once

#include "model/CullingMark.h"
#include "model/PersistentPathTable.h"

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

class WorkQueues;

// The user's flags and colour labels, keyed by each file's decoded absolute
// path like the star ratings, and kept the same way: the whole table in
// memory, every change saved in the background to one JSON object file
// (path -> CullingMark's JSON form) shared with other processes
// (JsonStoreFile). UI thread only.
class CullingMarkStore : public QObject
{
    Q_OBJECT

public:
    // Keeps the table in `filePath` (the application's is defaultFilePath()).
    // Saves run on `queues`' store writer, clean-ups on its background pool.
    CullingMarkStore(const QString &filePath, WorkQueues &queues, QObject *parent = nullptr);

    // culling-marks.json beside the ratings file.
    static QString defaultFilePath();
    const QString &filePath() const { return m_table.file().filePath(); }

    CullingMark mark(const QString &path) const { return m_table.value(path); }
    CullingMark mark(const QUrl &url) const { return mark(url.toLocalFile()); }

    // Change one part of a file's mark and keep the other. Always saves.
    void setFlag(const QString &path, CullingFlag flag);
    void setLabel(const QString &path, ColourLabel label);

    // The same for several files, with one save and one marksChanged when
    // any mark differs.
    void setFlags(const QStringList &paths, CullingFlag flag);
    void setLabels(const QStringList &paths, ColourLabel label);
    // Removes the marks of `paths`, with one save and one marksChanged.
    void removeMarks(const QStringList &paths);
    // Puts back whole marks (path -> mark, an empty one removes it), as an
    // undo does, with one save and one marksChanged when any differs.
    void setMarks(const QHash<QString, CullingMark> &marks);
    // Files that moved: each path of `from` hands its mark (none included) to
    // the path at the same place of `to`, with one save and one marksChanged,
    // when any mark changed.
    void moveMarks(const QStringList &from, const QStringList &to);

    // Drops the marks of files below `folderPath` (at any depth) that are
    // certainly gone, as StarRatingStore::cleanupStaleEntries does.
    QFuture<void> cleanupStaleEntries(const QString &folderPath);
    // Files being moved: see StarRatingStore::holdPaths.
    void holdPaths(const QStringList &paths) { m_table.hold(paths); }
    void releasePaths(const QStringList &paths) { m_table.release(paths); }

    qsizetype count() const { return m_table.count(); }

    // Blocks until every change so far is on disk and the table in memory
    // holds what was merged from the file.
    void waitForSaved() { m_table.file().waitForSaved(); }

Q_SIGNALS:
    // The mark of one file changed, here or in another process.
    void markChanged(const QString &path, const CullingMark &oldMark, const CullingMark &newMark);
    // The marks of `paths` changed at once (a batch, moved or vanished files).
    void marksChanged(const QStringList &paths);
    // The marks file could not be read or written (`reason` is the system's
    // description). The changes stay pending and every later save tries
    // again; said once until a save succeeds.
    void saveFailed(const QString &reason);

private:
    // Puts `edit(mark)` for one file, saves and announces a real change.
    template <typename Edit>
    void editOne(const QString &path, Edit edit);
    // Puts `edit(mark)` for each file; one save and one marksChanged.
    template <typename Edit>
    void editAll(const QStringList &paths, Edit edit);
    // Saves and announces the files of a batch whose marks changed.
    void finishBatch(const QStringList &changed);

    PersistentPathTable<CullingMark> m_table;
};
