#include "state/CompareSession.h"

#include "state/AppState.h"

#include <QSet>
#include <algorithm>

CompareSession::CompareSession(AppState &state)
    : QObject(&state)
    , m_state(state)
{
    // A rescan gives every item a new id: what compare shows is gone then.
    connect(&m_state, &AppState::imagesChanged, this, &CompareSession::closeIfItemsVanished);
}

QList<ImageItem> CompareSession::selectionToCompare() const
{
    const QSet<QUuid> &selected = m_state.selectedImageIDs();
    if (selected.size() < minimumPanes || selected.size() > maximumPanes)
        return {};
    QList<ImageItem> items;
    for (const ImageItem &item : m_state.filteredImages()) {
        if (selected.contains(item.id()))
            items.append(item);
    }
    return items.size() >= minimumPanes ? items : QList<ImageItem>();
}

bool CompareSession::openSelection()
{
    const QList<ImageItem> items = selectionToCompare();
    if (items.isEmpty())
        return false;
    open(items, Origin::grid);
    return true;
}

bool CompareSession::openFromViewer()
{
    const std::optional<ImageItem> &shown = m_state.selectedImage();
    const QList<ImageItem> &images = m_state.filteredImages();
    const qsizetype index = shown ? images.indexOf(*shown) : -1;
    if (index < 0)
        return false;
    if (images.size() < minimumPanes) {
        m_state.setStatusMessage(QStringLiteral("只有一张图片，无法对比"));
        return false;
    }
    const ImageItem &candidate = index + 1 < images.size() ? images[index + 1] : images[index - 1];
    open({*shown, candidate}, Origin::viewer);
    return true;
}

void CompareSession::open(const QList<ImageItem> &items, Origin origin)
{
    m_origin = origin;
    const bool wasOpen = isOpen();
    setItems(items);
    setActivePane(0);
    // The viewer lets go of its picture while compare shows.
    m_state.setViewerActive(false);
    if (!wasOpen)
        Q_EMIT openChanged(true);
}

void CompareSession::close()
{
    if (!isOpen())
        return;
    const ImageItem select = m_items.first();
    const Origin origin = m_origin;
    setItems({});
    m_activePane = 0;
    Q_EMIT openChanged(false);
    if (origin == Origin::viewer) {
        const qsizetype index = m_state.filteredImages().indexOf(select);
        if (index >= 0)
            m_state.selectImage(int(index));
    }
}

void CompareSession::setItems(const QList<ImageItem> &items)
{
    if (items == m_items)
        return;
    m_items = items;
    Q_EMIT itemsChanged();
}

void CompareSession::setActivePane(int pane)
{
    if (pane < 0 || pane >= m_items.size() || pane == m_activePane)
        return;
    m_activePane = pane;
    Q_EMIT activePaneChanged(pane);
}

void CompareSession::step(int direction)
{
    if (!isOpen())
        return;
    if (isTwoPane())
        stepCandidate(direction);
    else
        setActivePane(std::clamp(m_activePane + direction, 0, int(m_items.size()) - 1));
}

std::optional<ImageItem> CompareSession::candidateAfter(int direction) const
{
    const QList<ImageItem> &images = m_state.filteredImages();
    const ImageItem &select = m_items[0];
    qsizetype index = images.indexOf(m_items[1]);
    if (index < 0) // the candidate left the filtered list: step from the select
        index = images.indexOf(select);
    for (index += direction; index >= 0 && index < images.size(); index += direction) {
        if (images[index] != select)
            return images[index];
    }
    return std::nullopt;
}

void CompareSession::stepCandidate(int direction)
{
    if (const std::optional<ImageItem> next = candidateAfter(direction))
        setItems({m_items[0], *next});
    else
        m_state.setStatusMessage(direction > 0 ? QStringLiteral("已是最后一张")
                                               : QStringLiteral("已是第一张"));
}

QFuture<void> CompareSession::moveActiveToTrash()
{
    if (!isOpen())
        return QtFuture::makeReadyFuture();
    const ImageItem leaving = activeItem();
    if (!isTwoPane()) {
        QList<ImageItem> staying = m_items;
        staying.removeAt(m_activePane);
        // The active pane is in range before anyone hears of the new items.
        const int active = std::min(m_activePane, int(staying.size()) - 1);
        const bool paneMoved = active != m_activePane;
        m_activePane = active;
        setItems(staying);
        if (paneMoved)
            Q_EMIT activePaneChanged(active);
    } else {
        // The photo left standing is the select; the next photo of the list
        // (at the end the previous) comes in as the candidate.
        if (m_activePane == 0)
            swap();
        std::optional<ImageItem> next = candidateAfter(+1);
        if (!next)
            next = candidateAfter(-1);
        if (next)
            setItems({m_items[0], *next});
        else
            close(); // onto the select
    }
    return m_state.moveToTrash({leaving});
}

void CompareSession::swap()
{
    if (isTwoPane())
        setItems({m_items[1], m_items[0]});
}

void CompareSession::closeIfItemsVanished()
{
    if (!isOpen())
        return;
    const QList<ImageItem> &images = m_state.images();
    for (const ImageItem &item : std::as_const(m_items)) {
        if (!images.contains(item)) {
            m_origin = Origin::grid; // the viewer's photo may be gone as well
            close();
            return;
        }
    }
}

bool CompareSession::handleKey(AppState &state, int key, const QString &text)
{
    CompareSession &compare = state.compare();
    if (!compare.isOpen() || state.isSheetPresented())
        return false;
    switch (key) {
    case Qt::Key_Right:
        compare.step(+1);
        return true;
    case Qt::Key_Left:
        compare.step(-1);
        return true;
    case Qt::Key_Up:
        compare.swap();
        return true;
    case Qt::Key_Escape:
        compare.close();
        return true;
    default:
        break;
    }
    if (key == Qt::Key_Delete) {
        compare.moveActiveToTrash();
        return true;
    }
    if (state.markByKey(key, text, compare.activeItem()))
        return true;
    static const QString ratingKeys = QStringLiteral("012345");
    if (text.size() != 1 || !ratingKeys.contains(text))
        return false;
    state.updateRating(text.toInt(), compare.activeItem());
    return true;
}
