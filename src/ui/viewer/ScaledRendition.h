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

    explicit ScaledRendition(QObject *parent = nullptr);
    ~ScaledRendition() override;

    // Builds `sourceRect` of `picture` resampled to `targetSize` pixels.
    void request(const QImage &picture, const QRect &sourceRect, const QSize &targetSize);
    // Forgets the current result and any queued request (a new picture).
    void clear();
    // Takes a rendition made elsewhere (ahead of time) as the current one.
    void adopt(Result result);

    // `sourceRect` of `picture` resampled to `targetSize`, area-averaged. Any
    // thread.
    static QImage resample(const QImage &picture, const QRect &sourceRect, const QSize &targetSize);
    // The pixel size of a rendition of `region` at `scale` device pixels per
    // picture pixel (rounded, at least 1 x 1). Exactness is judged against
    // this rounded size: a very narrow picture (1080 x 40000 fitted into 800
    // rows) is 21.6 pixels wide on screen, and no 22-pixel rendition could
    // ever match the unrounded scale.
    static QSize sizeFor(const QRect &region, qreal scale);
    // The size of the rendition of a whole `picture` fitted into a view of
    // `view` device-independent pixels at `devicePixelRatio`; empty when the
    // fitted picture needs none (it is not shrunk).
    static QSize fittedSize(QSize picture, QSizeF view, qreal devicePixelRatio);

    const Result &current() const { return m_current; }
    bool isBuilding() const { return m_builds.isBusy(); }

Q_SIGNALS:
    void ready();

private:
    void take(const Result &result);

    QThreadPool m_pool; // one thread: builds never compete with each other
    Result m_current;
    qint64 m_pictureKey = 0; // of the picture asked for last
    LatestRequestRunner m_builds;
};
