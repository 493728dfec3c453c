#include "browse/ThumbnailListView.h"

#include "browse/ThumbnailCell.h"
#include "browse/ThumbnailListModel.h"
#include "common/BrowseStyle.h"
#include "common/CullingMarkMenu.h"
#include "common/DesktopFileRevealer.h"
#include "imaging/ImageLoader.h"
#include "state/AppState.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLineF>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>

namespace {

constexpr int kAutoScrollIntervalMs = 30;
constexpr int kSpinnerIntervalMs = 80;

} // namespace

ThumbnailListView::ThumbnailListView(AppState &state, ThumbnailListModel &model, QWidget *parent)
    : QListView(parent)
    , m_state(state)
    , m_model(model)
    , m_cell(new ThumbnailCell(model, this))
    , m_revealer(std::make_unique<DesktopFileRevealer>(
          [this](const QString &text) { m_state.setToastMessage(text); }))
{
    // A wrapping left-to-right list in one pass: with uniform sizes Qt lays
    // out 100,000 rows as a vector of positions in well under a frame, where
    // free icon placement would keep a rectangle and a tree node per row.
    setViewMode(QListView::ListMode);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setLayoutMode(QListView::SinglePass);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    // The window handles every key; the grid has none of its own.
    setFocusPolicy(Qt::NoFocus);
    setBottomInset(0);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    viewport()->setBackgroundRole(QPalette::Base);
    setItemDelegate(m_cell);
    setModel(&model);
    verticalScrollBar()->setSingleStep(24);

    m_autoScrollTimer.setInterval(kAutoScrollIntervalMs);
    connect(&m_autoScrollTimer, &QTimer::timeout, this, &ThumbnailListView::autoScroll);
    m_spinnerTimer.setInterval(kSpinnerIntervalMs);
    connect(&m_spinnerTimer, &QTimer::timeout, this, &ThumbnailListView::advanceSpinners);
}

ThumbnailListView::~ThumbnailListView() = default;

void ThumbnailListView::setBottomInset(int pixels)
{
    // Half of the gap lies inside each slot, the rest of the padding is margin.
    const int margin = padding - ThumbnailCell::gap / 2;
    setViewportMargins(margin, margin, margin, margin + pixels);
}

void ThumbnailListView::setFileRevealer(std::unique_ptr<FileRevealer> revealer)
{
    m_revealer = std::move(revealer);
}

QPoint ThumbnailListView::toContent(const QPoint &viewportPos) const
{
    return viewportPos + QPoint(horizontalOffset(), verticalOffset());
}

void ThumbnailListView::updateColumns()
{
    // A wrapping list keeps room for the scroll bar while it is hidden, so
    // that showing it does not push the last column onto the next line.
    int available = viewport()->width();
    if (!verticalScrollBar()->isVisible())
        available -= style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, verticalScrollBar());
    // The list wraps a slot that ends on the last pixel; keep a little slack.
    available = std::max(1, available - 4);
    const int minSlot = minColumnWidth + ThumbnailCell::gap;
    m_columns = std::max(1, available / minSlot);
    const int slotWidth =
        std::clamp(available / m_columns, minSlot, maxColumnWidth + ThumbnailCell::gap);
    const QSize slot(slotWidth, ThumbnailCell::slotSize(0).height());
    if (slot == gridSize())
        return;
    m_cell->setSlotSize(slot);
    setGridSize(slot);
}

void ThumbnailListView::resizeEvent(QResizeEvent *event)
{
    updateColumns();
    QListView::resizeEvent(event);
}

bool ThumbnailListView::centreOnImage(const QUuid &id)
{
    const QList<ImageItem> &items = m_state.filteredImages();
    // The viewer's position is the likely answer; fall back to a search.
    int row = m_state.currentIndex();
    if (row < 0 || row >= items.size() || items[row].id() != id) {
        const auto found = std::find_if(items.cbegin(), items.cend(),
                                        [&](const ImageItem &item) { return item.id() == id; });
        if (found == items.cend())
            return false;
        row = int(found - items.cbegin());
    }
    scrollTo(m_model.index(row), QAbstractItemView::PositionAtCenter);
    return true;
}

