#include "common/ZoomableImageView.h"

#include "common/EffectivePixelSize.h"
#include "common/ScaledRendition.h"
#include "model/WorkQueues.h"
#include "viewing/Resampler.h"

#include <QCursor>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QVariantAnimation>
#include <QWheelEvent>
#include <cmath>

namespace {

// A mouse wheel notch (120 eighths of a degree) counts as this much wheel
// delta: one notch zooms by 10 %. Touchpads deliver pixel deltas, used as is.
constexpr qreal wheelDeltaPerNotch = 5.0;
// Ordinary scrolling (Shift or Ctrl held): pixels per notch.
constexpr qreal scrollPixelsPerNotch = 60.0;
// The rendition covers the visible region plus this fraction of its size on
// every side, so that short pans stay sharp without a rebuild.
constexpr qreal renditionMargin = 0.25;

qreal clampedMagnification(qreal magnification)
{
    if (magnification <= ZoomableImageView::minimumMagnification)
        return ZoomableImageView::minimumMagnification;
    if (magnification > ZoomableImageView::maximumMagnification)
        return ZoomableImageView::maximumMagnification;
    return magnification;
}

// One axis of the visible area: a document smaller than the view is centred
// (negative origin), a larger one is held inside its edges.
qreal constrainedAxis(qreal origin, qreal documentLength, qreal viewLength)
{
    if (documentLength < viewLength)
        return (documentLength - viewLength) * 0.5;
    return std::clamp(origin, 0.0, documentLength - viewLength);
}

} // namespace

ZoomableImageView::ZoomableImageView(WorkQueues &queues, QWidget *parent)
    : QWidget(parent)
    , m_fitAnimation(new QVariantAnimation(this))
    , m_rendition(new ScaledRendition(queues.renditions(), this))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::ClickFocus);
    setMouseTracking(false);

    m_fitAnimation->setDuration(fitAnimationMs);
    m_fitAnimation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_fitAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        setMagnification(value.toReal(), QRectF(rect()).center());
    });

    m_renditionTimer.setSingleShot(true);
    connect(&m_renditionTimer, &QTimer::timeout, this, &ZoomableImageView::rebuildRendition);
    connect(m_rendition, &ScaledRendition::ready, this, [this] {
        update();
        if (!hasExactRendition())
            m_renditionTimer.start(renditionDelayMs);
    });
}

ZoomableImageView::~ZoomableImageView() = default;

void ZoomableImageView::setImage(const QImage &image)
{
    if (!m_image.isNull() && image.cacheKey() == m_image.cacheKey())
        return;
    if (m_isStandIn && !image.isNull() && effectivePixelSize(image) == m_imagePixelSize) {
        // The full picture takes the stand-in's place: same frame, same zoom.
        m_image = image;
        m_isStandIn = false;
        m_rendition->clear();
        update();
        m_renditionTimer.start(0);
        return;
    }
    showFitted(image, effectivePixelSize(image), false);
}

void ZoomableImageView::setImage(const QImage &image, const QImage &fittedRendition)
{
    const bool isNewPicture = m_image.isNull() || image.cacheKey() != m_image.cacheKey();
    setImage(image);
    if (!isNewPicture || fittedRendition.isNull() || m_magnification != 1.0)
        return;
    m_rendition->adopt({fittedRendition, m_image.cacheKey(), m_image.rect()});
    if (hasExactRendition())
        m_renditionTimer.stop();
    else // made for another view size
        m_rendition->clear();
}

void ZoomableImageView::setStandIn(const QImage &standIn, QSize fullSize)
{
    if (m_isStandIn && standIn.cacheKey() == m_image.cacheKey())
        return;
    showFitted(standIn, QSizeF(fullSize), true);
}

void ZoomableImageView::showFitted(const QImage &image, QSizeF pixelSize, bool isStandIn)
{
    m_fitAnimation->stop();
    m_image = image;
    m_imagePixelSize = pixelSize;
    m_isStandIn = isStandIn;
    m_rendition->clear();
    const bool magnificationChanges = m_magnification != 1.0;
    m_magnification = 1.0;
    m_origin = {};
    fitImageViewToWindow();
    if (magnificationChanges)
        Q_EMIT magnificationChanged(m_magnification);
    update();
    // The first rendition is wanted at once: the view has not moved yet.
    m_renditionTimer.start(0);
}

