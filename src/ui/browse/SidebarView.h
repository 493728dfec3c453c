#pragma once

#include <QWidget>

class AppState;
class FolderTreeView;
class HistoryListView;
class QLabel;
class QToolButton;

// The left column, one scrolling list: the "Kelvane" title, the "当前文件夹" section with the
// folder tree (only while a folder is open) and the "最近打开" section with
// the history and its "清除全部历史" menu (only while the history has entries).
class SidebarView : public QWidget
{
    Q_OBJECT

public:
    explicit SidebarView(AppState &state, QWidget *parent = nullptr);

    FolderTreeView *folderTreeView() const { return m_folderTree; }
    HistoryListView *historyListView() const { return m_historyList; }
    QWidget *folderSection() const { return m_folderSection; }
    QWidget *historySection() const { return m_historySection; }
    QToolButton *historyMenuButton() const { return m_historyMenuButton; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    static QLabel *makeSectionTitle(const QString &text, QWidget *parent);
    QWidget *makeFolderSection(QWidget *parent);
    QWidget *makeHistorySection(QWidget *parent);
    void updateSections();

    AppState &m_state;
    QWidget *m_folderSection = nullptr;
    QWidget *m_historySection = nullptr;
    FolderTreeView *m_folderTree = nullptr;
    HistoryListView *m_historyList = nullptr;
    QToolButton *m_historyMenuButton = nullptr;
};
