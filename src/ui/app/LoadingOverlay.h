#pragma once

#include "app/OverlayWidget.h"

#include <QPointer>
#include <QVariantAnimation>

class AppState;

// The busy layer shown exactly while a scan runs: black at 30 % over the whole
// window that takes every mouse event (nothing below can be used), and a
// centred rounded panel with a spinner and the state's status message.
class LoadingOverlay : public OverlayWidget
{
    Q_OBJECT

public:
    LoadingOverlay(AppState &state, QWidget *parent);

    QString message() const { return m_message; }
    // The panel's rectangle in this widget's coordinates.
    QRect panelRect() const;

protected:
    QRect placementIn(const QRect &parentRect) const override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    void refresh();

    AppState &m_state;
    QString m_message;
    QVariantAnimation m_spin;
    QPointer<QWidget> m_focusBefore;
};