QSizeF ZoomableImageView::imageScale() const
{
    if (m_imagePixelSize.isEmpty())
        return QSizeF(1, 1);
    return QSizeF(m_image.width() / m_imagePixelSize.width(),
                  m_image.height() / m_imagePixelSize.height());
}

void ZoomableImageView::setMagnification(qreal magnification, QPointF anchor)
{
    magnification = clampedMagnification(magnification);
    if (magnification == m_magnification)
        return;
    const QPointF documentPoint = m_origin + anchor;
    const qreal ratio = magnification / m_magnification;
    m_magnification = magnification;
    m_origin = documentPoint * ratio - anchor;
    constrainOrigin();
    Q_EMIT magnificationChanged(m_magnification);
    viewChanged();
}

void ZoomableImageView::zoomByWheelDelta(qreal delta, QPointF anchor)
{
    if (std::abs(delta) <= 0.01)
        return;
    m_fitAnimation->stop();
    setMagnification(m_magnification * (1.0 + delta * 0.02), anchor);
}

qreal ZoomableImageView::actualPixelsMagnification() const
{
    if (m_fittedSize.width() <= 0 || m_imagePixelSize.width() <= 0)
        return 1.0;
    return m_imagePixelSize.width() / (m_fittedSize.width() * devicePixelRatioF());
}

QPointF ZoomableImageView::relativePointAt(QPointF widgetPoint) const
{
    const QSizeF document = documentSize();
    if (document.isEmpty())
        return {0.5, 0.5};
    const QPointF documentPoint = m_origin + widgetPoint;
    return {documentPoint.x() / document.width(), documentPoint.y() / document.height()};
}

void ZoomableImageView::showRelativePoint(qreal magnification, QPointF relativePoint,
                                          QPointF widgetPoint)
{
    m_fitAnimation->stop();
    const qreal clamped = clampedMagnification(magnification);
    const bool magnificationChanges = clamped != m_magnification;
    const QPointF before = m_origin;
    m_magnification = clamped;
    const QSizeF document = documentSize();
    m_origin =
        QPointF(relativePoint.x() * document.width(), relativePoint.y() * document.height()) -
        widgetPoint;
    constrainOrigin();
    if (magnificationChanges)
        Q_EMIT magnificationChanged(m_magnification);
    if (magnificationChanges || m_origin != before)
        viewChanged();
}

void ZoomableImageView::animateToFit()
{
    m_fitAnimation->stop();
    // Fitting may change the frame (after a resize while zoomed); start from
    // the magnification that shows the picture at its present size.
    const qreal shownWidth = m_fittedSize.width() * m_magnification;
    fitImageViewToWindow();
    qreal start = m_magnification;
    if (m_fittedSize.width() > 0 && shownWidth > 0)
        start = clampedMagnification(shownWidth / m_fittedSize.width());
    m_magnification = start;
    constrainOrigin();
    m_fitAnimation->setStartValue(start);
    m_fitAnimation->setEndValue(1.0);
    m_fitAnimation->start();
}

void ZoomableImageView::fit()
{
    m_fitAnimation->stop();
    const bool magnificationChanges = m_magnification != 1.0;
    m_magnification = 1.0;
    fitImageViewToWindow();
    if (magnificationChanges)
        Q_EMIT magnificationChanged(m_magnification);
    viewChanged();
}

void ZoomableImageView::toggleActualPixels(QPointF relativeCentre)
{
    if (m_image.isNull())
        return;
    if (!isFitted() || isAnimating()) {
        fit();
        return;
    }
    if (const std::optional<QPointF> pointer = pointerOverPicture())
        showRelativePoint(actualPixelsMagnification(), relativePointAt(*pointer), *pointer);
    else
        showRelativePoint(actualPixelsMagnification(), relativeCentre, QRectF(rect()).center());
}

