#include "InterimStarRow.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {

constexpr qreal starSpacing = 2.0;

QPainterPath starPath(const QRectF &box)
{
    QPainterPath path;
    const QPointF c = box.center();
    const qreal outer = box.width() / 2.0;
    const qreal inner = outer * 0.45;
    for (int i = 0; i < 10; ++i) {
        const qreal radius = i % 2 == 0 ? outer : inner;
        const qreal angle = -M_PI / 2 + i * M_PI / 5;
        const QPointF p(c.x() + radius * std::cos(angle),
                        c.y() + radius * std::sin(angle) + outer * 0.08);
        if (i == 0)
            path.moveTo(p);
        else
            path.lineTo(p);
    }
    path.closeSubpath();
    return path;
}

} // namespace

InterimStarRow::InterimStarRow(int rating, int maxRating, qreal size,
                               std::function<void(int)> onRate, QWidget *parent)
    : QWidget(parent)
    , m_rating(rating)
    , m_maxRating(std::max(1, maxRating))
    , m_size(size)
    , m_onRate(std::move(onRate))
{
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(sizeHint());
}

void InterimStarRow::setRating(int rating)
{
    if (rating == m_rating)
        return;
    m_rating = rating;
    update();
}

QSize InterimStarRow::sizeHint() const
{
    return QSize(qCeil(m_maxRating * m_size + (m_maxRating - 1) * starSpacing), qCeil(m_size));
}

QRectF InterimStarRow::starRect(int index) const
{
    return QRectF(index * (m_size + starSpacing), (height() - m_size) / 2.0, m_size, m_size);
}

void InterimStarRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < m_maxRating; ++i) {
        const QPainterPath star = starPath(starRect(i));
        if (i + 1 <= m_rating) {
            painter.fillPath(star, QColor(255, 204, 0));
        } else {
            QColor outline(142, 142, 147);
            outline.setAlphaF(0.5);
            painter.strokePath(star, QPen(outline, 1.0));
        }
    }
}

void InterimStarRow::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_onRate || event->button() != Qt::LeftButton)
        return;
    for (int i = 0; i < m_maxRating; ++i) {
        if (starRect(i)
                .adjusted(-starSpacing / 2, -2, starSpacing / 2, 2)
                .contains(event->position())) {
            const int star = i + 1;
            m_onRate(star == m_rating ? 0 : star);
            return;
        }
    }
}
