#pragma once

#include <QAbstractButton>

// A borderless filter button: its label (with a yellow star in front for
// star ratings) on a capsule that is tinted and outlined in the accent colour
// while its filter is active, and outlined in light gray otherwise.
class FilterCapsuleButton : public QAbstractButton
{
    Q_OBJECT

public:
    FilterCapsuleButton(const QString &label, bool withStar, QWidget *parent = nullptr);

    bool isActive() const { return m_active; }
    void setActive(bool active);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_withStar;
    bool m_active = false;
};
