#include "imaging/ImageOrientation.h"

#include "imaging/ImageBuffer.h"

#include <QColorSpace>
#include <QTransform>
#include <algorithm>

namespace {

bool hasFourBytesPerPixel(const QImage &image)
{
    return image.depth() == 32;
}

// Where the upright pixel (x, y) lies in the stored picture of
// `width` x `height` pixels.
QPoint storedPosition(int orientation, int x, int y, int width, int height)
{
    switch (orientation) {
    case 2:
        return {width - 1 - x, y};
    case 3:
        return {width - 1 - x, height - 1 - y};
    case 4:
        return {x, height - 1 - y};
    case 5:
        return {y, x};
    case 6:
        return {y, height - 1 - x};
    case 7:
        return {width - 1 - y, height - 1 - x};
    case 8:
        return {width - 1 - y, x};
    default:
        return {x, y};
    }
}

// Turns a large 32-bit picture into memory of its own (see ImageBuffer).
// Square tiles keep both the rows read and the rows written in the cache
// when the axes swap.
QImage turnedLarge(const QImage &stored, int orientation)
{
    const int width = stored.width(), height = stored.height();
    const QSize upright =
        ImageOrientation::swapsAxes(orientation) ? QSize(height, width) : stored.size();
    QImage result = ImageBuffer::allocate(upright, stored.format());
    if (result.isNull())
        return {};
    const uchar *bits = stored.constBits();
    const qsizetype bytesPerLine = stored.bytesPerLine();
    const auto offset = [&](QPoint p) { return p.y() * bytesPerLine + qsizetype(p.x()) * 4; };
    // Along an upright row the stored position moves by one pixel or one
    // row, the same for every step.
    const qsizetype step = offset(storedPosition(orientation, 1, 0, width, height)) -
                           offset(storedPosition(orientation, 0, 0, width, height));
    constexpr int tile = 64;
    for (int ty = 0; ty < upright.height(); ty += tile) {
        const int yEnd = std::min(ty + tile, upright.height());
        for (int tx = 0; tx < upright.width(); tx += tile) {
            const int xEnd = std::min(tx + tile, upright.width());
            for (int y = ty; y < yEnd; ++y) {
                auto *out = reinterpret_cast<quint32 *>(result.scanLine(y));
                qsizetype in = offset(storedPosition(orientation, tx, y, width, height));
                for (int x = tx; x < xEnd; ++x, in += step)
                    out[x] = *reinterpret_cast<const quint32 *>(bits + in);
            }
        }
    }
    result.setColorSpace(stored.colorSpace());
    result.setDotsPerMeterX(stored.dotsPerMeterX());
    result.setDotsPerMeterY(stored.dotsPerMeterY());
    return result;
}

QImage turnedByQt(const QImage &image, int orientation)
{
    switch (orientation) {
    case 2:
        return image.mirrored(true, false);
    case 3:
        return image.transformed(QTransform().rotate(180));
    case 4:
        return image.mirrored(false, true);
    case 5:
        return image.mirrored(true, false).transformed(QTransform().rotate(270));
    case 6:
        return image.transformed(QTransform().rotate(90));
    case 7:
        return image.mirrored(true, false).transformed(QTransform().rotate(90));
    case 8:
        return image.transformed(QTransform().rotate(270));
    default:
        return image;
    }
}

} // namespace

QImage ImageOrientation::apply(const QImage &image, int exifOrientation)
{
    // Orientation n: how the stored pixels must be turned to be seen upright.
    if (image.isNull() || exifOrientation < 2 || exifOrientation > 8)
        return image;
    if (hasFourBytesPerPixel(image) && image.sizeInBytes() >= ImageBuffer::largeBytes) {
        QImage turned = turnedLarge(image, exifOrientation);
        if (!turned.isNull())
            return turned;
    }
    return turnedByQt(image, exifOrientation);
}

QRectF ImageOrientation::applyToRelative(const QRectF &stored, int exifOrientation)
{
    const qreal x = stored.x(), y = stored.y(), w = stored.width(), h = stored.height();
    // The far edges seen from the opposite side.
    const qreal fromRight = 1 - x - w, fromBottom = 1 - y - h;
    switch (exifOrientation) {
    case 2:
        return {fromRight, y, w, h};
    case 3:
        return {fromRight, fromBottom, w, h};
    case 4:
        return {x, fromBottom, w, h};
    case 5:
        return {y, x, h, w};
    case 6:
        return {fromBottom, x, h, w};
    case 7:
        return {fromBottom, fromRight, h, w};
    case 8:
        return {y, fromRight, h, w};
    default:
        return stored;
    }
}

int ImageOrientation::fromLibRawFlip(int flip)
{
    switch (flip) {
    case 3:
        return 3;
    case 5:
        return 8;
    case 6:
        return 6;
    default:
        return 1;
    }
}
