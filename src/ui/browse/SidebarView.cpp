#include "browse/SidebarView.h"

#include "browse/FolderTreeView.h"
#include "browse/HistoryListView.h"
#include "common/Theme.h"
#include "state/AppState.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr int sideMargin = 10;
}

SidebarView::SidebarView(AppState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
{
    // One scrolling list: the tree and the history size to their rows and the
    // history section follows the tree directly, however long either is.
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("sidebarList"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    scroll->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    auto *content = new QWidget(scroll);
    content->setAutoFillBackground(false);
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(sideMargin, 4, 4, 8);
    layout->setSpacing(6);

    auto *title = new QLabel(QStringLiteral("Kelvane"), content);
    title->setObjectName(QStringLiteral("sidebarTitle"));
    title->setFont(Theme::font(Theme::TextStyle::title2, QFont::Bold));
    title->setContentsMargins(4, 0, 0, 6);
    layout->addWidget(title);

    m_folderSection = makeFolderSection(content);
    layout->addWidget(m_folderSection);
    m_historySection = makeHistorySection(content);
    layout->addWidget(m_historySection);
    layout->addStretch(1);
    scroll->setWidget(content);

    connect(&m_state, &AppState::currentFolderChanged, this, &SidebarView::updateSections);
    connect(&m_state.folderHistory(), &FolderHistory::foldersChanged, this,
            &SidebarView::updateSections);
    updateSections();
}

QLabel *SidebarView::makeSectionTitle(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(Theme::font(Theme::TextStyle::body, QFont::DemiBold));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Theme::secondaryText());
    label->setPalette(palette);
    label->setContentsMargins(4, 0, 0, 0);
    return label;
}

QWidget *SidebarView::makeFolderSection(QWidget *parent)
{
    auto *section = new QWidget(parent);
    auto *layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 8);
    layout->setSpacing(4);
    layout->addWidget(makeSectionTitle(QStringLiteral("当前文件夹"), section));
    m_folderTree = new FolderTreeView(m_state, section);
    layout->addWidget(m_folderTree);
    return section;
}

QWidget *SidebarView::makeHistorySection(QWidget *parent)
{
    auto *section = new QWidget(parent);
    auto *layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 4, 0);
    header->addWidget(makeSectionTitle(QStringLiteral("最近打开"), section));
    header->addStretch(1);
    m_historyMenuButton = new QToolButton(section);
    m_historyMenuButton->setObjectName(QStringLiteral("historyMenuButton"));
    m_historyMenuButton->setIcon(
        Theme::symbolIcon(QStringLiteral("ellipsis.circle"), Theme::secondaryText(), 16));
    m_historyMenuButton->setIconSize(QSize(16, 16));
    m_historyMenuButton->setFixedSize(20, 20);
    m_historyMenuButton->setAutoRaise(true);
    m_historyMenuButton->setPopupMode(QToolButton::InstantPopup);
    m_historyMenuButton->setStyleSheet(
        QStringLiteral("QToolButton { border: none; padding: 0; }"
                       "QToolButton::menu-indicator { image: none; width: 0; }"));
    auto *menu = new QMenu(m_historyMenuButton);
    QAction *clearAll = menu->addAction(QStringLiteral("清除全部历史"));
    connect(clearAll, &QAction::triggered, this, [this] { m_state.folderHistory().clearAll(); });
    m_historyMenuButton->setMenu(menu);
    header->addWidget(m_historyMenuButton);
    layout->addLayout(header);

    m_historyList = new HistoryListView(m_state, section);
    layout->addWidget(m_historyList);
    return section;
}

void SidebarView::updateSections()
{
    m_folderSection->setVisible(m_state.currentFolder().has_value());
    m_historyMenuButton->setVisible(!m_state.folderHistory().folders().isEmpty());
}

void SidebarView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Theme::sidebarBackground());
}
