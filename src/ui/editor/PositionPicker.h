#pragma once

#include "export/WatermarkConfig.h"

#include <QWidget>

// The 3 x 3 grid of watermark anchors: 36 x 24 cells 4 apart, the current one
// filled with the accent colour and a white dot.
class PositionPicker : public QWidget
{
    Q_OBJECT

public:
    using Position = WatermarkConfig::Position;

    explicit PositionPicker(QWidget *parent = nullptr);

    Position position() const { return m_position; }
    // Shows `position` without emitting positionChosen.
    void setPosition(Position position);

    // Column 0-2 left to right, row 0-2 top to bottom; outside the grid: bottomRight.
    static Position position(int column, int row);
    // The cell rectangle of a grid position, in widget coordinates.
    static QRect cellRect(int column, int row);

    QSize sizeHint() const override;

Q_SIGNALS:
    void positionChosen(WatermarkConfig::Position position);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    static constexpr int cellWidth = 36;
    static constexpr int cellHeight = 24;
    static constexpr int spacing = 4;

    Position m_position = Position::bottomRight;
};
