#include "state/ShootingDataIndex.h"

#include "imaging/ShootingDataReader.h"
#include "state/ShootingDataCache.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QPromise>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Results go to the UI thread in batches of this many photos, or sooner when
// reading is slow, so that neither the UI thread nor the progress lags.
constexpr qsizetype kBatchSize = 128;
constexpr int kBatchMilliseconds = 100;
// Fewer photos than this per reader: fewer readers.
constexpr qsizetype kPhotosPerReader = 16;

// Nice 10 for the calling thread of the index's own pool: the thumbnails'
// decoders win the cores while both want them, without starving the index.
void lowerThreadPriority()
{
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
}

QDateTime fromNanoseconds(qint64 nanoseconds)
{
    // UTC: no local-time conversion on the readers (see ShootingDataReader).
    return QDateTime::fromMSecsSinceEpoch(nanoseconds / 1000000, Qt::UTC);
}

} // namespace

// The cache shared by the readers and the saves; its own lock, never held
// while a file is read.
struct ShootingDataIndex::Table
{
    QString path;
    QMutex mutex;
    std::optional<ShootingDataCache> cache;
    bool unsaved = false; // read since the last save

    ShootingDataCache &loaded() // with mutex held
    {
        if (!cache)
            cache = ShootingDataCache::load(path);
        return *cache;
    }
};

struct ShootingDataIndex::Run
{
    QStringList paths;
    std::shared_ptr<Table> table;
    std::atomic<qsizetype> next = 0;
    std::atomic<int> readersLeft = 0;
    QPromise<Batch> promise; // cancelled: the set was replaced
};

ShootingDataIndex::ShootingDataIndex(const QString &cacheFile, QThreadPool &readers,
                                     QThreadPool &saves, QObject *parent)
    : QObject(parent)
    , m_readers(readers)
    , m_saves(saves)
    , m_table(std::make_shared<Table>())
{
    m_table->path = cacheFile;
    m_progressTimer.setInterval(250);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] {
        if (m_reportedDone == m_done)
            return;
        m_reportedDone = m_done;
        Q_EMIT progressChanged(m_done, m_total);
    });
}

ShootingDataIndex::~ShootingDataIndex()
{
    stopRun();
}

const ShootingData *ShootingDataIndex::find(const QString &path) const
{
    const auto found = m_found.constFind(path);
    return found == m_found.constEnd() ? nullptr : found->get();
}

void ShootingDataIndex::setPaths(const QStringList &paths)
{
    stopRun();
    m_found.clear();
    m_found.reserve(paths.size());
    m_done = 0;
    m_total = int(paths.size());
    m_reportedDone = -1;
    if (paths.isEmpty()) {
        finish();
        return;
    }
    auto run = std::make_shared<Run>();
    run->paths = paths;
    run->table = m_table;
    run->promise.start();
    m_run = run;
    m_watcher = new QFutureWatcher<Batch>(this);
    connect(m_watcher, &QFutureWatcherBase::resultsReadyAt, this, &ShootingDataIndex::takeBatches);
    m_watcher->setFuture(run->promise.future());
    const qsizetype wanted = (paths.size() + kPhotosPerReader - 1) / kPhotosPerReader;
    const int readers = int(std::clamp<qsizetype>(wanted, 1, m_readers.maxThreadCount()));
    run->readersLeft = readers;
    for (int i = 0; i < readers; ++i) {
        m_readers.start([run] {
            readShare(*run);
            if (--run->readersLeft == 0)
                run->promise.finish();
        });
    }
    m_progressTimer.start();
}

void ShootingDataIndex::stopRun()
{
    m_progressTimer.stop();
    if (m_watcher) {
        // What the run still reports is not looked at. Deleted later: this
        // may run inside the watcher's own signal.
        m_watcher->disconnect(this);
        std::exchange(m_watcher, nullptr)->deleteLater();
    }
    if (m_run) {
        m_run->promise.future().cancel();
        m_run.reset();
    }
}

void ShootingDataIndex::readShare(Run &run)
{
    lowerThreadPriority();
    Batch batch;
    QElapsedTimer sinceSent;
    sinceSent.start();
    while (!run.promise.isCanceled()) {
        const qsizetype index = run.next++;
        if (index >= run.paths.size())
            break;
        batch.append(lookUpOrRead(*run.table, run.paths.at(index)));
        if (batch.size() >= kBatchSize || sinceSent.elapsed() >= kBatchMilliseconds) {
            run.promise.addResult(std::exchange(batch, {}));
            sinceSent.restart();
        }
    }
    if (!batch.isEmpty())
        run.promise.addResult(std::move(batch));
}

ShootingDataIndex::Found ShootingDataIndex::lookUpOrRead(Table &table, const QString &path)
{
    const ShootingDataCache::Stamp stamp = ShootingDataCache::stampOf(path);
    if (stamp.size < 0) // gone or unreadable: nothing to read, nothing to keep
        return {path, std::make_shared<const ShootingData>(), false};
    {
        QMutexLocker lock(&table.mutex);
        const ShootingDataCache &cache = table.loaded();
        const auto known = cache.entries.constFind(path);
        if (known != cache.entries.constEnd() && known->stamp == stamp)
            return {path, known->data, false};
    }
    auto data = std::make_shared<const ShootingData>(
        ShootingDataReader::read(path, fromNanoseconds(stamp.modifiedNs)));
    QMutexLocker lock(&table.mutex);
    table.loaded().entries.insert(path, {stamp, data});
    table.unsaved = true;
    return {path, data, true};
}

void ShootingDataIndex::takeBatches(int begin, int end)
{
    const QFuture<Batch> future = m_watcher->future();
    for (int i = begin; i < end; ++i) {
        const Batch batch = future.resultAt(i);
        for (const Found &found : batch) {
            m_found.insert(found.path, found.data);
            m_filesRead += found.opened ? 1 : 0;
        }
        m_done += int(batch.size());
    }
    if (isComplete())
        finish();
}

void ShootingDataIndex::finish()
{
    stopRun();
    Q_EMIT progressChanged(m_done, m_total);
    Q_EMIT completed();
    saveCache();
}

void ShootingDataIndex::saveCache()
{
    m_saves.start([table = m_table] {
        ShootingDataCache snapshot;
        {
            QMutexLocker lock(&table->mutex);
            if (!std::exchange(table->unsaved, false))
                return;
            snapshot = table->loaded();
        }
        if (!snapshot.save(table->path)) {
            QMutexLocker lock(&table->mutex);
            table->unsaved = true; // tried again after the next set
        }
    });
}
