#include "common/ScaledRendition.h"

#include "viewing/Resampler.h"

#include <algorithm>

ScaledRendition::ScaledRendition(QThreadPool &pool, QObject *parent)
    : QObject(parent)
    , m_pool(pool)
{}

// A build in flight holds its own copy of the picture; its result goes nowhere.
ScaledRendition::~ScaledRendition() = default;

void ScaledRendition::request(const QImage &picture, const QRect &sourceRect,
                              const QSize &targetSize)
{
    const QRect region = sourceRect.intersected(picture.rect());
    if (region.isEmpty() || targetSize.isEmpty())
        return;
    const qint64 key = picture.cacheKey();
    m_pictureKey = key;
    LatestRequestRunner::Request<Result> build;
    build.start = [this, picture, region, targetSize, key] {
        return LatestRequestRunner::run<Result>(
            &m_pool, [picture, region, targetSize, key](const auto &stopRequested) {
                if (stopRequested())
                    return Result{};
                return Result{Resampler::resample(picture, region, targetSize), key, region};
            });
    };
    build.deliver = [this](const QFuture<Result> &done) {
        if (done.resultCount() > 0)
            take(done.result());
    };
    // Superseded by a request for another region of the same picture: still a
    // better rendition than none while the newer one builds.
    build.salvage = [this](const QFuture<Result> &done) {
        if (done.resultCount() > 0 && done.result().sourceKey == m_pictureKey)
            take(done.result());
    };
    build.stopWhenSuperseded = false;
    m_builds.submit(std::move(build));
}

void ScaledRendition::take(const Result &result)
{
    if (result.image.isNull())
        return;
    m_current = result;
    Q_EMIT ready();
}

void ScaledRendition::clear()
{
    m_pictureKey = 0;
    m_current = {};
    m_builds.abandon();
}

void ScaledRendition::adopt(Result result)
{
    clear();
    m_current = std::move(result);
}