QSet<QUuid> ThumbnailListView::idsTouching(const QRect &band) const
{
    QSet<QUuid> ids;
    const QSize slot = gridSize();
    const int rows = m_model.rowCount();
    if (slot.isEmpty() || rows == 0)
        return ids;
    // Only the slots the band crosses are looked at, never every row.
    const int firstLine = std::max(0, band.top() / slot.height() - 1);
    const int lastLine = band.bottom() / slot.height() + 1;
    const int firstColumn = std::max(0, band.left() / slot.width() - 1);
    const int columns = laidOutColumns();
    const int lastColumn = std::min(columns - 1, band.right() / slot.width() + 1);
    // Closed intervals, so a band of zero height or width still touches.
    const auto overlaps = [&band](const QRect &frame) {
        return band.left() <= frame.right() && frame.left() <= band.right() &&
               band.top() <= frame.bottom() && frame.top() <= band.bottom();
    };
    for (int line = firstLine; line <= lastLine; ++line) {
        for (int column = firstColumn; column <= lastColumn; ++column) {
            const int row = line * columns + column;
            if (row >= rows)
                break;
            const QRect frame = ThumbnailCell::cellFrame(rectForIndex(m_model.index(row)));
            if (overlaps(frame))
                ids.insert(m_model.item(row).id());
        }
    }
    return ids;
}

int ThumbnailListView::laidOutColumns() const
{
    // The tiles on the first line, as the list laid them out.
    const int rows = m_model.rowCount();
    if (rows == 0)
        return m_columns;
    const int top = rectForIndex(m_model.index(0)).top();
    int columns = 1;
    while (columns < rows && rectForIndex(m_model.index(columns)).top() == top)
        ++columns;
    return columns;
}

void ThumbnailListView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    m_pressed = true;
    m_dragging = false;
    m_pressViewport = event->position().toPoint();
    m_pressContent = toContent(m_pressViewport);
    event->accept();
}

void ThumbnailListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // No double-click action: the second press is another click.
    mousePressEvent(event);
}

void ThumbnailListView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_pressed)
        return;
    const QPoint position = event->position().toPoint();
    if (!m_dragging) {
        if (QLineF(m_pressViewport, position).length() < dragThreshold)
            return;
        m_dragging = true;
        m_dragStartSelection = m_state.selectedImageIDs();
    }
    updateBand(position);
    const bool outside = position.y() < 0 || position.y() > viewport()->height();
    if (outside && !m_autoScrollTimer.isActive())
        m_autoScrollTimer.start();
    else if (!outside)
        m_autoScrollTimer.stop();
}

void ThumbnailListView::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_pressed || event->button() != Qt::LeftButton)
        return;
    m_pressed = false;
    if (m_dragging)
        endBand();
    else
        click(event->position().toPoint());
}

void ThumbnailListView::click(const QPoint &viewportPos)
{
    const QModelIndex index = indexAt(viewportPos);
    if (!index.isValid())
        return;
    const QRect slot = visualRect(index);
    const ImageItem &item = m_model.item(index.row());
    if (ThumbnailCell::selectionBadgeRect(slot).contains(viewportPos)) {
        m_state.toggleSelection(item.id());
        return;
    }
    if (!ThumbnailCell::cellFrame(slot).contains(viewportPos))
        return;
    if (!m_state.selectedImageIDs().isEmpty())
        m_state.toggleSelection(item.id());
    else
        m_state.selectImage(index.row());
}

void ThumbnailListView::updateBand(const QPoint &viewportPos)
{
    m_lastViewport = viewportPos;
    const QPoint current = toContent(viewportPos);
    m_band = QRect(QPoint(std::min(m_pressContent.x(), current.x()),
                          std::min(m_pressContent.y(), current.y())),
                   QSize(std::abs(current.x() - m_pressContent.x()),
                         std::abs(current.y() - m_pressContent.y())));
    m_state.setSelectedImageIDs(m_dragStartSelection | idsTouching(m_band));
    viewport()->update();
}

void ThumbnailListView::endBand()
{
    m_dragging = false;
    m_band = QRect();
    m_dragStartSelection.clear();
    m_autoScrollTimer.stop();
    viewport()->update();
}

