#pragma once

#include <QStringList>
#include <QWidget>

class QButtonGroup;

// A row of joined, mutually exclusive segments (the mode and kind switches).
class SegmentedControl : public QWidget
{
    Q_OBJECT

public:
    explicit SegmentedControl(const QStringList &labels, QWidget *parent = nullptr);

    int currentIndex() const;
    // Selects a segment without emitting currentIndexChanged.
    void setCurrentIndex(int index);

Q_SIGNALS:
    // The user chose another segment.
    void currentIndexChanged(int index);

private:
    QButtonGroup *m_group;
};
