#pragma once

#include "app/OverlayWidget.h"

class AppState;

// The status line: a translucent capsule at the bottom centre of the window,
// 8 px above the bottom edge, showing the state's status message. Present only
// while the message is not empty and no scan runs (the loading overlay shows
// the message then).
class StatusBarView : public OverlayWidget
{
    Q_OBJECT

public:
    StatusBarView(AppState &state, QWidget *parent);

    QString message() const { return m_message; }
    QSize sizeHint() const override;

    static bool shouldShow(const AppState &state);

protected:
    QRect placementIn(const QRect &parentRect) const override;
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();

    AppState &m_state;
    QString m_message;
};
