#include "browse/HistoryListView.h"

#include "common/Theme.h"
#include "state/AppState.h"

#include <QFileInfo>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QStackedLayout>
#include <QStandardItemModel>
#include <QStyledItemDelegate>

namespace {

constexpr int rowPadding = 4;
constexpr int iconSize = 16;
constexpr int iconTextSpacing = 8;
constexpr int lineSpacing = 2;

// Paints a history row: clock icon, then the name over the path.
class HistoryRowDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const override
    {
        const int nameHeight = QFontMetrics(Theme::font(Theme::TextStyle::body)).height();
        const int pathHeight = QFontMetrics(Theme::font(Theme::TextStyle::caption)).height();
        return {option.rect.width(), nameHeight + lineSpacing + pathHeight + 2 * rowPadding + 4};
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QRect row = option.rect.adjusted(0, 1, -4, -1);
        if (option.state & QStyle::State_MouseOver) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(QColor(0, 0, 0, 14));
            painter->drawRoundedRect(row, 5, 5);
        }
        const QRect content = row.adjusted(6, rowPadding, -6, -rowPadding);
        const QFont nameFont = Theme::font(Theme::TextStyle::body);
        const QFont pathFont = Theme::font(Theme::TextStyle::caption);
        const QFontMetrics nameMetrics(nameFont);
        const QFontMetrics pathMetrics(pathFont);

        const QRect iconRect(content.left(), content.top() + (nameMetrics.height() - iconSize) / 2,
                             iconSize, iconSize);
        painter->drawPixmap(iconRect,
                            Theme::symbol(QStringLiteral("clock"), Theme::secondaryText(), iconSize,
                                          painter->device()->devicePixelRatioF()));

        const int textLeft = iconRect.right() + 1 + iconTextSpacing;
        const int textWidth = content.right() - textLeft;
        const QRect nameRect(textLeft, content.top(), textWidth, nameMetrics.height());
        const QRect pathRect(textLeft, nameRect.bottom() + 1 + lineSpacing, textWidth,
                             pathMetrics.height());
        painter->setFont(nameFont);
        painter->setPen(Theme::primaryText());
        painter->drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter,
                          nameMetrics.elidedText(index.data(Qt::DisplayRole).toString(),
                                                 Qt::ElideRight, textWidth));
        painter->setFont(pathFont);
        painter->setPen(Theme::tertiaryText());
        painter->drawText(pathRect, Qt::AlignLeft | Qt::AlignVCenter,
                          pathMetrics.elidedText(index.data(HistoryListView::PathRole).toString(),
                                                 Qt::ElideMiddle, textWidth));
        painter->restore();
    }
};

} // namespace

HistoryListView::HistoryListView(AppState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
    , m_stack(new QStackedLayout(this))
    , m_emptyLabel(new QLabel(QStringLiteral("暂无历史记录"), this))
    , m_list(new QListView(this))
    , m_model(new QStandardItemModel(this))
{
    m_emptyLabel->setFont(Theme::font(Theme::TextStyle::caption));
    m_emptyLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_emptyLabel->setContentsMargins(6, 4, 6, 4);
    QPalette palette = m_emptyLabel->palette();
    palette.setColor(QPalette::WindowText, Theme::secondaryText());
    m_emptyLabel->setPalette(palette);

    m_list->setModel(m_model);
    m_list->setItemDelegate(new HistoryRowDelegate(m_list));
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The sidebar's list scrolls; this one is as tall as its rows.
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setMouseTracking(true);
    m_list->setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QListView::clicked, this,
            [this](const QModelIndex &index) { activateRow(index.row()); });
    connect(m_list, &QWidget::customContextMenuRequested, this, &HistoryListView::showContextMenu);

    m_stack->setContentsMargins(0, 0, 0, 0);
    m_stack->addWidget(m_emptyLabel);
    m_stack->addWidget(m_list);

    connect(&m_state.folderHistory(), &FolderHistory::foldersChanged, this,
            &HistoryListView::rebuild);
    rebuild();
}

HistoryListView::~HistoryListView() = default;

void HistoryListView::rebuild()
{
    m_model->clear();
    const QList<RecentFolder> &folders = m_state.folderHistory().folders();
    for (const RecentFolder &folder : folders) {
        auto *item = new QStandardItem(folder.name);
        item->setData(folder.path, PathRole);
        item->setToolTip(folder.path);
        item->setEditable(false);
        m_model->appendRow(item);
    }
    m_stack->setCurrentWidget(folders.isEmpty() ? static_cast<QWidget *>(m_emptyLabel) : m_list);
    int height = 2 * m_list->frameWidth();
    for (int row = 0; row < m_model->rowCount(); ++row)
        height += m_list->sizeHintForRow(row);
    m_list->setFixedHeight(height);
}

void HistoryListView::activateRow(int row)
{
    const QList<RecentFolder> &folders = m_state.folderHistory().folders();
    if (row < 0 || row >= folders.size())
        return;
    const RecentFolder folder = folders.at(row);
    // Anything at the path counts as present; a file then opens as an empty folder.
    if (!QFileInfo::exists(folder.path)) {
        m_state.setStatusMessage(QStringLiteral("文件夹不存在: ") + folder.name);
        return;
    }
    m_state.openFolder(QUrl::fromLocalFile(folder.path), true);
}

std::unique_ptr<QMenu> HistoryListView::createContextMenu(int row)
{
    const QList<RecentFolder> &folders = m_state.folderHistory().folders();
    if (row < 0 || row >= folders.size())
        return nullptr;
    auto menu = std::make_unique<QMenu>(this);
    const RecentFolder folder = folders.at(row);
    menu->addAction(QStringLiteral("移除"), this,
                    [this, folder] { m_state.folderHistory().remove(folder); });
    return menu;
}

void HistoryListView::showContextMenu(const QPoint &position)
{
    const QModelIndex index = m_list->indexAt(position);
    if (!index.isValid())
        return;
    if (std::unique_ptr<QMenu> menu = createContextMenu(index.row()))
        menu->exec(m_list->viewport()->mapToGlobal(position));
}
