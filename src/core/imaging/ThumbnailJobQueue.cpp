#include "imaging/ThumbnailJobQueue.h"

ThumbnailJobQueue::ThumbnailJobQueue(QThreadPool *pool)
    : m_pool(pool)
{}

void ThumbnailJobQueue::push(Job job)
{
    {
        QMutexLocker locker(&m_pending->mutex);
        const auto now = std::chrono::steady_clock::now();
        if (m_pending->jobs.empty() || now - m_pending->lastPush > burstGap)
            ++m_pending->burst;
        m_pending->lastPush = now;
        m_pending->jobs.push_back({std::move(job), m_pending->burst});
    }
    startWorker();
}

void ThumbnailJobQueue::pushDeferred(Job job)
{
    {
        QMutexLocker locker(&m_pending->mutex);
        m_pending->deferred.push_back(std::move(job));
    }
    startWorker();
}

void ThumbnailJobQueue::startWorker()
{
    // One pool task per job; each takes whatever comes first when it starts.
    m_pool->start([pending = m_pending] { runNext(pending); });
}

void ThumbnailJobQueue::clear()
{
    QMutexLocker locker(&m_pending->mutex);
    m_pending->jobs.clear();
}

void ThumbnailJobQueue::waitForRunning()
{
    QMutexLocker locker(&m_pending->mutex);
    while (m_pending->running > 0)
        m_pending->idle.wait(&m_pending->mutex);
}

int ThumbnailJobQueue::pendingCount() const
{
    QMutexLocker locker(&m_pending->mutex);
    return static_cast<int>(m_pending->jobs.size() + m_pending->deferred.size());
}

ThumbnailJobQueue::Job ThumbnailJobQueue::takeFirstOfNewestBurst(Pending &pending)
{
    auto first = std::prev(pending.jobs.end());
    while (first != pending.jobs.begin() && std::prev(first)->burst == first->burst)
        --first;
    Job job = std::move(first->job);
    pending.jobs.erase(first);
    return job;
}

void ThumbnailJobQueue::runNext(const std::shared_ptr<Pending> &pending)
{
    Job job;
    {
        QMutexLocker locker(&pending->mutex);
        const bool backlog = pending->deferred.size() > maxDeferred;
        if (!pending->jobs.empty() && !backlog) {
            job = takeFirstOfNewestBurst(*pending);
        } else if (!pending->deferred.empty()) {
            job = std::move(pending->deferred.front());
            pending->deferred.pop_front();
        } else {
            return;
        }
        ++pending->running;
    }
    job();
    QMutexLocker locker(&pending->mutex);
    if (--pending->running == 0)
        pending->idle.wakeAll();
}
