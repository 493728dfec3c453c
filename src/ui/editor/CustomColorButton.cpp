#include "editor/CustomColorButton.h"

#include "editor/ColorPanelCoordinator.h"

#include <QPainter>
#include <QPointer>

CustomColorButton::CustomColorButton(ColorPanelCoordinator &coordinator, QWidget *parent)
    : QAbstractButton(parent)
    , m_coordinator(coordinator)
{
    setFixedSize(36, 20);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    connect(this, &QAbstractButton::clicked, this, &CustomColorButton::openPanel);
}

void CustomColorButton::setColor(const QColor &color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void CustomColorButton::openPanel()
{
    QPointer<CustomColorButton> self(this);
    m_coordinator.openPanel(m_color, [self](const QColor &picked) {
        if (!self)
            return;
        QColor opaque = picked;
        opaque.setAlpha(255);
        self->setColor(opaque);
        Q_EMIT self->colorPicked(opaque);
    });
}

void CustomColorButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setBrush(m_color);
    QColor border(128, 128, 128);
    border.setAlphaF(0.4);
    painter.setPen(QPen(border, 1));
    painter.drawRoundedRect(shape, 4, 4);
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
        painter.drawRoundedRect(shape.adjusted(1, 1, -1, -1), 3, 3);
    }
}
