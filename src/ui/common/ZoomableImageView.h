#pragma once

#include <QImage>
#include <QPointF>
#include <QSizeF>
#include <QTimer>
#include <QWidget>
#include <optional>

class QPainter;
class QVariantAnimation;
class ScaledRendition;
class WorkQueues;

// One picture on black, fitted to the widget at magnification 1.0 and zoomed
// from there: magnification 2.0 shows it at twice the fitted size. Sizes and
// positions are in device-independent pixels, so a HiDPI screen behaves like
// any other; only the cached rendition works in device pixels.
//
// Input: the wheel zooms around the pointer (Shift or Ctrl scroll instead), a
// pinch zooms where the platform delivers native zoom gestures, a drag pans
// with the closed hand, a double click animates back to the fitted view.
//
// Painting never resamples the full bitmap: it draws either a cached
// screen-sized rendition (built off the UI thread once the view has been still
// for a moment) or, until that arrives, the picture directly with a cost
// proportional to the screen area.
class ZoomableImageView : public QWidget
{
    Q_OBJECT

public:
    static constexpr qreal minimumMagnification = 0.1;
    static constexpr qreal maximumMagnification = 50.0;
    // How long the view must be still before the exact rendition is rebuilt.
    static constexpr int renditionDelayMs = 100;
    static constexpr int fitAnimationMs = 250;

    // Renditions are built on the decode pool of `queues`.
    explicit ZoomableImageView(WorkQueues &queues, QWidget *parent = nullptr);
    ~ZoomableImageView() override;

    // Shows `image` fitted. Handing in the same image object again (same
    // QImage::cacheKey) keeps the current zoom and position, and so does a
    // picture replacing its stand-in (same pixel size).
    void setImage(const QImage &image);
    // setImage(), with the rendition of the fitted picture made ahead of time
    // (Resampler::fittedSize), so the first frame needs no resampling.
    void setImage(const QImage &image, const QImage &fittedRendition);
    // Shows `standIn`, a reduced decode, in place of a picture of `fullSize`
    // pixels: fitted, zoomed and sized as that picture, which replaces it
    // through setImage() without a visible jump.
    void setStandIn(const QImage &standIn, QSize fullSize);
    bool showsStandIn() const { return m_isStandIn; }
    const QImage &image() const { return m_image; }
    QSizeF imagePixelSize() const { return m_imagePixelSize; }

    qreal magnification() const { return m_magnification; }
    // Clamped to the limits; `anchor` (widget coordinates) stays over the same
    // point of the picture.
    void setMagnification(qreal magnification, QPointF anchor);
    // The wheel rule: factor 1 + delta x 0.02; |delta| <= 0.01 does nothing.
    void zoomByWheelDelta(qreal delta, QPointF anchor);
    // The magnification at which one picture pixel covers one device pixel;
    // 1.0 while nothing is shown.
    qreal actualPixelsMagnification() const;
    // The point of the picture under `widgetPoint`, as fractions of the
    // picture's width and height (outside 0..1 beside the picture). Photos of
    // different sizes are compared through these.
    QPointF relativePointAt(QPointF widgetPoint) const;
    // Shows the picture at `magnification` (clamped) with its point
    // `relativePoint` under `widgetPoint`, as near as the picture's edges
    // allow (a picture smaller than the view stays centred).
    void showRelativePoint(qreal magnification, QPointF relativePoint, QPointF widgetPoint);
    // Animates back to the fitted view, as a double click does.
    void animateToFit();
    // Back to the fitted view at once.
    void fit();
    bool isFitted() const { return m_magnification == 1.0; }
    // The loupe (key Z): from the fitted view to one picture pixel per device
    // pixel, keeping the picture's point under the pointer when the pointer
    // is over the picture, else with `relativeCentre` (fractions of the
    // picture: a focus point, or its middle) in the middle of the view. From
    // any other magnification back to the fitted view.
    void toggleActualPixels(QPointF relativeCentre = {0.5, 0.5});
    // Where the pointer is, in widget coordinates, while it is over the
    // picture.
    std::optional<QPointF> pointerOverPicture() const;
    bool isAnimating() const;

    // The picture's frame at magnification 1.0 (set by fitting; a resize
    // while zoomed leaves it alone).
    QSizeF fittedSize() const { return m_fittedSize; }
    // Where the picture lies in widget coordinates right now.
    QRectF imageRectInView() const;
    // The top-left of the visible area in the zoomed picture's coordinates;
    // negative on an axis where the picture is smaller than the view (centred).
    QPointF scrollOrigin() const { return m_origin; }
    void scrollBy(QPointF delta);
    bool isDragging() const { return m_isDragging; }

    // Whether the cached rendition matches the current view exactly (or none
    // is needed because the picture is shown at or above its pixel size).
    bool hasExactRendition() const;

Q_SIGNALS:
    void magnificationChanged(qreal magnification);

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void fitImageViewToWindow();
    void constrainOrigin();
    QSizeF documentSize() const { return m_fittedSize * m_magnification; }
    // Visible part of the picture, in its pixels.
    QRectF visibleSourceRect() const;
    // Device pixels per picture pixel at the current zoom.
    qreal deviceScale() const;
    bool renditionCovers(const QRectF &sourceRect) const;
    void drawRendition(QPainter &painter, const QRectF &target, const QImage &rendition,
                       const QRectF &source) const;
    void viewChanged();
    void rebuildRendition();

    // Scale from the picture's pixels to those of m_image (below 1 for a
    // stand-in).
    QSizeF imageScale() const;
    void showFitted(const QImage &image, QSizeF pixelSize, bool isStandIn);

    QImage m_image;
    QSizeF m_imagePixelSize;
    bool m_isStandIn = false;
    QSizeF m_fittedSize;
    qreal m_magnification = 1.0;
    QPointF m_origin;
    bool m_isDragging = false;
    QPointF m_lastDragPoint;
    QVariantAnimation *m_fitAnimation = nullptr;
    ScaledRendition *m_rendition = nullptr;
    QTimer m_renditionTimer;
};
