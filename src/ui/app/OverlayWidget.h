#pragma once

#include <QWidget>

// A widget laid over its parent's content: it keeps the geometry that
// placementIn() gives for the parent's rectangle whenever the parent resizes
// or the overlay's own size hint changes. Callers raise() it above siblings.
class OverlayWidget : public QWidget
{
    Q_OBJECT

public:
    explicit OverlayWidget(QWidget *parent);

    void updatePlacement();

protected:
    virtual QRect placementIn(const QRect &parentRect) const = 0;
    bool eventFilter(QObject *watched, QEvent *event) override;
};
