#include "common/FocusAreaOverlay.h"

#include "common/ZoomableImageView.h"

#include <QEvent>
#include <QPainter>
#include <algorithm>

namespace {

// A dark line beside each outline keeps it visible on bright pictures.
const QColor halo(0, 0, 0, 150);

// An area given as fractions of the picture, where the picture lies now.
QRectF placed(const QRectF &fractions, const QRectF &picture)
{
    return QRectF(picture.x() + fractions.x() * picture.width(),
                  picture.y() + fractions.y() * picture.height(),
                  fractions.width() * picture.width(), fractions.height() * picture.height());
}

} // namespace

QColor FocusAreaOverlay::inFocusColour()
{
    return QColor(48, 230, 90);
}

QColor FocusAreaOverlay::otherColour()
{
    return QColor(255, 255, 255, 200);
}

FocusAreaOverlay::FocusAreaOverlay(ZoomableImageView &view)
    : QWidget(&view)
    , m_view(view)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(view.rect());
    view.installEventFilter(this);
}

void FocusAreaOverlay::setFocusPoints(const FocusPoints &points)
{
    if (points == m_points)
        return;
    m_points = points;
    update();
}

QList<QRectF> FocusAreaOverlay::areasInView() const
{
    const QRectF picture = m_view.imageRectInView();
    QList<QRectF> areas;
    for (const FocusArea &area : m_points.areas)
        areas.append(placed(area.rect, picture));
    return areas;
}

bool FocusAreaOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &m_view && event->type() == QEvent::Resize)
        setGeometry(m_view.rect());
    return QWidget::eventFilter(watched, event);
}

void FocusAreaOverlay::paintEvent(QPaintEvent *)
{
    if (m_points.isEmpty() || m_view.image().isNull())
        return;
    QPainter painter(this);
    painter.setBrush(Qt::NoBrush);
    const QRectF picture = m_view.imageRectInView();
    // Where the file marks no area as in focus (a subject area, a focus
    // location), the areas it gives are where the camera focused.
    const bool marksFocus = std::ranges::any_of(m_points.areas, &FocusArea::inFocus);
    const auto drawnInFocus = [marksFocus](const FocusArea &area) {
        return area.inFocus || !marksFocus;
    };
    // The others first: an area in focus is drawn over a neighbour it touches.
    for (bool inFocus : {false, true}) {
        const qreal width = inFocus ? inFocusWidth : otherWidth;
        const QColor colour = inFocus ? inFocusColour() : otherColour();
        for (const FocusArea &area : m_points.areas) {
            if (drawnInFocus(area) != inFocus)
                continue;
            // Lines drawn inside the area's edge, so that a small area stays readable.
            const QRectF line =
                placed(area.rect, picture).adjusted(width / 2, width / 2, -width / 2, -width / 2);
            painter.setPen(QPen(halo, width));
            painter.drawRect(line.adjusted(-width, -width, width, width));
            painter.setPen(QPen(colour, width));
            painter.drawRect(line);
        }
    }
}
