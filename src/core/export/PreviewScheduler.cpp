#include "export/PreviewScheduler.h"

#include "export/FrameExportModel.h"
#include "export/RenderPipeline.h"
#include "model/BackgroundTask.h"

#include <QtConcurrent/QtConcurrentRun>

PreviewScheduler::PreviewScheduler(FrameExportModel &model, QObject *parent)
    : QObject(parent)
    , m_model(model)
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
    ++m_request;
    m_debounce.start();
}

void PreviewScheduler::cancel()
{
    m_debounce.stop();
    ++m_request;
    m_queued = false;
}

void PreviewScheduler::updatePreview()
{
    m_debounce.stop();
    if (m_model.sourceImage().isNull()) {
        Q_EMIT previewUpdated();
        return;
    }
    if (m_running) {
        m_queued = true; // started as soon as the running render returns
        return;
    }
    startRender();
}

void PreviewScheduler::startRender()
{
    const quint64 request = m_request;
    const QImage source = m_model.sourceImage();
    const qint64 sourceKey = source.cacheKey();
    const QSize bound = m_bound;
    const QImage cached =
        (sourceKey == m_scaledSourceKey && bound == m_scaledBound) ? m_scaledSource : QImage();
    const RenderInputs inputs = m_model.renderInputs();
    m_running = true;
    ++m_renderCount;

    BackgroundTask::run(
        QThreadPool::globalInstance(), this,
        [source, sourceKey, bound, cached, inputs] {
            Result result;
            result.scaledSource =
                cached.isNull() ? RenderPipeline::previewSource(source, bound) : cached;
            result.sourceKey = sourceKey;
            result.bound = bound;
            result.preview = RenderPipeline::render(result.scaledSource, inputs);
            return result;
        },
        [this, request](const Result &result) { finishRender(request, result); });
}

void PreviewScheduler::finishRender(quint64 request, const Result &result)
{
    m_running = false;
    m_scaledSource = result.scaledSource;
    m_scaledSourceKey = result.sourceKey;
    m_scaledBound = result.bound;
    if (m_queued) {
        m_queued = false;
        startRender();
        return;
    }
    if (request != m_request)
        return; // a later change is pending behind the debounce
    m_model.setPreviewImage(result.preview);
    Q_EMIT previewUpdated();
}
