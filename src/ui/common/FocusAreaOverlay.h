#pragma once

#include "imaging/FocusPoints.h"

#include <QList>
#include <QRectF>
#include <QWidget>

class ZoomableImageView;

// Draws where the camera focused over the picture of a ZoomableImageView:
// areas in focus as bright outlines, the others thin and dim. A child that
// covers the view and lets every input through to it; it reads the picture's
// place when it paints, and the view repaints it with every zoom and pan.
// UI thread only.
class FocusAreaOverlay : public QWidget
{
    Q_OBJECT

public:
    static constexpr qreal inFocusWidth = 2.0;
    static constexpr qreal otherWidth = 1.0;

    static QColor inFocusColour();
    static QColor otherColour();

    explicit FocusAreaOverlay(ZoomableImageView &view);

    void setFocusPoints(const FocusPoints &points);
    const FocusPoints &focusPoints() const { return m_points; }

    // The areas where they lie over the view right now, in its coordinates.
    QList<QRectF> areasInView() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    ZoomableImageView &m_view;
    FocusPoints m_points;
};