std::optional<QPointF> ZoomableImageView::pointerOverPicture() const
{
    const QPointF pointer = mapFromGlobal(QCursor::pos());
    if (!rect().contains(pointer.toPoint()) || !imageRectInView().contains(pointer))
        return std::nullopt;
    return pointer;
}

bool ZoomableImageView::isAnimating() const
{
    return m_fitAnimation->state() == QAbstractAnimation::Running;
}

QRectF ZoomableImageView::imageRectInView() const
{
    return QRectF(-m_origin, documentSize());
}

void ZoomableImageView::scrollBy(QPointF delta)
{
    const QPointF before = m_origin;
    m_origin += delta;
    constrainOrigin();
    if (m_origin != before)
        viewChanged();
}

bool ZoomableImageView::hasExactRendition() const
{
    // A stand-in is drawn as it is: it is on screen for a moment only.
    if (m_image.isNull() || m_fittedSize.isEmpty() || m_isStandIn)
        return true;
    const qreal scale = deviceScale();
    if (scale >= 1.0)
        return true;
    const ScaledRendition::Result &result = m_rendition->current();
    if (!renditionCovers(visibleSourceRect()))
        return false;
    return result.image.size() == Resampler::sizeFor(result.sourceRect, scale);
}

bool ZoomableImageView::event(QEvent *event)
{
    if (event->type() == QEvent::NativeGesture) {
        auto *gesture = static_cast<QNativeGestureEvent *>(event);
        if (gesture->gestureType() == Qt::ZoomNativeGesture) {
            m_fitAnimation->stop();
            setMagnification(m_magnification * (1.0 + gesture->value()), gesture->position());
            return true;
        }
    }
    return QWidget::event(event);
}

void ZoomableImageView::drawRendition(QPainter &painter, const QRectF &target,
                                      const QImage &rendition, const QRectF &source) const
{
    // A rendition made for this view has one pixel per device pixel: drawn on
    // whole device pixels it is a plain copy, where a fraction of a pixel
    // would make the painter filter the whole area (several milliseconds).
    const qreal dpr = devicePixelRatioF();
    const QSizeF deviceTarget = target.size() * dpr;
    if (std::abs(deviceTarget.width() - source.width()) < 1.0 &&
        std::abs(deviceTarget.height() - source.height()) < 1.0) {
        const QRect wholeSource = source.toRect();
        const QPointF origin(std::round(target.x() * dpr) / dpr,
                             std::round(target.y() * dpr) / dpr);
        painter.drawImage(QRectF(origin, QSizeF(wholeSource.size()) / dpr), rendition, wholeSource);
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, rendition, source);
}

void ZoomableImageView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_image.isNull() || m_fittedSize.isEmpty())
        return;
    const QRectF target = imageRectInView().intersected(QRectF(rect()));
    const QRectF source = visibleSourceRect();
    if (target.isEmpty() || source.isEmpty())
        return;

    if (renditionCovers(source)) {
        const ScaledRendition::Result &result = m_rendition->current();
        const qreal sx = result.image.width() / qreal(result.sourceRect.width());
        const qreal sy = result.image.height() / qreal(result.sourceRect.height());
        const QRectF inRendition((source.x() - result.sourceRect.x()) * sx,
                                 (source.y() - result.sourceRect.y()) * sy, source.width() * sx,
                                 source.height() * sy);
        drawRendition(painter, target, result.image, inRendition);
        return;
    }
    // Until the rendition arrives: sample the picture per screen pixel
    // (nearest when shrinking, which costs only the screen area).
    const QSizeF scale = imageScale();
    const QRectF inImage(source.x() * scale.width(), source.y() * scale.height(),
                         source.width() * scale.width(), source.height() * scale.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform, deviceScale() >= scale.width());
    painter.drawImage(target, m_image, inImage);
}

void ZoomableImageView::resizeEvent(QResizeEvent *)
{
    if (!m_image.isNull() && m_magnification == 1.0)
        fitImageViewToWindow();
    constrainOrigin();
    viewChanged();
}

