#include "browse/SelectionActionBar.h"

#include "common/BrowseStyle.h"
#include "common/Symbols.h"
#include "state/AppState.h"
#include "state/CompareSession.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace {
constexpr int kDividerHeight = 1;
}

SelectionActionBar::SelectionActionBar(AppState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
{
    auto *layout = new QHBoxLayout(this);
    // The divider above the bar is painted into its top pixel.
    layout->setContentsMargins(14, 8 + kDividerHeight, 14, 8);
    layout->setSpacing(12);
    const QFont callout = BrowseStyle::callout(font());

    auto *mark = new QLabel(this);
    mark->setPixmap(
        Symbols::icon(Symbols::Symbol::CheckmarkCircleFill, BrowseStyle::accent(palette()), 15)
            .pixmap(15, 15));
    layout->addWidget(mark);
    m_count = new QLabel(this);
    m_count->setFont(BrowseStyle::sized(callout, callout.pixelSize(), QFont::Medium));
    layout->addWidget(m_count);

    m_selectAll = new QPushButton(QStringLiteral("全选"), this);
    m_clear = new QPushButton(QStringLiteral("清除"), this);
    for (QPushButton *button : {m_selectAll, m_clear}) {
        button->setFont(callout);
        BrowseStyle::makeBorderless(button);
        layout->addWidget(button);
    }
    connect(m_selectAll, &QPushButton::clicked, this, [this] { m_state.selectAllVisible(); });
    connect(m_clear, &QPushButton::clicked, this, [this] { m_state.clearSelection(); });
    layout->addStretch(1);

    addFlagButtons(layout, callout);

    m_compare =
        addCommandButton(layout, QStringLiteral("对比"), Symbols::Symbol::SideBySide, callout);
    connect(m_compare, &QPushButton::clicked, this, [this] { m_state.compare().openSelection(); });
    m_archive =
        addCommandButton(layout, QStringLiteral("批量归档"), Symbols::Symbol::ArchiveBox, callout);
    connect(m_archive, &QPushButton::clicked, this, [this] {
        if (m_state.currentFolder())
            Q_EMIT batchArchiveRequested();
    });
    m_trash =
        addCommandButton(layout, QStringLiteral("移到废纸篓"), Symbols::Symbol::Trash, callout);
    connect(m_trash, &QPushButton::clicked, this, [this] {
        if (!m_state.isMovingFiles())
            m_state.moveToTrash(m_state.selectedImages());
    });

    m_export = new QPushButton(QStringLiteral("批量边框水印"), this);
    m_export->setFont(callout);
    m_export->setIcon(Symbols::icon(Symbols::Symbol::ShareUp, Qt::white, 14));
    BrowseStyle::makeProminent(m_export);
    connect(m_export, &QPushButton::clicked, this, &SelectionActionBar::batchExportRequested);
    layout->addWidget(m_export);

    connect(&state, &AppState::selectedImageIDsChanged, this,
            &SelectionActionBar::updateFromSelection);
    connect(&state, &AppState::filteredImagesChanged, this,
            &SelectionActionBar::updateFromSelection);
    updateFromSelection();
}

void SelectionActionBar::addFlagButtons(QHBoxLayout *layout, const QFont &font)
{
    const auto addButton = [&](const QString &text, CullingFlag flag) {
        auto *button = new QPushButton(text, this);
        button->setFont(font);
        BrowseStyle::makeBorderless(button);
        connect(button, &QPushButton::clicked, this,
                [this, flag] { m_state.setFlag(flag, m_state.selectedImages()); });
        layout->addWidget(button);
        return button;
    };
    m_pick = addButton(QStringLiteral("留用"), CullingFlag::pick);
    m_reject = addButton(QStringLiteral("排除"), CullingFlag::reject);
    m_clearFlag = addButton(QStringLiteral("清除旗标"), CullingFlag::none);
}

QPushButton *SelectionActionBar::addCommandButton(QHBoxLayout *layout, const QString &text,
                                                  Symbols::Symbol symbol, const QFont &font)
{
    auto *button = new QPushButton(text, this);
    button->setFont(font);
    button->setIcon(Symbols::icon(symbol, palette().color(QPalette::ButtonText), 14));
    BrowseStyle::makeBordered(button);
    layout->addWidget(button);
    return button;
}

QString SelectionActionBar::countText() const
{
    return m_count->text();
}

void SelectionActionBar::updateFromSelection()
{
    const qsizetype count = m_state.selectedImageIDs().size();
    m_count->setText(QStringLiteral("已选 %1 张").arg(count));
    setVisible(count > 0);
    m_compare->setEnabled(!m_state.compare().selectionToCompare().isEmpty());
}

void SelectionActionBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    painter.fillRect(rect(), BrowseStyle::withAlpha(BrowseStyle::accent(palette()), 0.08));
    painter.fillRect(QRect(0, 0, width(), kDividerHeight), BrowseStyle::withAlpha(Qt::gray, 0.3));
}
