#pragma once

#include <QSet>
#include <QString>
#include <QTreeView>

class AppState;
class QStandardItem;
class QStandardItemModel;
struct FolderNode;

// The open folder tree in the sidebar: one row per folder with its icon, name
// and the number of images directly in it. The row whose folder is the selected
// folder of the state is highlighted; a click rescans that folder and shows its
// images. Groups start collapsed and keep their expanded state, by folder path,
// across rescans (which give every node a new id).
class FolderTreeView : public QTreeView
{
    Q_OBJECT

public:
    enum Role {
        NodeIdRole = Qt::UserRole + 1, // QUuid of the FolderNode
        PathRole,                      // decoded folder path
        DirectImageCountRole,          // images in the folder itself, sub-folders excluded
        HighlightedRole,               // bool: the folder is the selected folder
    };

    explicit FolderTreeView(AppState &state, QWidget *parent = nullptr);

    QStandardItemModel *folderModel() const { return m_model; }

    // Tall enough for every visible row: the sidebar's list scrolls, not the tree.
    QSize sizeHint() const override;
    // Narrow as the column allows: long names elide instead of widening the list.
    QSize minimumSizeHint() const override;

private:
    void rebuild();
    void updateHighlight();
    void appendNode(QStandardItem *parent, const FolderNode &node);
    void restoreExpansion(const QModelIndex &parent);
    void selectFolder(const QModelIndex &index);

    AppState &m_state;
    QStandardItemModel *m_model;
    QSet<QString> m_expandedPaths;
};
