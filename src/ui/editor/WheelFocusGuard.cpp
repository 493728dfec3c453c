#include "editor/WheelFocusGuard.h"

#include <QEvent>
#include <QWidget>

WheelFocusGuard::WheelFocusGuard(QWidget *control)
    : QObject(control)
{
    control->setFocusPolicy(Qt::StrongFocus); // no focus from the wheel itself
    control->installEventFilter(this);
}

bool WheelFocusGuard::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::Wheel || static_cast<QWidget *>(watched)->hasFocus())
        return false;
    // Filtered yet not accepted: the application hands it on to the parents.
    event->ignore();
    return true;
}
