#pragma once

#include <QList>
#include <QWidget>

class AppState;
class ComparePane;
class QMenu;
class CompareZoomView;
class FocusPointCache;
class ImageItem;
class WorkQueues;

// The compare screen: the photos of AppState's CompareSession side by side,
// two as left and right ("选定" and "候选"), three or four in a 2 x 2 grid.
// A click makes a pane active; its outline shows it.
//
// The panes move in step: a wheel zoom or a drag in one pane is followed by
// every other one, each putting the same point of its own photo (relative to
// the photo's size, so different sizes stay comparable) under the pointer's
// place; Shift keeps it to the pane under the pointer. A double click fits
// them all. The keys are the window's (CompareSession::handleKey); Z and A
// come here from the window.
class CompareView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int paneSpacing = 2;

    // Decodes and renditions run on the pools of `queues`.
    CompareView(AppState &state, WorkQueues &queues, QWidget *parent = nullptr);
    ~CompareView() override;

    // The panes of the shown photos, in the session's order.
    QList<ComparePane *> panes() const;
    FocusPointCache &focusPoints() const { return *m_focusPoints; }
    // The pane's right-click menu: flags, labels and "移到废纸篓"; none
    // while the pane shows no photo. The caller owns it.
    QMenu *createContextMenu(ComparePane *pane);

    // Z: every pane from fitted to 100 % (one picture pixel on one device
    // pixel) or back. At 100 % each pane shows the point under the pointer
    // when it is over a pane, else the photo's focus point when known, else
    // its centre.
    void toggleActualPixels();
    // A: the focus areas of every pane ("没有对焦点信息" in the status line
    // when the active photo has none).
    void setFocusAreasShown(bool shown);
    bool focusAreasShown() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void showContextMenu(ComparePane *pane, const QPoint &globalPosition);
    void followSession();
    void arrangePanes(const QList<ImageItem> &items);
    void followActivePane();
    void updateRatings(); // and the flags and labels beside the stars
    void layoutPanes();
    // The panes other than `leader` take its relative point under `anchor`,
    // their magnification changed by `factor`.
    void follow(const CompareZoomView *leader, QPointF anchor, qreal factor);
    void fitAll();
    QList<ImageItem> candidateNeighbourhood(const ImageItem &candidate) const;

    AppState &m_state;
    FocusPointCache *m_focusPoints;
    // maximumPanes, in the order of the session's items; the unused ones
    // (at the end) hidden.
    QList<ComparePane *> m_panes;
};
