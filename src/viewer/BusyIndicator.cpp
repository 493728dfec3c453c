#include "BusyIndicator.h"

#include <QPainter>

namespace {
constexpr int spokeCount = 12;
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

QSize BusyIndicator::sizeHint() const
{
    return QSize(m_diameter, m_diameter);
}

void BusyIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const qreal radius = m_diameter / 2.0;
    QPen pen(Qt::white, std::max(1.5, m_diameter / 12.0));
    pen.setCapStyle(Qt::RoundCap);
    for (int i = 0; i < spokeCount; ++i) {
        // The spoke at m_step is brightest; the ones behind it fade out.
        const int age = (m_step - i + spokeCount) % spokeCount;
        QColor color = Qt::white;
        color.setAlphaF(1.0 - age * 0.07);
        pen.setColor(color);
        painter.setPen(pen);
        painter.save();
        painter.rotate(i * 360.0 / spokeCount);
        painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.9));
        painter.restore();
    }
}

void BusyIndicator::showEvent(QShowEvent *)
{
    m_timer.start();
}

void BusyIndicator::hideEvent(QHideEvent *)
{
    m_timer.stop();
}
