#include "viewer/ShownImageLoader.h"

#include "imaging/ImageLoadResult.h"
#include "imaging/RAWProcessor.h"
#include "model/BackgroundTask.h"

#include <QFutureWatcher>

ShownImageLoader::ShownImageLoader(WorkQueues &shared, QObject *parent)
    : QObject(parent)
    , m_shared(shared)
    , m_processor(std::make_unique<RAWProcessor>(shared))
{}

ShownImageLoader::~ShownImageLoader() = default;

void ShownImageLoader::load(const ImageItem &item, QSize view)
{
    submit(item, Kind::load, view);
}

void ShownImageLoader::decodeRAW(const ImageItem &item)
{
    submit(item, Kind::decodeRAW, QSize());
}

void ShownImageLoader::cancel()
{
    ++m_currentToken;
    m_waiting.reset();
    m_runningLoad.cancel();
}

void ShownImageLoader::submit(const ImageItem &item, Kind kind, QSize view)
{
    m_waiting.reset();
    if (m_running && m_running->item == item && m_running->kind == kind &&
        !m_runningLoad.isCanceled()) {
        // Asked again for what is being decoded (a step back and forth):
        // its result is the one wanted.
        m_currentToken = m_running->token;
        return;
    }
    const Request request{item, kind, ++m_currentToken, view};
    // A load of another picture is not wanted any more: it stops early.
    m_runningLoad.cancel();
    if (m_running && m_running->kind == Kind::decodeRAW) {
        // Not worth waiting seconds for: the development finishes on the
        // processor let go here, its result discarded.
        m_processor = std::make_unique<RAWProcessor>(m_shared);
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
    if (request.kind == Kind::load)
        startLoad(request);
    else
        startDecodeRAW(request);
}

void ShownImageLoader::startLoad(const Request &request)
{
    m_runningLoad = m_processor->loadForView(request.item.path(), request.view);
    auto *watcher = new QFutureWatcher<ViewPicture>(this);
    connect(watcher, &QFutureWatcherBase::resultReadyAt, this, [this, watcher, request](int index) {
        const ViewPicture picture = watcher->future().resultAt(index);
        if (picture.isStandIn() && request.token == m_currentToken)
            Q_EMIT standInLoaded(request.item.id(), picture);
    });
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, request] {
        watcher->deleteLater();
        finish(request, ImageLoadResult::from(watcher->future()));
    });
    watcher->setFuture(m_runningLoad);
}

void ShownImageLoader::startDecodeRAW(const Request &request)
{
    m_runningLoad = {};
    BackgroundTask::whenFinished(
        m_processor->decodeRAW(request.item.path()), this,
        [this, request](QFuture<QImage> done) { finish(request, ImageLoadResult::from(done)); });
}

void ShownImageLoader::finish(const Request &request, const ImageLoadResult &result)
{
    const QImage &image = result.image;
    const QString &error = result.errorDescription;
    // A job that never ran (its processor went away) delivers neither.
    const bool delivered = result.succeeded() || result.failed();
    const bool wasRunning = m_running && m_running->token == request.token;
    if (wasRunning) {
        m_running.reset();
        m_runningLoad = {};
    }
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
