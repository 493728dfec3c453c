#include "imaging/RAWProcessor.h"

#include "imaging/ImageDecoder.h"
#include "imaging/RawDeveloper.h"
#include "model/WorkQueues.h"

#include <QPromise>
#include <QThreadPool>
#include <atomic>

// The part of a processor that outlives it while its last job runs.
struct RAWProcessor::Worker
{
    WorkQueues &shared;
    std::unique_ptr<RawDeveloper> developer; // touched only by the job running
    std::atomic<int> rawContextCount = 0;
    std::atomic<bool> retired = false;
    QThreadPool pool; // one thread: one job at a time

    explicit Worker(WorkQueues &queues)
        : shared(queues)
    {
        pool.setMaxThreadCount(1);
        // The LibRaw context is reused between jobs; keep its thread alive with it.
        pool.setExpiryTimeout(-1);
    }
    // Runs on the retirement pool, never on the UI thread.
    ~Worker() { pool.waitForDone(); }

    RawDeveloper &rawDeveloper()
    {
        if (!developer) {
            developer = std::make_unique<RawDeveloper>(ImageDecoder::maxPixels);
            ++rawContextCount;
        }
        return *developer;
    }

    // `job(worker, promise)` on the worker's thread, unless the processor has
    // gone before the job's turn came. The job may add results of its own
    // before the one it returns.
    template <typename T, typename Job>
    QFuture<T> run(Job job)
    {
        auto promise = std::make_shared<QPromise<T>>();
        QFuture<T> future = promise->future();
        promise->start();
        // `this` outlives the job: the destructor waits for the pool.
        pool.start([this, promise, job = std::move(job)]() mutable {
            if (retired.load(std::memory_order_acquire)) {
                promise->future().cancel();
            } else {
                try {
                    T result = job(*this, *promise);
                    if (!promise->isCanceled())
                        promise->addResult(std::move(result));
                } catch (...) {
                    promise->setException(std::current_exception());
                }
            }
            promise->finish();
        });
        return future;
    }
};

RAWProcessor::RAWProcessor(WorkQueues &shared)
    : m_worker(std::make_shared<Worker>(shared))
{
    ImageDecoder::initialiseLibraries();
}

RAWProcessor::~RAWProcessor()
{
    m_worker->retired.store(true, std::memory_order_release);
    // Jobs not yet started go now: dropping a job's promise unfinished
    // cancels its future, so callers learn at once that no result comes.
    m_worker->pool.clear();
    // A retired worker's queued jobs are skipped, so the retirement waits
    // for one job at most.
    QThreadPool &retirement = m_worker->shared.processorRetirement();
    retirement.start([worker = std::move(m_worker)]() mutable { worker.reset(); });
}

QFuture<QImage> RAWProcessor::loadImage(const QString &path)
{
    return m_worker->run<QImage>([path](Worker &worker, QPromise<QImage> &) {
        return ImageDecoder::fullImage(path, &worker.shared.decodeFailures());
    });
}

QFuture<ViewPicture> RAWProcessor::loadForView(const QString &path, QSize view)
{
    return m_worker->run<ViewPicture>([path, view](Worker &worker, QPromise<ViewPicture> &promise) {
        const auto stillWanted = [&promise] { return !promise.isCanceled(); };
        const auto standInReady = [&promise](const ViewPicture &standIn) {
            promise.addResult(standIn);
            return !promise.isCanceled();
        };
        const QImage full =
            ImageDecoder::fullImage(path, view, standInReady, stillWanted, worker.shared);
        return ViewPicture{full, full.size()};
    });
}

QFuture<QImage> RAWProcessor::decodeRAW(const QString &path)
{
    return m_worker->run<QImage>([path](Worker &worker, QPromise<QImage> &promise) {
        // A damaged file can keep LibRaw busy for minutes: the development
        // stops when its future is cancelled or the processor is destroyed,
        // so that neither leaving the picture nor quitting waits for it.
        const auto stillWanted = [&worker, &promise] {
            return !promise.isCanceled() && !worker.retired.load(std::memory_order_acquire);
        };
        return worker.rawDeveloper().develop(path, RawDeveloper::Resolution::full, stillWanted);
    });
}

QImage RAWProcessor::loadImageSync(const QString &path)
{
    return ImageDecoder::fullImage(path);
}

int RAWProcessor::rawContextCount() const
{
    return m_worker->rawContextCount.load();
}
