#pragma once

#include "app/OverlayWidget.h"

// Dims the whole window while a dialog or sheet blocks it (settings, the
// archive confirmation, the export editor, the import questions), so that
// what opened reads as a dialog over the window. It lies above every other
// overlay and, like the blocked window itself, takes no input.
class SheetVeil : public OverlayWidget
{
    Q_OBJECT

public:
    explicit SheetVeil(QWidget *parent);

protected:
    QRect placementIn(const QRect &parentRect) const override { return parentRect; }
    void paintEvent(QPaintEvent *event) override;
};
