#pragma once

#include "imaging/ShootingData.h"

#include <QFutureWatcher>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>

class QThreadPool;

// The shooting data (capture time, camera, lens, exposure, pixel size, burst
// number) of every image of the open folder, read in the background so the
// folder's lists can be sorted and filtered by it. Lives on the UI thread.
//
// setPaths() starts reading a new set of images on `readers` (one job per
// thread of that pool, at a lowered scheduling priority so the thumbnails go
// first) and forgets the previous set at once: a read still running for it is
// stopped, and nothing it found arrives afterwards. Photos whose size and
// modification time match what was read before (in this run or, through the
// cache file, an earlier one) are not opened again.
class ShootingDataIndex : public QObject
{
    Q_OBJECT

public:
    // The cache lives in `cacheFile`, loaded on first use and saved on
    // `saves` when a set that needed reading completes (WorkQueues::background:
    // a save of a large cache must not hold up the ratings' saves).
    ShootingDataIndex(const QString &cacheFile, QThreadPool &readers, QThreadPool &saves,
                      QObject *parent = nullptr);
    ~ShootingDataIndex() override;

    // Replaces the set of images indexed. An empty set is complete at once.
    void setPaths(const QStringList &paths);

    // The data of `path` once read, else nullptr. The pointer stays valid
    // until the next setPaths().
    const ShootingData *find(const QString &path) const;
    // Every path of the current set has its data (true for an empty set).
    bool isComplete() const { return m_done >= m_total; }
    int doneCount() const { return m_done; }
    int totalCount() const { return m_total; }
    // Files whose metadata this index opened since it was made: the ones a
    // cache answered are not counted.
    qsizetype filesRead() const { return m_filesRead; }

Q_SIGNALS:
    // At most four times a second while reading, and once with done == total.
    void progressChanged(int done, int total);
    // Once per set, when it is complete.
    void completed();

private:
    struct Found
    {
        QString path;
        std::shared_ptr<const ShootingData> data;
        bool opened = false; // not answered by the cache
    };
    using Batch = QList<Found>;
    struct Table;
    struct Run;

    static void readShare(Run &run);
    static Found lookUpOrRead(Table &table, const QString &path);
    void takeBatches(int begin, int end);
    void finish();
    void stopRun();
    void saveCache();

    QThreadPool &m_readers;
    QThreadPool &m_saves;
    std::shared_ptr<Table> m_table;
    std::shared_ptr<Run> m_run;
    QFutureWatcher<Batch> *m_watcher = nullptr; // a child, of the running set
    QHash<QString, std::shared_ptr<const ShootingData>> m_found;
    int m_done = 0;
    int m_total = 0;
    int m_reportedDone = -1;
    qsizetype m_filesRead = 0;
    QTimer m_progressTimer;
};
