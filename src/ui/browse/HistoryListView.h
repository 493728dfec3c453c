#pragma once

#include <QWidget>
#include <memory>

class AppState;
class QLabel;
class QListView;
class QMenu;
class QModelIndex;
class QStackedLayout;
class QStandardItemModel;

// The recently opened folders: one row per entry (clock icon, name, path), or
// "暂无历史记录" when there are none. A click reopens the folder with its
// sub-folders, or reports in the status line that it no longer exists; the
// context menu removes one entry.
class HistoryListView : public QWidget
{
    Q_OBJECT

public:
    enum Role {
        PathRole = Qt::UserRole + 1,
    };

    explicit HistoryListView(AppState &state, QWidget *parent = nullptr);
    ~HistoryListView() override;

    QListView *listView() const { return m_list; }
    QLabel *emptyLabel() const { return m_emptyLabel; }

    // Reopens the entry of `row`, or reports that its folder is gone.
    void activateRow(int row);
    // The context menu of a row: one entry, "移除".
    std::unique_ptr<QMenu> createContextMenu(int row);

private:
    void rebuild();
    void showContextMenu(const QPoint &position);

    AppState &m_state;
    QStackedLayout *m_stack;
    QLabel *m_emptyLabel;
    QListView *m_list;
    QStandardItemModel *m_model;
};
