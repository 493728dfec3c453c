#include "viewer/ShownImageLoader.h"

#include "imaging/ImageLoadResult.h"
#include "imaging/RAWProcessor.h"
#include "model/BackgroundTask.h"

ShownImageLoader::ShownImageLoader(QObject *parent)
    : QObject(parent)
    , m_processor(std::make_unique<RAWProcessor>())
{}

ShownImageLoader::~ShownImageLoader() = default;

void ShownImageLoader::load(const ImageItem &item)
{
    submit(item, Kind::load);
}

void ShownImageLoader::decodeRAW(const ImageItem &item)
{
    submit(item, Kind::decodeRAW);
}

void ShownImageLoader::cancel()
{
    ++m_currentToken;
    m_waiting.reset();
}

void ShownImageLoader::submit(const ImageItem &item, Kind kind)
{
    m_waiting.reset();
    if (m_running && m_running->item == item && m_running->kind == kind) {
        // Asked again for what is being decoded (a step back and forth):
        // its result is the one wanted.
        m_currentToken = m_running->token;
        return;
    }
    const Request request{item, kind, ++m_currentToken};
    if (m_running && m_running->kind == Kind::decodeRAW) {
        // Not worth waiting seconds for: the development finishes on the
        // processor let go here, its result discarded.
        m_processor = std::make_unique<RAWProcessor>();
        m_running.reset();
    }
    if (m_running)
        m_waiting = request;
    else
        start(request);
}

void ShownImageLoader::start(Request request)
{
    m_running = request;
    ++m_startedJobs;
    const QFuture<QImage> job = request.kind == Kind::load
                                    ? m_processor->loadImage(request.item.path())
                                    : m_processor->decodeRAW(request.item.path());
    BackgroundTask::whenFinished(job, this, [this, request](QFuture<QImage> done) {
        const ImageLoadResult result = ImageLoadResult::from(done);
        finish(request, result.image, result.errorDescription,
               result.succeeded() || result.failed());
    });
}

void ShownImageLoader::finish(const Request &request, const QImage &image, const QString &error,
                              bool delivered)
{
    const bool wasRunning = m_running && m_running->token == request.token;
    if (wasRunning)
        m_running.reset();
    if (request.token != m_currentToken || !delivered) {
        Q_EMIT discarded();
    } else if (request.kind == Kind::load) {
        if (!image.isNull())
            Q_EMIT loaded(request.item.id(), image);
        else
            Q_EMIT loadFailed(request.item.id(), error);
    } else {
        if (!image.isNull())
            Q_EMIT decoded(request.item.id(), image);
        else
            Q_EMIT decodeFailed(request.item.id(), error);
    }
    if (wasRunning && !m_running && m_waiting) {
        Request next = std::move(*m_waiting);
        m_waiting.reset();
        start(std::move(next));
    }
}
