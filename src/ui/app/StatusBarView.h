#pragma once

#include "app/OverlayWidget.h"

class AppState;

// The status line: a translucent capsule at the bottom centre of the window,
// 8 px above the bottom edge, showing the state's status message. Present only
// while the message is not empty and no scan runs (the loading overlay shows
// the message then). When a folder opened without its sub-folders has images
// only in them, the capsule adds the link "包含子文件夹", which opens it again
// with them.
class StatusBarView : public OverlayWidget
{
    Q_OBJECT

public:
    StatusBarView(AppState &state, QWidget *parent);

    QString message() const { return m_message; }
    // Where the link "包含子文件夹" is drawn; empty while it is not offered.
    QRect linkRect() const;
    QSize sizeHint() const override;

    static bool shouldShow(const AppState &state);

    // Keeps the capsule away (full screen); messages still arrive and the
    // newest shows when it is allowed back.
    void setSuppressed(bool suppressed);

    // Lifts the capsule by `pixels` above its place, clear of a bar that the
    // page below shows along the window's bottom edge (the viewer's).
    void setBottomInset(int pixels);
    // The strip along the bottom edge the capsule may cover: its height with
    // the space below it and as much again above.
    int footprint() const;

protected:
    QRect placementIn(const QRect &parentRect) const override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void refresh();
    bool offersSubfolders() const;
    int linkWidth() const;

    AppState &m_state;
    QString m_message;
    int m_bottomInset = 0;
    bool m_suppressed = false;
};
