#pragma once

#include <QTimer>
#include <QWidget>

// An indeterminate spinner: twelve spokes, the brightest one turning. Its
// timer runs only while it is visible.
class BusyIndicator : public QWidget
{
    Q_OBJECT

public:
    // `diameter` in device-independent pixels (large 32, small 16).
    explicit BusyIndicator(int diameter, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    int m_diameter;
    int m_step = 0;
    QTimer m_timer;
};
