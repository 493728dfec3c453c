#pragma once

#include <QMutex>
#include <QThreadPool>
#include <functional>
#include <memory>
#include <vector>

// Pending decode jobs served newest first: when the user scrolls through a
// large grid, the cells now on screen were asked for last and must not wait
// behind the ones scrolled past. Every job still runs. The mutex guards only
// this list, which pool workers and the owner share.
class ThumbnailJobQueue
{
public:
    using Job = std::function<void()>;

    explicit ThumbnailJobQueue(QThreadPool *pool);

    // Adds a job; a free pool worker takes the newest pending one.
    void push(Job job);
    // Drops the jobs not started yet (for shutdown).
    void clear();
    int pendingCount() const;

private:
    struct Pending
    {
        mutable QMutex mutex;
        std::vector<Job> jobs;
    };

    static void runNewest(const std::shared_ptr<Pending> &pending);

    QThreadPool *m_pool;
    std::shared_ptr<Pending> m_pending = std::make_shared<Pending>();
};
