#pragma once

#include <QColor>
#include <QTimer>
#include <QWidget>

class QPainter;

// The one spinner of the app: twelve spokes, the brightest one turning. Its
// timer runs only while it is visible.
class BusyIndicator : public QWidget
{
    Q_OBJECT

public:
    static constexpr int spokeCount = 12;

    // `diameter` in device-independent pixels (large 32, small 16).
    explicit BusyIndicator(int diameter, QWidget *parent = nullptr);

    // White by default, for dark backgrounds.
    void setColor(const QColor &color);
    QSize sizeHint() const override;

    // Paints the spokes into `area` with spoke `head` brightest; for widgets
    // that draw a spinner as part of their own painting.
    static void paintSpokes(QPainter &painter, const QRectF &area, int head, const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    int m_diameter;
    int m_step = 0;
    QColor m_color = Qt::white;
    QTimer m_timer;
};
