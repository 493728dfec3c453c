#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QPromise>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <memory>
#include <type_traits>
#include <utility>

// Runs `work` on a pool thread, then `apply(result)` on the thread of
// `context` (the UI thread for every caller here). The returned future
// finishes on that thread right after `apply`, or is cancelled if `context`
// is destroyed first (then `apply` never runs).
//
// The result comes back through a QFutureWatcher owned by `context` rather
// than a continuation attached to the worker's future: Qt 6.4 can lose a
// continuation attached while the worker finishes at the same moment, which
// would leave the window waiting forever.
class BackgroundTask
{
public:
    template <typename Work, typename Apply>
    static QFuture<void> run(QThreadPool *pool, QObject *context, Work work, Apply apply)
    {
        return run(pool, context, std::move(work), std::move(apply), [] {});
    }

    // The same, and `fail()` runs instead of `apply` when `work` threw (out
    // of memory, a library's error) or was cancelled before it ran, so the
    // caller can always leave its busy state.
    template <typename Work, typename Apply, typename Fail>
    static QFuture<void> run(QThreadPool *pool, QObject *context, Work work, Apply apply, Fail fail)
    {
        using Result = std::invoke_result_t<Work>;
        auto promise = std::make_shared<QPromise<void>>();
        promise->start();
        QFuture<void> finished = promise->future();
        whenFinished(QtConcurrent::run(pool, std::move(work)), context,
                     [promise, apply = std::move(apply),
                      fail = std::move(fail)](const QFuture<Result> &done) mutable {
                         if (done.resultCount() > 0)
                             apply(done.result());
                         else
                             fail();
                         promise->finish();
                     });
        return finished;
    }

    // Calls `callback(future)` on the thread of `context` once `future` has
    // finished (with a result, an exception or cancelled); never if `context`
    // is destroyed first.
    template <typename T, typename Callback>
    static void whenFinished(const QFuture<T> &future, QObject *context, Callback callback)
    {
        auto *watcher = new QFutureWatcher<T>(context);
        QObject::connect(watcher, &QFutureWatcherBase::finished, watcher,
                         [watcher, callback = std::move(callback)]() mutable {
                             callback(watcher->future());
                             watcher->deleteLater();
                         });
        watcher->setFuture(future);
    }
};
