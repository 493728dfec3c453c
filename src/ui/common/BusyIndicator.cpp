#include "common/BusyIndicator.h"

#include <QPainter>

namespace {
constexpr int stepMs = 80;
} // namespace

BusyIndicator::BusyIndicator(int diameter, QWidget *parent)
    : QWidget(parent)
    , m_diameter(diameter)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(diameter, diameter);
    m_timer.setInterval(stepMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % spokeCount;
        update();
    });
}

void BusyIndicator::setColor(const QColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    update();
}

QSize BusyIndicator::sizeHint() const
{
    return QSize(m_diameter, m_diameter);
}

void BusyIndicator::paintSpokes(QPainter &painter, const QRectF &area, int head,
                                const QColor &color)
{
    const qreal radius = area.width() / 2.0;
    QPen pen(color, std::max(1.5, area.width() / 12.0));
    pen.setCapStyle(Qt::RoundCap);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(area.center());
    for (int i = 0; i < spokeCount; ++i) {
        // The spoke at `head` is brightest; the ones behind it fade out.
        const int age = (head - i + spokeCount) % spokeCount;
        QColor spoke = color;
        spoke.setAlphaF(color.alphaF() * (1.0 - age * 0.07));
        pen.setColor(spoke);
        painter.setPen(pen);
        painter.save();
        painter.rotate(i * 360.0 / spokeCount);
        painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.9));
        painter.restore();
    }
    painter.restore();
}

void BusyIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintSpokes(painter, QRectF(0, 0, m_diameter, m_diameter), m_step, m_color);
}

void BusyIndicator::showEvent(QShowEvent *)
{
    m_timer.start();
}

void BusyIndicator::hideEvent(QHideEvent *)
{
    m_timer.stop();
}
