#include "viewing/ShownImageLoader.h"

#include "imaging/ImageLoadResult.h"
#include "imaging/RAWProcessor.h"

ShownImageLoader::ShownImageLoader(WorkQueues &shared, QObject *parent)
    : QObject(parent)
    , m_shared(shared)
    , m_processor(std::make_unique<RAWProcessor>(shared))
{
    connect(&m_jobs, &LatestRequestRunner::discarded, this, &ShownImageLoader::discarded);
}

ShownImageLoader::~ShownImageLoader() = default;

LatestRequestRunner::Request<ViewPicture> ShownImageLoader::loadRequest(const ImageItem &item)
{
    LatestRequestRunner::Request<ViewPicture> request;
    // Asked again for what is being decoded (a step back and forth): its
    // result is the one wanted.
    request.key = QStringLiteral("load ") + item.id().toString();
    request.onResult = [this, id = item.id()](const ViewPicture &picture) {
        if (picture.isStandIn())
            Q_EMIT standInLoaded(id, picture);
    };
    request.deliver = [this, item](const QFuture<ViewPicture> &done) {
        deliver(item, done, &ShownImageLoader::loaded, &ShownImageLoader::loadFailed);
    };
    return request;
}

void ShownImageLoader::load(const ImageItem &item, QSize view)
{
    LatestRequestRunner::Request<ViewPicture> request = loadRequest(item);
    request.start = [this, path = item.path(), view] {
        ++m_startedDecodes;
        return m_processor->loadForView(path, view);
    };
    m_jobs.submit(std::move(request));
}

void ShownImageLoader::follow(const ImageItem &item, const QFuture<ViewPicture> &decoding,
                              QSize view)
{
    LatestRequestRunner::Request<ViewPicture> request = loadRequest(item);
    request.start = [decoding] { return decoding; };
    request.deliver = [this, item, view](const QFuture<ViewPicture> &done) {
        if (done.resultCount() == 0 && !ImageLoadResult::from(done).failed())
            load(item, view); // stopped before it delivered
        else
            deliver(item, done, &ShownImageLoader::loaded, &ShownImageLoader::loadFailed);
    };
    // Not ours to stop: the prefetch may still want it for a neighbour. Nor
    // to wait for: a newer request starts at once, the prefetch keeps this one.
    request.stopWhenSuperseded = false;
    request.letGo = [] {};
    m_jobs.submit(std::move(request));
}

void ShownImageLoader::decodeRAW(const ImageItem &item)
{
    LatestRequestRunner::Request<QImage> request;
    request.key = QStringLiteral("develop ") + item.id().toString();
    request.start = [this, path = item.path()] {
        ++m_startedDecodes;
        return m_processor->decodeRAW(path);
    };
    request.deliver = [this, item](const QFuture<QImage> &done) {
        deliver(item, done, &ShownImageLoader::decoded, &ShownImageLoader::decodeFailed);
    };
    // Not worth waiting seconds for: the development stops on the processor
    // let go here, and the next job starts at once on a fresh one.
    request.letGo = [this] { m_processor = std::make_unique<RAWProcessor>(m_shared); };
    m_jobs.submit(std::move(request));
}

void ShownImageLoader::cancel()
{
    m_jobs.cancel();
}

template <typename T>
void ShownImageLoader::deliver(const ImageItem &item, const QFuture<T> &done,
                               void (ShownImageLoader::*succeeded)(const QUuid &, const QImage &),
                               void (ShownImageLoader::*failed)(const QUuid &, const QString &))
{
    const ImageLoadResult result = ImageLoadResult::from(done);
    if (result.succeeded())
        Q_EMIT(this->*succeeded)(item.id(), result.image);
    else if (result.failed())
        Q_EMIT(this->*failed)(item.id(), result.errorDescription);
    else // a job that never ran (its processor went away) delivers neither
        Q_EMIT discarded();
}
