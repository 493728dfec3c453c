#include "browse/FolderTreeView.h"

#include "common/Theme.h"
#include "state/AppState.h"

#include <QPainter>
#include <QPainterPath>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <functional>

namespace {

constexpr int rowPadding = 6;
constexpr int iconSize = 16;
constexpr int iconTextSpacing = 6;

// Paints a folder row: icon, name, flexible space, direct image count; an
// accent-filled rounded rectangle behind the highlighted row.
class FolderRowDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QFontMetrics metrics(Theme::font(Theme::TextStyle::body));
        return {option.rect.width(), std::max(metrics.height(), iconSize) + 2 * rowPadding};
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        const bool highlighted = index.data(FolderTreeView::HighlightedRole).toBool();
        const QRect row = option.rect.adjusted(0, 1, -4, -1);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        if (highlighted) {
            QPainterPath shape;
            shape.addRoundedRect(QRectF(row), 5, 5);
            painter->fillPath(shape, Theme::accent());
        }

        const QRect content = row.adjusted(rowPadding, 0, -rowPadding, 0);
        const QColor iconColor = highlighted ? QColor(Qt::white) : Theme::accent();
        const QPixmap icon = Theme::symbol(QStringLiteral("folder.fill"), iconColor, iconSize,
                                           painter->device()->devicePixelRatioF());
        const QRect iconRect(content.left(), content.center().y() - iconSize / 2 + 1, iconSize,
                             iconSize);
        painter->drawPixmap(iconRect, icon);

        const QFont countFont = Theme::font(Theme::TextStyle::callout);
        const QString count =
            QString::number(index.data(FolderTreeView::DirectImageCountRole).toInt());
        const int countWidth = QFontMetrics(countFont).horizontalAdvance(count);
        const QRect countRect(content.right() - countWidth, content.top(), countWidth,
                              content.height());
        painter->setFont(countFont);
        painter->setPen(highlighted ? QColor(255, 255, 255, 204) : Theme::secondaryText());
        painter->drawText(countRect, Qt::AlignVCenter | Qt::AlignRight, count);

        const QFont nameFont = Theme::font(Theme::TextStyle::body);
        const QRect nameRect(iconRect.right() + 1 + iconTextSpacing, content.top(),
                             countRect.left() - iconRect.right() - 2 * iconTextSpacing,
                             content.height());
        const QString name = QFontMetrics(nameFont).elidedText(
            index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, nameRect.width());
        painter->setFont(nameFont);
        painter->setPen(highlighted ? QColor(Qt::white) : Theme::primaryText());
        painter->drawText(nameRect, Qt::AlignVCenter | Qt::AlignLeft, name);
        painter->restore();
    }
};

} // namespace

FolderTreeView::FolderTreeView(AppState &state, QWidget *parent)
    : QTreeView(parent)
    , m_state(state)
    , m_model(new QStandardItemModel(this))
{
    setModel(m_model);
    setItemDelegate(new FolderRowDelegate(this));
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setIndentation(14);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    viewport()->setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("QTreeView { background: transparent; }"));

    connect(this, &QTreeView::expanded, this, [this](const QModelIndex &index) {
        m_expandedPaths.insert(index.data(PathRole).toString());
        updateGeometry();
    });
    connect(this, &QTreeView::collapsed, this, [this](const QModelIndex &index) {
        m_expandedPaths.remove(index.data(PathRole).toString());
        updateGeometry();
    });
    connect(this, &QTreeView::clicked, this, &FolderTreeView::selectFolder);

    // Every stored tree, a rescanned part included, brings new node ids that
    // the rows must carry: rebuild once per stored tree.
    connect(&m_state, &AppState::folderTreeChanged, this, &FolderTreeView::rebuild);
    connect(&m_state, &AppState::selectedFolderURLChanged, this, &FolderTreeView::updateHighlight);
    rebuild();
}

void FolderTreeView::rebuild()
{
    m_model->clear();
    if (const auto &root = m_state.currentFolder())
        appendNode(m_model->invisibleRootItem(), *root);
    restoreExpansion({});
    updateGeometry();
}

QSize FolderTreeView::sizeHint() const
{
    int height = 2 * frameWidth();
    for (QModelIndex index = m_model->index(0, 0); index.isValid(); index = indexBelow(index))
        height += indexRowSizeHint(index);
    return {QTreeView::sizeHint().width(), height};
}

QSize FolderTreeView::minimumSizeHint() const
{
    return {QTreeView::minimumSizeHint().width(), sizeHint().height()};
}

void FolderTreeView::appendNode(QStandardItem *parent, const FolderNode &node)
{
    auto *item = new QStandardItem(node.name);
    item->setData(node.id, NodeIdRole);
    item->setData(node.path(), PathRole);
    item->setData(int(node.images.size()), DirectImageCountRole);
    const auto &selected = m_state.selectedFolderURL();
    item->setData(selected && selected->toLocalFile() == node.path(), HighlightedRole);
    item->setEditable(false);
    parent->appendRow(item);
    for (const FolderNode &child : node.children)
        appendNode(item, child);
}

void FolderTreeView::restoreExpansion(const QModelIndex &parent)
{
    const QSet<QString> wanted = m_expandedPaths;
    for (int row = 0; row < m_model->rowCount(parent); ++row) {
        const QModelIndex index = m_model->index(row, 0, parent);
        if (wanted.contains(index.data(PathRole).toString()))
            expand(index);
        restoreExpansion(index);
    }
}

void FolderTreeView::updateHighlight()
{
    const auto &selected = m_state.selectedFolderURL();
    const QString selectedPath = selected ? selected->toLocalFile() : QString();
    std::function<void(QStandardItem *)> visit = [&](QStandardItem *item) {
        for (int row = 0; row < item->rowCount(); ++row) {
            QStandardItem *child = item->child(row);
            const bool highlighted = selected && child->data(PathRole).toString() == selectedPath;
            if (child->data(HighlightedRole).toBool() != highlighted)
                child->setData(highlighted, HighlightedRole);
            visit(child);
        }
    };
    visit(m_model->invisibleRootItem());
}

void FolderTreeView::selectFolder(const QModelIndex &index)
{
    const auto &root = m_state.currentFolder();
    if (!root || !index.isValid())
        return;
    if (const FolderNode *node = root->find(index.data(NodeIdRole).toUuid()))
        m_state.refreshFolder(*node);
}
