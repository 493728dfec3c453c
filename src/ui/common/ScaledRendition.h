#pragma once

#include "model/LatestRequestRunner.h"

#include <QImage>
#include <QObject>
#include <QRect>
#include <QSize>
#include <QThreadPool>

// A screen-sized, area-averaged copy of one region of a large picture, built
// off the UI thread so that painting never resamples the full bitmap. The
// newest request wins: while a build runs, later requests only replace the
// one waiting to run next, so at most one build is in flight and one queued;
// a superseded build of the same picture still becomes the current rendition.
// UI thread only.
class ScaledRendition : public QObject
{
    Q_OBJECT

public:
    struct Result
    {
        QImage image;         // the resampled pixels; null when none
        qint64 sourceKey = 0; // QImage::cacheKey of the picture it was made from
        QRect sourceRect;     // the region of the picture, in its pixels
    };

    // Builds run on `pool`.
    explicit ScaledRendition(QThreadPool &pool, QObject *parent = nullptr);
    ~ScaledRendition() override;

    // Builds `sourceRect` of `picture` resampled to `targetSize` pixels.
    void request(const QImage &picture, const QRect &sourceRect, const QSize &targetSize);
    // Forgets the current result and any queued request (a new picture).
    void clear();
    // Takes a rendition made elsewhere (ahead of time) as the current one.
    void adopt(Result result);

    const Result &current() const { return m_current; }
    bool isBuilding() const { return m_builds.isBusy(); }

Q_SIGNALS:
    void ready();

private:
    void take(const Result &result);

    QThreadPool &m_pool;
    Result m_current;
    qint64 m_pictureKey = 0; // of the picture asked for last
    LatestRequestRunner m_builds;
};
