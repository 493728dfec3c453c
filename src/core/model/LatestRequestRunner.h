#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QPromise>
#include <QString>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <functional>
#include <optional>
#include <utility>

// Runs jobs for an owner that only ever wants the answer to its newest
// request: one job runs, at most one waits, and a new request replaces the
// waiting one. A job superseded while it runs is asked to stop (its future is
// cancelled; a job started by run() sees that in its stop flag) and its result
// is not delivered: discarded() tells the owner instead. Jobs start, and
// results arrive, on the thread the runner lives on (the UI thread for every
// user here).
//
// A superseded job is waited for by default: it is quick, or stops early. A
// long one that cannot stop soon (a RAW development) says so with
// Request::letGo: a new request then starts at once, and the old job's result
// is discarded whenever it comes.
class LatestRequestRunner : public QObject
{
    Q_OBJECT

public:
    template <typename T>
    struct Request
    {
        // Starts the job; called when its turn comes.
        std::function<QFuture<T>()> start;
        // The job finished while still wanted: its future holds the result,
        // the error it threw, or nothing (cancelled by someone else).
        std::function<void(const QFuture<T> &)> deliver;
        // Each result as it is reported, while the job is wanted (a stand-in
        // before the full picture).
        std::function<void(const T &)> onResult = {};
        // A superseded job finished: what the owner may keep of it (a
        // by-product worth reusing), before discarded().
        std::function<void(const QFuture<T> &)> salvage = {};
        // Set for a job not worth waiting for: called when it is let go.
        std::function<void()> letGo = {};
        // False: a superseded job runs on to its end (for salvage()).
        bool stopWhenSuperseded = true;
        // Requests with the same non-empty key ask for the same thing: asking
        // again for the job that runs, while it has not been stopped, makes its
        // result wanted again instead of queueing a second run.
        QString key = {};
    };

    explicit LatestRequestRunner(QObject *parent = nullptr)
        : QObject(parent)
    {}

    template <typename T>
    void submit(Request<T> request)
    {
        m_waiting = {};
        if (m_running && !request.key.isEmpty() && m_running->key == request.key &&
            !m_running->future.isCanceled()) {
            m_running->wanted = true;
            return;
        }
        supersedeRunning();
        if (m_running)
            m_waiting = [this, request = std::move(request)]() mutable {
                launch(std::move(request));
            };
        else
            launch(std::move(request));
    }

    // Drops the waiting request; the running job's result becomes unwanted.
    // A later request still waits for that job unless it is let go.
    void cancel()
    {
        m_waiting = {};
        supersedeRunning();
    }

    // cancel(), and the running job is let go even if it would be waited for
    // (the next request starts at once; the job's result is discarded).
    void abandon()
    {
        cancel();
        m_running.reset();
    }

    bool isBusy() const { return m_running.has_value(); }
    bool hasWaiting() const { return bool(m_waiting); }
    // Jobs started so far.
    int startedJobs() const { return m_startedJobs; }

    // `work(stopRequested)` on `pool`, for Request::start: `stopRequested()`
    // turns true once the job is superseded. Any thread may call it.
    template <typename T, typename Work>
    static QFuture<T> run(QThreadPool *pool, Work work)
    {
        return QtConcurrent::run(pool, [work = std::move(work)](QPromise<T> &promise) mutable {
            promise.addResult(work([&promise] { return promise.isCanceled(); }));
        });
    }

Q_SIGNALS:
    // A job finished whose result was no longer wanted; nothing was delivered.
    void discarded();

private:
    struct Running
    {
        quint64 serial = 0;
        QString key;
        QFuture<void> future;
        std::function<void()> letGo;
        bool stopWhenSuperseded = true;
        bool wanted = true;
    };

    void supersedeRunning()
    {
        if (!m_running)
            return;
        m_running->wanted = false;
        if (m_running->stopWhenSuperseded)
            m_running->future.cancel();
        if (m_running->letGo) {
            const std::function<void()> letGo = std::move(m_running->letGo);
            m_running.reset();
            letGo();
        }
    }

    template <typename T>
    void launch(Request<T> request)
    {
        const quint64 serial = ++m_serial;
        ++m_startedJobs;
        const QFuture<T> future = request.start();
        m_running = Running{
            serial, request.key, QFuture<void>(future), request.letGo, request.stopWhenSuperseded,
            true};
        auto *watcher = new QFutureWatcher<T>(this);
        if (request.onResult) {
            connect(watcher, &QFutureWatcherBase::resultReadyAt, this,
                    [this, watcher, serial, onResult = request.onResult](int index) {
                        if (isWanted(serial))
                            onResult(watcher->future().resultAt(index));
                    });
        }
        connect(watcher, &QFutureWatcherBase::finished, this,
                [this, watcher, serial, request = std::move(request)] {
                    watcher->deleteLater();
                    finish(serial, watcher->future(), request);
                });
        watcher->setFuture(future);
    }

    bool isWanted(quint64 serial) const
    {
        return m_running && m_running->serial == serial && m_running->wanted;
    }

    template <typename T>
    void finish(quint64 serial, const QFuture<T> &future, const Request<T> &request)
    {
        const bool wanted = isWanted(serial);
        if (m_running && m_running->serial == serial)
            m_running.reset();
        if (wanted) {
            request.deliver(future);
        } else {
            if (request.salvage)
                request.salvage(future);
            Q_EMIT discarded();
        }
        if (!m_running && m_waiting)
            std::exchange(m_waiting, {})();
    }

    std::optional<Running> m_running;
    std::function<void()> m_waiting; // starts the waiting request
    quint64 m_serial = 0;
    int m_startedJobs = 0;
};
