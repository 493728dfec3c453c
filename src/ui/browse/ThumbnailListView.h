#pragma once

#include <QListView>
#include <QSet>
#include <QTimer>
#include <QUuid>
#include <memory>

class AppState;
class FileRevealer;
class QMenu;
class ThumbnailCell;
class ThumbnailListModel;

// The scrolling grid of the browsing screen: adaptive columns 140 to 200
// wide and 8 apart, 12 of padding, a painted cell per image (ThumbnailCell).
//
// Clicks follow the grid's rule: with nothing selected a click on a tile
// opens the viewer; with a selection it toggles the tile. The selection badge
// always toggles. A drag of 8 or more pixels is a rubber band that selects
// every tile it touches, on top of the selection the drag started with; the
// band is recomputed from that starting selection on every move. Positions
// are content positions, so a band survives scrolling.
//
// The view keeps no selection of its own: it paints AppState's.
class ThumbnailListView : public QListView
{
    Q_OBJECT

public:
    static constexpr int padding = 12;
    static constexpr int minColumnWidth = 140;
    static constexpr int maxColumnWidth = 200;
    static constexpr int dragThreshold = 8;

    ThumbnailListView(AppState &state, ThumbnailListModel &model, QWidget *parent = nullptr);
    ~ThumbnailListView() override;

    ThumbnailCell &cell() const { return *m_cell; }
    void setFileRevealer(std::unique_ptr<FileRevealer> revealer);

    // Scrolls so that the tile of the image is centred; false when the
    // filtered images do not hold it.
    bool centreOnImage(const QUuid &id);

    // The rubber band in content coordinates; empty while no drag runs.
    QRect rubberBand() const { return m_dragging ? m_band : QRect(); }
    // Ids of the tiles whose frame overlaps `band` (content coordinates).
    QSet<QUuid> idsTouching(const QRect &band) const;

    // The context menu of a tile ("在访达中显示", "复制图片"); the caller owns it.
    QMenu *createContextMenu(const QModelIndex &index, QWidget *parent);

    // Tiles per line as laid out.
    int columnCount() const { return laidOutColumns(); }

    // Keeps a strip of `pixels` below the tiles free for what the window lays
    // over the grid's bottom edge (the status line), so no tile lies under it.
    void setBottomInset(int pixels);

protected:
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QList<int> &roles = QList<int>()) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QPoint toContent(const QPoint &viewportPos) const;
    int laidOutColumns() const;
    void updateColumns();
    void click(const QPoint &viewportPos);
    void updateBand(const QPoint &viewportPos);
    void endBand();
    void autoScroll();
    void advanceSpinners();

    AppState &m_state;
    ThumbnailListModel &m_model;
    ThumbnailCell *m_cell;
    std::unique_ptr<FileRevealer> m_revealer;
    int m_columns = 1;

    bool m_pressed = false;
    bool m_dragging = false;
    QPoint m_pressViewport;
    QPoint m_pressContent;
    QPoint m_lastViewport;
    QRect m_band;
    QSet<QUuid> m_dragStartSelection;
    QTimer m_autoScrollTimer;

    QTimer m_spinnerTimer;
    int m_spinnerPhase = 0;
};
