#include "app/OverlayWidget.h"

#include <QEvent>

OverlayWidget::OverlayWidget(QWidget *parent)
    : QWidget(parent)
{
    Q_ASSERT(parent);
    parent->installEventFilter(this);
}

void OverlayWidget::updatePlacement()
{
    if (QWidget *host = parentWidget())
        setGeometry(placementIn(host->rect()));
}

bool OverlayWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        updatePlacement();
    return QWidget::eventFilter(watched, event);
}
