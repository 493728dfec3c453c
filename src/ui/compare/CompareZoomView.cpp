#include "compare/CompareZoomView.h"

#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QWheelEvent>

CompareZoomView::CompareZoomView(WorkQueues &queues, QWidget *parent)
    : ZoomableImageView(queues, parent)
{
    setMouseTracking(true);
}

bool CompareZoomView::event(QEvent *event)
{
    if (event->type() != QEvent::NativeGesture)
        return ZoomableImageView::event(event);
    const qreal before = magnification();
    const bool handled = ZoomableImageView::event(event);
    if (magnification() != before)
        Q_EMIT movedByUser(static_cast<QNativeGestureEvent *>(event)->position(),
                           magnification() / before);
    return handled;
}

void CompareZoomView::wheelEvent(QWheelEvent *event)
{
    if (event->modifiers() & Qt::ControlModifier) { // ordinary scrolling
        ZoomableImageView::wheelEvent(event);
        return;
    }
    if (event->modifiers() & Qt::ShiftModifier) {
        // Some platforms turn a Shift wheel sideways; it zooms all the same.
        const auto upright = [](QPoint delta) {
            return delta.y() == 0 ? QPoint(0, delta.x()) : delta;
        };
        QWheelEvent plain(event->position(), event->globalPosition(), upright(event->pixelDelta()),
                          upright(event->angleDelta()), event->buttons(),
                          event->modifiers() & ~Qt::ShiftModifier, event->phase(),
                          event->inverted(), event->source());
        ZoomableImageView::wheelEvent(&plain);
        event->accept();
        return;
    }
    const qreal before = magnification();
    ZoomableImageView::wheelEvent(event);
    if (magnification() != before)
        Q_EMIT movedByUser(event->position(), magnification() / before);
}

void CompareZoomView::mousePressEvent(QMouseEvent *event)
{
    Q_EMIT pressed();
    m_panAlone = event->modifiers() & Qt::ShiftModifier;
    ZoomableImageView::mousePressEvent(event);
}

void CompareZoomView::mouseMoveEvent(QMouseEvent *event)
{
    m_pointer = event->position();
    const QPointF originBefore = scrollOrigin();
    ZoomableImageView::mouseMoveEvent(event);
    if (isDragging() && scrollOrigin() != originBefore && !m_panAlone)
        Q_EMIT movedByUser(event->position(), 1.0);
}

void CompareZoomView::mouseDoubleClickEvent(QMouseEvent *event)
{
    ZoomableImageView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        Q_EMIT fitRequested();
}

void CompareZoomView::leaveEvent(QEvent *event)
{
    m_pointer.reset();
    ZoomableImageView::leaveEvent(event);
}
