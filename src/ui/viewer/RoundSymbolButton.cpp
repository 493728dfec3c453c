#include "viewer/RoundSymbolButton.h"

#include <QPainter>

RoundSymbolButton::RoundSymbolButton(Symbols::Symbol symbol, int symbolSize, int padding,
                                     const QColor &disc, qreal weight, QWidget *parent)
    : QAbstractButton(parent)
    , m_symbol(symbol)
    , m_symbolSize(symbolSize)
    , m_padding(padding)
    , m_disc(disc)
    , m_weight(weight)
{
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    setFixedSize(sizeHint());
}

QSize RoundSymbolButton::sizeHint() const
{
    const int side = m_symbolSize + 2 * m_padding;
    return QSize(side, side);
}

void RoundSymbolButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor disc = m_disc;
    if (isDown())
        disc.setAlphaF(std::min(1.0, disc.alphaF() + 0.15));
    else if (m_hovered)
        disc.setAlphaF(std::min(1.0, disc.alphaF() + 0.08));
    painter.setPen(Qt::NoPen);
    painter.setBrush(disc);
    painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    const QRectF glyph(m_padding, m_padding, m_symbolSize, m_symbolSize);
    Symbols::paint(painter, m_symbol, glyph, Qt::white, m_weight);
}

void RoundSymbolButton::enterEvent(QEnterEvent *)
{
    m_hovered = true;
    update();
}

void RoundSymbolButton::leaveEvent(QEvent *)
{
    m_hovered = false;
    update();
}