void ThumbnailListView::autoScroll()
{
    if (!m_dragging) {
        m_autoScrollTimer.stop();
        return;
    }
    const int y = m_lastViewport.y();
    const int distance = y < 0 ? y : y - viewport()->height();
    QScrollBar *bar = verticalScrollBar();
    bar->setValue(bar->value() + std::clamp(distance, -60, 60));
    updateBand(m_lastViewport);
}

void ThumbnailListView::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                                    const QList<int> &roles)
{
    // Every cell has the grid's size whatever its data, so no change of data
    // moves one: the list's own handler, which lays out every row again and
    // repaints the whole screen, is skipped; the changed cells repaint.
    QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
}

void ThumbnailListView::paintEvent(QPaintEvent *event)
{
    // The list paints every cell that meets the bounding rectangle of what
    // is dirty; scattered cells (spinners, arrivals) are painted one by one.
    const QRegion &dirty = event->region();
    if (dirty.rectCount() <= 1) {
        QListView::paintEvent(event);
    } else {
        for (const QRect &rect : dirty) {
            QPaintEvent part(rect);
            QListView::paintEvent(&part);
        }
    }
    if (!m_dragging)
        return;
    QPainter painter(viewport());
    const QColor accent = BrowseStyle::accent(palette());
    const QRect band = m_band.translated(-horizontalOffset(), -verticalOffset());
    painter.fillRect(band, BrowseStyle::withAlpha(accent, 0.15));
    painter.setPen(QPen(accent, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(band).adjusted(0.5, 0.5, -0.5, -0.5));
}

QMenu *ThumbnailListView::createContextMenu(const QModelIndex &index, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    const ImageItem item = m_model.item(index.row());
    menu->addAction(QStringLiteral("在访达中显示"), this, [this, item] {
        if (m_revealer)
            m_revealer->reveal(item.path());
    });
    menu->addAction(QStringLiteral("复制图片"), this, [this, item] {
        const auto thumbnail = m_state.imageLoader().cachedThumbnail(item.path());
        if (thumbnail && !thumbnail->isNull())
            QApplication::clipboard()->setImage(*thumbnail);
    });
    menu->addSeparator();
    CullingMarkMenu::addEntries(*menu, m_state, item);
    // On a selected photo the entry takes the whole selection, as Delete does.
    const bool inSelection = m_state.selectedImageIDs().contains(item.id());
    CullingMarkMenu::addTrashEntry(*menu, m_state,
                                   inSelection ? m_state.selectedImages() : QList{item});
    return menu;
}

void ThumbnailListView::contextMenuEvent(QContextMenuEvent *event)
{
    const QModelIndex index = indexAt(event->pos());
    if (!index.isValid() || !ThumbnailCell::cellFrame(visualRect(index)).contains(event->pos()))
        return;
    QMenu *menu = createContextMenu(index, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void ThumbnailListView::showEvent(QShowEvent *event)
{
    QListView::showEvent(event);
    m_spinnerTimer.start();
}

void ThumbnailListView::hideEvent(QHideEvent *event)
{
    m_spinnerTimer.stop();
    QListView::hideEvent(event);
}

void ThumbnailListView::advanceSpinners()
{
    if (!m_model.hasPendingThumbnails())
        return;
    m_spinnerPhase = (m_spinnerPhase + 1) % 12;
    m_cell->setSpinnerPhase(m_spinnerPhase);
    // Only the spinners turn: the cells already shown are left alone.
    const QRect screen = viewport()->rect();
    const int slotHeight = std::max(1, gridSize().height());
    const int first = std::max(0, verticalOffset() / slotHeight - 1) * laidOutColumns();
    for (int row = first; row < m_model.rowCount(); ++row) {
        const QRect slot = visualRect(m_model.index(row));
        if (slot.top() > screen.bottom())
            break;
        if (slot.intersects(screen) && m_model.thumbnailState(m_model.item(row)) ==
                                           ThumbnailListModel::ThumbnailState::Loading)
            viewport()->update(ThumbnailCell::spinnerRect(slot));
    }
}
