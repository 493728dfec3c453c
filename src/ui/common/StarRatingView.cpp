#include "common/StarRatingView.h"

#include "common/BrowseStyle.h"
#include "common/Symbols.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

StarRatingView::StarRatingView(int rating, int maxRating, qreal size, QWidget *parent)
    : QWidget(parent)
    , m_rating(rating)
    , m_maxRating(std::max(1, maxRating))
    , m_size(size)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StarRatingView::setRating(int rating)
{
    if (m_rating == rating)
        return;
    m_rating = rating;
    update();
}

void StarRatingView::setInteractive(bool interactive)
{
    m_interactive = interactive;
    setCursor(interactive ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

QSize StarRatingView::sizeHint() const
{
    const qreal width = m_maxRating * m_size + (m_maxRating - 1) * starSpacing;
    return QSize(int(std::ceil(width)), int(std::ceil(m_size)) + 2);
}

QRectF StarRatingView::starRect(int star) const
{
    const qreal top = (height() - m_size) / 2.0;
    return QRectF((star - 1) * (m_size + starSpacing), top, m_size, m_size);
}

int StarRatingView::starAt(const QPointF &position) const
{
    // Each star owns its half of the spacing on either side, so no click is lost.
    const qreal pitch = m_size + starSpacing;
    if (position.x() < 0)
        return 0;
    const int star = int(position.x() / pitch) + 1;
    return star <= m_maxRating ? star : 0;
}

void StarRatingView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QColor unlit = BrowseStyle::withAlpha(QColor(0x8e, 0x8e, 0x93), 0.5);
    for (int star = 1; star <= m_maxRating; ++star) {
        if (star <= m_rating)
            Symbols::paint(painter, Symbols::Symbol::StarFill, starRect(star),
                           BrowseStyle::starYellow());
        else
            Symbols::paint(painter, Symbols::Symbol::Star, starRect(star), unlit);
    }
}

void StarRatingView::mousePressEvent(QMouseEvent *event)
{
    if (!m_interactive || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const int star = starAt(event->position());
    if (star == 0)
        return;
    Q_EMIT rateRequested(star == m_rating ? 0 : star);
}
