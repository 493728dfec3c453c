#pragma once

#include <QObject>

class QWidget;

// Keeps the mouse wheel from changing a control that the pointer merely
// passes over while the user scrolls the pane around it: the control takes
// the wheel only while it has focus (a click or Tab gives it); otherwise the
// wheel goes on to its parents, the scroll area among them. Owned by the
// control it guards.
class WheelFocusGuard : public QObject
{
    Q_OBJECT

public:
    explicit WheelFocusGuard(QWidget *control);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
