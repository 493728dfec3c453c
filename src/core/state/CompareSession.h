#pragma once

#include "model/ImageItem.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <optional>

class AppState;

// Two to four photos side by side. With two, the left pane holds the "select"
// (fixed) and the right one the "candidate", which steps through the filtered
// list and never onto the select; with three or four the steps move the
// active pane instead. Remembers where it was opened from (the grid or the
// viewer) to go back there. A rescan that drops a shown item closes it.
// UI thread only; signals fire only on a real change.
class CompareSession : public QObject
{
    Q_OBJECT

public:
    static constexpr int minimumPanes = 2;
    static constexpr int maximumPanes = 4;
    enum class Origin { grid, viewer };

    explicit CompareSession(AppState &state);

    bool isOpen() const { return !m_items.isEmpty(); }
    // The panes in order: left to right, then top to bottom.
    const QList<ImageItem> &items() const { return m_items; }
    bool isTwoPane() const { return m_items.size() == 2; }
    int activePane() const { return m_activePane; }
    // The photo of the active pane; the rating keys act on it.
    const ImageItem &activeItem() const { return m_items[m_activePane]; }
    Origin origin() const { return m_origin; }

    // The selected images in filtered-list order, when there are 2 to 4.
    QList<ImageItem> selectionToCompare() const;
    // Opens on selectionToCompare(); false (nothing changes) when it is empty.
    bool openSelection();
    // The viewer's photo as the select, the next of the filtered list as the
    // candidate (at the last one the previous); says so in the status line
    // when the photo is the only one.
    bool openFromViewer();
    // Back to where compare was opened from; to the viewer on the select.
    void close();

    void setActivePane(int pane);
    // Right (+1) and Left (-1): the candidate steps (two panes) or the active
    // pane moves (three or four).
    void step(int direction);
    // Two panes: the candidate becomes the select and the select the candidate.
    void swap();
    // Delete: the active photo goes to the Trash (AppState::moveToTrash).
    // With two panes the other photo is the select and the next photo of the
    // list comes in as the candidate (compare closes when there is none);
    // with three or four the pane goes.
    QFuture<void> moveActiveToTrash();

    // The keys of the compare screen; true when handled. Zoom (Z) and the
    // focus areas (A) are the widgets' business and the window's keys.
    static bool handleKey(AppState &state, int key, const QString &text);

Q_SIGNALS:
    void openChanged(bool open);
    void itemsChanged();
    void activePaneChanged(int pane);

private:
    void open(const QList<ImageItem> &items, Origin origin);
    void setItems(const QList<ImageItem> &items);
    // The next photo of the filtered list for the candidate pane, never the select.
    std::optional<ImageItem> candidateAfter(int direction) const;
    void stepCandidate(int direction);
    void closeIfItemsVanished();

    AppState &m_state;
    QList<ImageItem> m_items;
    int m_activePane = 0;
    Origin m_origin = Origin::grid;
};
