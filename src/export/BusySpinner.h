#pragma once

#include <QTimer>
#include <QWidget>

// An indeterminate progress indicator: a turning arc. Animates only while shown.
class BusySpinner : public QWidget
{
    Q_OBJECT

public:
    explicit BusySpinner(int diameter, QWidget *parent = nullptr);

    QSize sizeHint() const override { return {m_diameter, m_diameter}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    int m_diameter;
    int m_angle = 0;
    QTimer m_timer;
};
