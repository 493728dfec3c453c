#include "export/PreviewScheduler.h"

#include "export/FrameExportModel.h"
#include "export/RenderPipeline.h"

#include <QtConcurrent/QtConcurrentRun>

PreviewScheduler::PreviewScheduler(FrameExportModel &model, QThreadPool &pool, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_pool(pool)
{
    m_debounce.setSingleShot(true);
    m_debounce.setInterval(debounceMs);
    m_debounce.setTimerType(Qt::PreciseTimer);
    connect(&m_debounce, &QTimer::timeout, this, &PreviewScheduler::updatePreview);
    connect(&m_model, &FrameExportModel::renderInputsChanged, this,
            &PreviewScheduler::schedulePreviewUpdate);
}

void PreviewScheduler::setPreviewBound(const QSize &bound)
{
    if (bound.isEmpty() || bound == m_bound)
        return;
    const bool grows = bound.width() > m_bound.width() || bound.height() > m_bound.height();
    m_bound = bound;
    if (grows && !m_model.previewImage().isNull())
        schedulePreviewUpdate();
}

void PreviewScheduler::schedulePreviewUpdate()
{
    m_renders.cancel();
    m_debounce.start();
}

void PreviewScheduler::cancel()
{
    m_debounce.stop();
    m_renders.cancel();
}

void PreviewScheduler::updatePreview()
{
    m_debounce.stop();
    if (m_model.sourceImage().isNull()) {
        Q_EMIT previewUpdated();
        return;
    }
    LatestRequestRunner::Request<Result> render;
    // The settings are read when the render starts, not when it is asked for.
    render.start = [this] { return startRender(); };
    render.deliver = [this](const QFuture<Result> &done) {
        keepScaledSource(done);
        if (done.resultCount() == 0)
            return;
        m_model.setPreviewImage(done.result().preview);
        Q_EMIT previewUpdated();
    };
    render.salvage = [this](const QFuture<Result> &done) { keepScaledSource(done); };
    // A stale render still yields the scaled copy the next one reuses.
    render.stopWhenSuperseded = false;
    m_renders.submit(std::move(render));
}

QFuture<PreviewScheduler::Result> PreviewScheduler::startRender()
{
    const QImage source = m_model.sourceImage();
    const qint64 sourceKey = source.cacheKey();
    const QSize bound = m_bound;
    const QImage cached =
        (sourceKey == m_scaledSourceKey && bound == m_scaledBound) ? m_scaledSource : QImage();
    const RenderInputs inputs = m_model.renderInputs();
    return QtConcurrent::run(&m_pool, [source, sourceKey, bound, cached, inputs] {
        Result result;
        result.scaledSource =
            cached.isNull() ? RenderPipeline::previewSource(source, bound) : cached;
        result.sourceKey = sourceKey;
        result.bound = bound;
        result.preview = RenderPipeline::render(result.scaledSource, inputs);
        return result;
    });
}

void PreviewScheduler::keepScaledSource(const QFuture<Result> &done)
{
    if (done.resultCount() == 0)
        return;
    const Result &result = done.result();
    m_scaledSource = result.scaledSource;
    m_scaledSourceKey = result.sourceKey;
    m_scaledBound = result.bound;
}
