#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonValue>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QWaitCondition>

class QThreadPool;

// One JSON object file (key -> value, keys mostly file paths) that a store of
// this process keeps its table in and that other processes share: two
// windows, two sessions on one home folder, older versions of the program.
//
// A save never writes this process's table over the file: on a writer thread,
// under an advisory lock (the file's path + ".lock"), it reads what is on
// disk, applies only the changes this process made since its last load or
// save, and replaces the file atomically with the result. What the other
// processes changed comes back to the UI thread (othersChanged), without the
// keys this process changed again meanwhile: a key changed by two processes
// ends with the change saved last.
//
// A file that was read and does not parse (or holds a value the store does
// not accept) is set aside as `.damaged` before the first save replaces it; a
// file that cannot be read or written is left alone, the changes stay pending
// and every later save tries again.
//
// The owner calls load(), change() and save() on the UI thread; the writes
// run on the pool it hands in, never two at a time.
class JsonStoreFile : public QObject
{
    Q_OBJECT

public:
    // key -> value. In a set of changes an undefined value removes the key.
    using Entries = QHash<QString, QJsonValue>;
    // Whether a value found in the file is one the store keeps: any other
    // makes the whole file damaged.
    using ValueCheck = bool (*)(const QJsonValue &value);

    JsonStoreFile(const QString &filePath, ValueCheck isValid, QThreadPool &writers,
                  QObject *parent = nullptr);
    // Waits for this file's writes still running or queued.
    ~JsonStoreFile() override;

    const QString &filePath() const { return m_filePath; }

    // The file's table now; a missing, unreadable or damaged file reads as
    // empty (a damaged one stays on disk until a save sets it aside). Once,
    // before the first change.
    Entries load();
    // Notes an own change (undefined: removed) for the next save.
    void change(const QString &key, const QJsonValue &value);
    // Hands every change noted so far to the writer. Saves made before the
    // writer gets to them fold into one, so a burst costs one merge.
    void save();
    // Blocks until every save so far is on disk (or failed) and its
    // othersChanged has been emitted, and the writers' queue is idle. Not for
    // the UI thread of the application: for tests and tools.
    void waitForSaved();

    // Renames a file that was read and does not parse to `path`.damaged (then
    // .damaged.1, ...), never replacing an earlier copy, so that a new file
    // can be written without losing what the old one held. True also when
    // `path` is gone; otherwise false with the reason in `error`.
    static bool setAsideDamagedFile(const QString &path, QString *error);

Q_SIGNALS:
    // UI thread: what other processes changed (undefined: removed), as the
    // last save found it.
    void othersChanged(const JsonStoreFile::Entries &changes);
    // The file could not be read or written (`reason` is the system's
    // description). Said once until a save succeeds.
    void saveFailed(const QString &reason);

private:
    struct QueuedSave
    {
        Entries changes;
        quint64 serial = 0;
        bool queued = false;
    };

    // Writer thread: merges whatever the queued save holds by now.
    void writeQueuedSave();
    // Writer thread, m_writeMutex held: merges `changes` into the file and
    // hands what others changed back to the UI thread.
    void mergeIntoFile(const Entries &changes, quint64 serial);
    void reportFailure(const QString &reason);
    // UI thread: passes on what the save numbered `serial` found changed by
    // others, unless an own change made after it is newer.
    void adoptMerged(const Entries &othersChanges, quint64 serial);

    const QString m_filePath;
    const ValueCheck m_isValid;
    QThreadPool &m_writers;

    // UI thread only.
    Entries m_unsaved;
    // The number of the save that carries each own change still on its way
    // to the file: a change of another process found by an earlier save is
    // older than it.
    QHash<QString, quint64> m_changeSerials;
    quint64 m_saveSerial = 0;

    // Hand-over between the UI thread and the writers.
    QMutex m_queueMutex;
    QWaitCondition m_allWritten;
    QueuedSave m_queued;
    int m_pendingWrites = 0;

    // Writers only, under m_writeMutex: one merge at a time, in order.
    QMutex m_writeMutex;
    // The table as this process knows it (its own changes handed over so
    // far, and what the last merge found).
    Entries m_known;
    // The file's content when this process last read or wrote it: while it
    // is still that, m_known is the merge and nothing needs decoding.
    QByteArray m_lastBytes;
    // Own changes a failed save could not put on disk yet.
    Entries m_unwrittenChanges;
    bool m_failureReported = false;
};
