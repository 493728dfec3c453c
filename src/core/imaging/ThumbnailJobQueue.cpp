#include "imaging/ThumbnailJobQueue.h"

ThumbnailJobQueue::ThumbnailJobQueue(QThreadPool *pool)
    : m_pool(pool)
{}

void ThumbnailJobQueue::push(Job job)
{
    {
        QMutexLocker locker(&m_pending->mutex);
        m_pending->jobs.push_back(std::move(job));
    }
    // One pool task per job; each takes whatever is newest when it starts.
    m_pool->start([pending = m_pending] { runNewest(pending); });
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
    return static_cast<int>(m_pending->jobs.size());
}

void ThumbnailJobQueue::runNewest(const std::shared_ptr<Pending> &pending)
{
    Job job;
    {
        QMutexLocker locker(&pending->mutex);
        if (pending->jobs.empty())
            return;
        job = std::move(pending->jobs.back());
        pending->jobs.pop_back();
        ++pending->running;
    }
    job();
    QMutexLocker locker(&pending->mutex);
    if (--pending->running == 0)
        pending->idle.wakeAll();
}
