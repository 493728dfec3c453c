#include "viewing/Resampler.h"

#include <algorithm>

QImage Resampler::resample(const QImage &picture, const QRect &r, const QSize &targetSize)
{
    if (picture.depth() % 8 != 0)
        return picture.copy(r).scaled(targetSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // A view into the picture's own pixels: no copy of the region.
    const uchar *first = picture.constBits() + qsizetype(r.y()) * picture.bytesPerLine() +
                         qsizetype(r.x()) * (picture.depth() / 8);
    const QImage region(first, r.width(), r.height(), picture.bytesPerLine(), picture.format());
    return region.scaled(targetSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QSize Resampler::fittedSize(QSize picture, QSizeF view, qreal devicePixelRatio)
{
    if (picture.isEmpty() || view.isEmpty())
        return {};
    const qreal fit = std::min(view.width() / picture.width(), view.height() / picture.height());
    const qreal scale = fit * devicePixelRatio;
    if (scale >= 1.0)
        return {};
    return sizeFor(QRect(QPoint(0, 0), picture), scale);
}

QSize Resampler::sizeFor(const QRect &region, qreal scale)
{
    return QSize(std::max(1, qRound(region.width() * scale)),
                 std::max(1, qRound(region.height() * scale)));
}
