#pragma once

#include <QWidget>
#include <functional>

class QLabel;
class QSlider;

// A settings row: label (72 wide), continuous slider, formatted value (48
// wide, right aligned). The slider maps its range onto 1000 steps.
class SliderRow : public QWidget
{
    Q_OBJECT

public:
    using Format = std::function<QString(double)>;

    SliderRow(const QString &label, double minimum, double maximum, Format format,
              QWidget *parent = nullptr);

    double value() const { return m_value; }
    // Shows `value` (clamped to the range) without emitting valueChanged.
    void setValue(double value);
    QString valueText() const;
    QSlider *slider() const { return m_slider; }

    // "%.0f%%" of value x 100, and "%.0f°".
    static QString percent(double value);
    static QString degrees(double value);

Q_SIGNALS:
    void valueChanged(double value);

private:
    static constexpr int steps = 1000;
    void showValue();

    double m_minimum;
    double m_maximum;
    double m_value;
    Format m_format;
    QSlider *m_slider;
    QLabel *m_valueLabel;
};
