#pragma once

#include "common/ZoomableImageView.h"

#include <optional>

// The zoomable view of one compare pane. It zooms and pans itself as any
// zoomable view does and reports what the user did (wheel, pinch, drag), so
// that the other panes can follow; with Shift held the wheel zooms (rather
// than scrolls) this pane alone, and a drag begun with Shift pans it alone:
// nothing is reported. Remembers where the pointer is while it is over the
// view.
class CompareZoomView : public ZoomableImageView
{
    Q_OBJECT

public:
    explicit CompareZoomView(WorkQueues &queues, QWidget *parent = nullptr);

    bool showsPicture() const { return !image().isNull(); }
    // The pointer's position while it is over the view.
    std::optional<QPointF> pointerPosition() const { return m_pointer; }

Q_SIGNALS:
    // The user zoomed by `factor` around `anchor` (1: panned), in widget
    // coordinates; the other panes may follow.
    void movedByUser(QPointF anchor, qreal factor);
    void fitRequested();
    void pressed();

protected:
    bool event(QEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    std::optional<QPointF> m_pointer;
    bool m_panAlone = false; // Shift was held when the drag started
};