void ZoomableImageView::wheelEvent(QWheelEvent *event)
{
    event->accept();
    const QPointF pixels = event->pixelDelta();
    const QPointF notches = QPointF(event->angleDelta()) / 120.0;
    if (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) {
        QPointF delta = pixels.isNull() ? notches * scrollPixelsPerNotch : pixels;
        // Shift turns a plain vertical wheel into horizontal scrolling.
        if ((event->modifiers() & Qt::ShiftModifier) && delta.x() == 0)
            delta = QPointF(delta.y(), 0);
        scrollBy(-delta);
        return;
    }
    const qreal delta = pixels.isNull() ? notches.y() * wheelDeltaPerNotch : pixels.y();
    zoomByWheelDelta(delta, event->position());
}

void ZoomableImageView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_isDragging = true;
    m_lastDragPoint = event->position();
    setCursor(Qt::ClosedHandCursor);
}

void ZoomableImageView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_isDragging)
        return;
    const QPointF point = event->position();
    const QPointF difference = point - m_lastDragPoint;
    m_lastDragPoint = point;
    // The picture follows the pointer, one widget pixel per pixel moved, at
    // every zoom. Deliberately not the rule of moving the document by the
    // pointer's movement scaled by the magnification: at 4x that would slide
    // the picture four times faster than the hand, away from under the pointer.
    scrollBy(-difference);
}

void ZoomableImageView::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_isDragging || event->button() != Qt::LeftButton)
        return;
    m_isDragging = false;
    unsetCursor();
}

void ZoomableImageView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        animateToFit();
}

void ZoomableImageView::fitImageViewToWindow()
{
    if (m_imagePixelSize.width() <= 0 || m_imagePixelSize.height() <= 0)
        return;
    if (width() <= 0 || height() <= 0)
        return;
    const qreal scale =
        std::min(width() / m_imagePixelSize.width(), height() / m_imagePixelSize.height());
    m_fittedSize = m_imagePixelSize * scale;
    constrainOrigin();
}

void ZoomableImageView::constrainOrigin()
{
    const QSizeF document = documentSize();
    m_origin = QPointF(constrainedAxis(m_origin.x(), document.width(), width()),
                       constrainedAxis(m_origin.y(), document.height(), height()));
}

QRectF ZoomableImageView::visibleSourceRect() const
{
    const QRectF picture = imageRectInView();
    const QRectF visible = picture.intersected(QRectF(rect()));
    if (visible.isEmpty() || picture.isEmpty())
        return {};
    const qreal sx = m_imagePixelSize.width() / picture.width();
    const qreal sy = m_imagePixelSize.height() / picture.height();
    return QRectF((visible.x() - picture.x()) * sx, (visible.y() - picture.y()) * sy,
                  visible.width() * sx, visible.height() * sy);
}

qreal ZoomableImageView::deviceScale() const
{
    if (m_imagePixelSize.width() <= 0)
        return 1.0;
    return documentSize().width() * devicePixelRatioF() / m_imagePixelSize.width();
}

bool ZoomableImageView::renditionCovers(const QRectF &sourceRect) const
{
    const ScaledRendition::Result &result = m_rendition->current();
    if (result.image.isNull() || result.sourceKey != m_image.cacheKey())
        return false;
    return QRectF(result.sourceRect).adjusted(-0.5, -0.5, 0.5, 0.5).contains(sourceRect);
}

void ZoomableImageView::viewChanged()
{
    update();
    if (!hasExactRendition())
        m_renditionTimer.start(renditionDelayMs);
}

void ZoomableImageView::rebuildRendition()
{
    if (m_image.isNull() || m_fittedSize.isEmpty() || hasExactRendition())
        return;
    const QRectF visible = visibleSourceRect();
    const QRect region =
        visible
            .adjusted(-visible.width() * renditionMargin, -visible.height() * renditionMargin,
                      visible.width() * renditionMargin, visible.height() * renditionMargin)
            .toAlignedRect()
            .intersected(QRect(QPoint(0, 0), m_image.size()));
    m_rendition->request(m_image, region, Resampler::sizeFor(region, deviceScale()));
}
