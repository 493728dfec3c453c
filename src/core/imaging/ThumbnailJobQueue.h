#pragma once

#include <QMutex>
#include <QThreadPool>
#include <QWaitCondition>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

// Pending decode jobs served newest screenful first: when the user scrolls
// through a large grid, the cells now on screen were asked for last and must
// not wait behind the ones scrolled past. Jobs pushed in one go (less than
// burstGap apart, as one paint of the grid asks for its cells) are one
// screenful and run in the order they came, so that a screen fills in reading
// order rather than from its last cell up. Every job still runs.
//
// Deferred jobs (work that nobody waits for, such as writing a finished
// thumbnail to disk) run only when no other job is pending, oldest first,
// unless more than maxDeferred of them wait: what they hold stays bounded
// while a long scroll keeps the decodes coming.
//
// The mutex guards only the lists and the count of running jobs, which pool
// workers and the owner share. The pool may be shared with other work: the
// queue waits only for its own jobs.
class ThumbnailJobQueue
{
public:
    using Job = std::function<void()>;
    static constexpr std::size_t maxDeferred = 32;
    // Far below the time between two frames of a scroll.
    static constexpr std::chrono::milliseconds burstGap{4};

    explicit ThumbnailJobQueue(QThreadPool *pool);

    // Adds a job; a free pool worker takes the first pending one of the
    // newest burst.
    void push(Job job);
    // Adds a job that runs once no job pushed with push() waits (or once
    // more than maxDeferred deferred ones do).
    void pushDeferred(Job job);
    // Drops the jobs not started yet (for shutdown); deferred jobs still run.
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
        struct Queued
        {
            Job job;
            quint64 burst;
        };
        std::vector<Queued> jobs;
        quint64 burst = 0;
        std::chrono::steady_clock::time_point lastPush;
        std::deque<Job> deferred;
        int running = 0;
    };

    static void runNext(const std::shared_ptr<Pending> &pending);
    static Job takeFirstOfNewestBurst(Pending &pending);
    void startWorker();

    QThreadPool *m_pool;
    std::shared_ptr<Pending> m_pending = std::make_shared<Pending>();
};
