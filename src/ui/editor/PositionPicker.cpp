#include "editor/PositionPicker.h"

#include <QMouseEvent>
#include <QPainter>

PositionPicker::PositionPicker(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(sizeHint());
    setCursor(Qt::PointingHandCursor);
}

QSize PositionPicker::sizeHint() const
{
    return {3 * cellWidth + 2 * spacing, 3 * cellHeight + 2 * spacing};
}

void PositionPicker::setPosition(Position position)
{
    if (position == m_position)
        return;
    m_position = position;
    update();
}

PositionPicker::Position PositionPicker::position(int column, int row)
{
    if (column < 0 || column > 2 || row < 0 || row > 2)
        return Position::bottomRight;
    return WatermarkConfig::allPositions[row * 3 + column];
}

QRect PositionPicker::cellRect(int column, int row)
{
    return {column * (cellWidth + spacing), row * (cellHeight + spacing), cellWidth, cellHeight};
}

void PositionPicker::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor idle(128, 128, 128);
    idle.setAlphaF(0.18);
    const QColor accent = palette().color(QPalette::Highlight);
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            const bool selected = position(column, row) == m_position;
            const QRectF cell = cellRect(column, row);
            painter.setPen(Qt::NoPen);
            painter.setBrush(selected ? accent : idle);
            painter.drawRoundedRect(cell, 4, 4);
            painter.setBrush(selected ? QColor(Qt::white) : QColor(128, 128, 128));
            painter.drawEllipse(cell.center(), 3, 3);
        }
    }
}

void PositionPicker::mousePressEvent(QMouseEvent *event)
{
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            if (cellRect(column, row).contains(event->position().toPoint())) {
                const Position chosen = position(column, row);
                setPosition(chosen);
                Q_EMIT positionChosen(chosen);
                return;
            }
        }
    }
    QWidget::mousePressEvent(event);
}
