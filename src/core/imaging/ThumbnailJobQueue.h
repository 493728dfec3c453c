#pragma once

#include <QMutex>
#include <QThreadPool>
#include <QWaitCondition>
#include <functional>
#include <memory>
#include <vector>

// Pending decode jobs served newest first: when the user scrolls through a
// large grid, the cells now on screen were asked for last and must not wait
// behind the ones scrolled past. Every job still runs. The mutex guards only
// this list and the count of running jobs, which pool workers and the owner
// share. The pool may be shared with other work: the queue waits only for
// its own jobs.
class ThumbnailJobQueue
{
public:
    using Job = std::function<void()>;

    explicit ThumbnailJobQueue(QThreadPool *pool);

    // Adds a job; a free pool worker takes the newest pending one.
    void push(Job job);
    // Drops the jobs not started yet (for shutdown).
    void clear();
    // Blocks until none of this queue's jobs runs (after clear(): until the
    // last one has finished).
    void waitForRunning();
    int pendingCount() const;

private:
    struct Pending
    {
        mutable QMutex mutex;
        QWaitCondition idle;
        std::vector<Job> jobs;
        int running = 0;
    };

    static void runNewest(const std::shared_ptr<Pending> &pending);

    QThreadPool *m_pool;
    std::shared_ptr<Pending> m_pending = std::make_shared<Pending>();
};
