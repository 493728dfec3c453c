#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <cstdlib>

namespace PixelProbe {

inline bool near(QRgb a, QRgb b, int tolerance)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// Bounding box of the pixels inside `region` that are close to `colour`
// (`matching` true) or differ from it (`matching` false).
inline QRect bounds(const QImage &image, const QRect &region, QColor colour, int tolerance,
                    bool matching)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    const QRect area = region.intersected(rgb.rect());
    QRect found;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (near(rgb.pixel(x, y), colour.rgb(), tolerance) == matching)
                found |= QRect(x, y, 1, 1);
        }
    }
    return found;
}

inline QRect changedBounds(const QImage &image, const QRect &region, QColor plain,
                           int tolerance = 8)
{
    return bounds(image, region, plain, tolerance, false);
}

inline QRect changedBounds(const QImage &image, QColor plain, int tolerance = 8)
{
    return bounds(image, image.rect(), plain, tolerance, false);
}

inline QRect colourBounds(const QImage &image, const QRect &region, QColor colour,
                          int tolerance = 8)
{
    return bounds(image, region, colour, tolerance, true);
}

inline QImage plainImage(int width, int height, QColor colour,
                         QImage::Format format = QImage::Format_RGB32)
{
    QImage image(width, height, format);
    image.fill(colour);
    return image;
}

// How many pixels of two images of one size differ by more than `tolerance`
// in a channel, alpha included.
inline int differingPixels(const QImage &first, const QImage &second, int tolerance)
{
    const QImage a = first.convertToFormat(QImage::Format_ARGB32);
    const QImage b = second.convertToFormat(QImage::Format_ARGB32);
    int differing = 0;
    for (int y = 0; y < std::min(a.height(), b.height()); ++y) {
        for (int x = 0; x < std::min(a.width(), b.width()); ++x) {
            const QRgb pa = a.pixel(x, y), pb = b.pixel(x, y);
            differing += !near(pa, pb, tolerance) || std::abs(qAlpha(pa) - qAlpha(pb)) > tolerance;
        }
    }
    return differing;
}

} // namespace PixelProbe
