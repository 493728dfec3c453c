#pragma once

#include "model/LatestRequestRunner.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QTimer>

class FrameExportModel;
class QThreadPool;

// Keeps the model's preview in step with its settings: every change restarts
// an 80 ms debounce; when it runs out, the render pipeline runs on a worker
// thread from a copy of the source scaled to the preview's pixel size. Only
// the newest request counts: a result that arrives after a later change is
// dropped, and while one render runs at most one more is queued behind it.
// UI thread only.
class PreviewScheduler : public QObject
{
    Q_OBJECT

public:
    static constexpr int debounceMs = 80;

    // Renders on `pool` (the application's background work).
    PreviewScheduler(FrameExportModel &model, QThreadPool &pool, QObject *parent = nullptr);

    // The largest preview bitmap needed (the preview area in device pixels).
    // Growing beyond the current one re-renders from a larger copy.
    void setPreviewBound(const QSize &bound);
    QSize previewBound() const { return m_bound; }

    // Restarts the debounce; the pending and running requests become stale.
    void schedulePreviewUpdate();
    // Renders now, without the debounce (start-up, benchmarks).
    void updatePreview();
    // Stops the debounce and makes every running render stale.
    void cancel();

    // How many renders have been started (for tests of the debounce).
    int renderCount() const { return m_renders.startedJobs(); }

Q_SIGNALS:
    // A render request has been answered: applied to the model, or nothing to
    // do because there is no source. Dropped stale results do not emit.
    void previewUpdated();

private:
    struct Result
    {
        QImage preview;
        QImage scaledSource; // the copy it was rendered from, kept for the next render
        qint64 sourceKey = 0;
        QSize bound;
    };

    QFuture<Result> startRender();
    void keepScaledSource(const QFuture<Result> &done);

    FrameExportModel &m_model;
    QThreadPool &m_pool;
    QTimer m_debounce;
    QSize m_bound{1600, 1600};
    LatestRequestRunner m_renders;

    // Scaled copy of the model's source image, reused while source and bound stay.
    QImage m_scaledSource;
    qint64 m_scaledSourceKey = 0;
    QSize m_scaledBound;
};
