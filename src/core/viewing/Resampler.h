#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <QSizeF>

// Screen-sized copies of large pictures: the sizes they are made at and the
// area-averaged resampling itself. Any thread.
class Resampler
{
public:
    // `sourceRect` of `picture` resampled to `targetSize`, area-averaged.
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
};
