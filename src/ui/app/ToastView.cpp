#include "app/ToastView.h"

#include "common/Theme.h"

#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int horizontalPadding = 20;
constexpr int verticalPadding = 12;
constexpr int radius = 10;
// Shadow: black at 15 %, blur radius 8, offset (0, 4).
constexpr int shadowBlur = 8;
constexpr int shadowOffsetY = 4;
constexpr int sideMargin = shadowBlur;
constexpr int topMargin = shadowBlur - shadowOffsetY;
constexpr int bottomMargin = shadowBlur + shadowOffsetY;
} // namespace

ToastView::ToastView(QWidget *parent)
    : QWidget(parent)
{
    setFont(Theme::font(Theme::TextStyle::body));
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ToastView::setMessage(const QString &message)
{
    if (m_message == message)
        return;
    m_message = message;
    resize(sizeHint());
    update();
}

void ToastView::setOpacity(qreal opacity)
{
    m_opacity = opacity;
    update();
}

int ToastView::topShadowMargin()
{
    return topMargin;
}

QSize ToastView::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(m_message) + 4 + 2 * horizontalPadding + 2 * sideMargin,
            metrics.height() + 2 * verticalPadding + topMargin + bottomMargin};
}

QRect ToastView::bubbleRect() const
{
    return rect().adjusted(sideMargin, topMargin, -sideMargin, -bottomMargin);
}

void ToastView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(m_opacity);
    const QRectF bubble = QRectF(bubbleRect());

    // A soft shadow: stacked rounded rectangles, each wider and as faint as the
    // others, so the overlap builds up to about 15 % under the bubble and fades
    // out over the blur radius.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, qRound(0.15 * 255 / shadowBlur * 1.1)));
    const QRectF shadow = bubble.translated(0, shadowOffsetY);
    for (int spread = shadowBlur; spread >= 1; --spread) {
        painter.drawRoundedRect(shadow.adjusted(-spread, -spread, spread, spread), radius + spread,
                                radius + spread);
    }

    QPainterPath shape;
    shape.addRoundedRect(bubble, radius, radius);
    painter.fillPath(shape, QColor(250, 250, 251, 245));
    painter.setPen(QPen(QColor(0, 0, 0, 18), 1));
    painter.drawPath(shape);

    painter.setPen(Theme::primaryText());
    painter.drawText(bubble, Qt::AlignCenter, m_message);
}
