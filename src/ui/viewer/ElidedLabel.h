#pragma once

#include <QLabel>

// A one-line label that gives up width when space is short, eliding its text
// in the middle (the start and the extension of a file name stay readable).
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    QSize minimumSizeHint() const override;
    // The text as painted at the current width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};
