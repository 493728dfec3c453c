#include "editor/SliderRow.h"

#include "editor/EditorStyle.h"
#include "editor/WheelFocusGuard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>
#include <cmath>

SliderRow::SliderRow(const QString &label, double minimum, double maximum, Format format,
                     QWidget *parent)
    : QWidget(parent)
    , m_minimum(minimum)
    , m_maximum(maximum)
    , m_value(minimum)
    , m_format(std::move(format))
    , m_slider(new QSlider(Qt::Horizontal, this))
    , m_valueLabel(EditorStyle::secondaryLabel(QString(), this))
{
    setObjectName(label);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    QLabel *name = EditorStyle::secondaryLabel(label, this);
    name->setFixedWidth(72);
    layout->addWidget(name);
    m_slider->setRange(0, steps);
    new WheelFocusGuard(m_slider);
    layout->addWidget(m_slider, 1);
    m_valueLabel->setFixedWidth(48);
    m_valueLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont digits = m_valueLabel->font();
    digits.setStyleHint(QFont::Monospace); // tabular figures keep the value from jittering
    digits.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Noto Sans Mono")});
    m_valueLabel->setFont(digits);
    layout->addWidget(m_valueLabel);

    connect(m_slider, &QSlider::valueChanged, this, [this](int position) {
        m_value = m_minimum + (m_maximum - m_minimum) * position / steps;
        showValue();
        Q_EMIT valueChanged(m_value);
    });
    showValue();
}

void SliderRow::setValue(double value)
{
    m_value = std::clamp(value, m_minimum, m_maximum);
    const QSignalBlocker blocker(m_slider);
    m_slider->setValue(int(std::lround((m_value - m_minimum) / (m_maximum - m_minimum) * steps)));
    showValue();
}

QString SliderRow::valueText() const
{
    return m_valueLabel->text();
}

void SliderRow::showValue()
{
    m_valueLabel->setText(m_format(m_value));
}

QString SliderRow::percent(double value)
{
    return QString::asprintf("%.0f%%", value * 100);
}

QString SliderRow::degrees(double value)
{
    return QString::asprintf("%.0f°", value);
}
