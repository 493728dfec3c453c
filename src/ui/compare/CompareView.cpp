#include "compare/CompareView.h"

#include "common/CullingMarkMenu.h"
#include "common/FocusAreaDisplay.h"
#include "compare/ComparePane.h"
#include "compare/CompareZoomView.h"
#include "state/AppState.h"
#include "state/CompareSession.h"
#include "viewing/FocusPointCache.h"

#include <QMenu>
#include <QPainter>
#include <algorithm>
#include <tuple>

CompareView::CompareView(AppState &state, WorkQueues &queues, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
    , m_focusPoints(new FocusPointCache(queues, this))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    for (int i = 0; i < CompareSession::maximumPanes; ++i) {
        auto *pane = new ComparePane(queues, *m_focusPoints, this);
        connect(&pane->focusAreas(), &FocusAreaDisplay::focusPointsMissing, this, [this, pane] {
            if (pane->isActive())
                m_state.setStatusMessage(QStringLiteral("没有对焦点信息"));
        });
        connect(&pane->focusAreas(), &FocusAreaDisplay::focusPointsDrawn, this, [this, pane] {
            if (pane->isActive() && m_state.statusMessage() == QStringLiteral("没有对焦点信息"))
                m_state.setStatusMessage(QString());
        });
        pane->hide();
        m_panes.append(pane);
        CompareZoomView *zoom = pane->zoomView();
        connect(pane, &ComparePane::activated, this,
                [this, pane] { m_state.compare().setActivePane(int(m_panes.indexOf(pane))); });
        connect(pane, &ComparePane::ratingChosen, this, [this, pane](int rating) {
            if (pane->item())
                m_state.updateRating(rating, *pane->item());
        });
        connect(zoom, &CompareZoomView::movedByUser, this,
                [this, zoom](QPointF anchor, qreal factor) { follow(zoom, anchor, factor); });
        connect(zoom, &CompareZoomView::fitRequested, this, &CompareView::fitAll);
        pane->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(pane, &QWidget::customContextMenuRequested, this,
                [this, pane](const QPoint &at) { showContextMenu(pane, pane->mapToGlobal(at)); });
    }
    CompareSession &compare = m_state.compare();
    connect(&compare, &CompareSession::itemsChanged, this, &CompareView::followSession);
    connect(&compare, &CompareSession::activePaneChanged, this, &CompareView::followActivePane);
    connect(&m_state.starRatingStore(), &StarRatingStore::ratingChanged, this,
            &CompareView::updateRatings);
    connect(&m_state.starRatingStore(), &StarRatingStore::ratingsRemoved, this,
            &CompareView::updateRatings);
    connect(&m_state.cullingMarks(), &CullingMarkStore::markChanged, this,
            &CompareView::updateRatings);
    connect(&m_state.cullingMarks(), &CullingMarkStore::marksChanged, this,
            &CompareView::updateRatings);
    followSession();
}

CompareView::~CompareView() = default;

QMenu *CompareView::createContextMenu(ComparePane *pane)
{
    if (!pane->item())
        return nullptr;
    auto *menu = new QMenu(this);
    CullingMarkMenu::addEntries(*menu, m_state, *pane->item());
    menu->addSeparator();
    // The pane's photo goes as Delete takes the active one, so the next
    // candidate comes in.
    menu->addAction(QStringLiteral("移到废纸篓"), this, [this, pane] {
        m_state.compare().setActivePane(int(m_panes.indexOf(pane)));
        m_state.compare().moveActiveToTrash();
    });
    return menu;
}

void CompareView::showContextMenu(ComparePane *pane, const QPoint &globalPosition)
{
    if (QMenu *menu = createContextMenu(pane)) {
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(globalPosition);
    }
}

QList<ComparePane *> CompareView::panes() const
{
    return m_panes.first(m_state.compare().items().size());
}

void CompareView::followSession()
{
    const CompareSession &compare = m_state.compare();
    const QList<ImageItem> &items = compare.items();
    arrangePanes(items);
    layoutPanes();
    for (int i = 0; i < m_panes.size(); ++i) {
        ComparePane *pane = m_panes[i];
        if (i >= items.size()) {
            pane->hide();
            pane->clear();
            continue;
        }
        pane->show();
        // Only the candidate steps: its neighbours are decoded ahead.
        pane->showItem(items[i],
                       [this](const ImageItem &shown) { return candidateNeighbourhood(shown); });
        pane->setRole(!compare.isTwoPane() ? QString()
                      : i == 0             ? QStringLiteral("选定")
                                           : QStringLiteral("候选"));
    }
    followActivePane();
    updateRatings();
}

void CompareView::arrangePanes(const QList<ImageItem> &items)
{
    // A pane that shows one of the items moves to its place (a swap moves
    // pictures and views, nothing loads again); the others fill the gaps.
    QList<ComparePane *> spare = m_panes;
    QList<ComparePane *> arranged(items.size(), nullptr);
    for (qsizetype i = 0; i < items.size(); ++i) {
        const auto showing = std::ranges::find_if(
            spare, [&](ComparePane *pane) { return pane->item() == items[i]; });
        if (showing != spare.end()) {
            arranged[i] = *showing;
            spare.erase(showing);
        }
    }
    for (ComparePane *&pane : arranged) {
        if (!pane)
            pane = spare.takeFirst();
    }
    m_panes = arranged + spare;
}

QList<ImageItem> CompareView::candidateNeighbourhood(const ImageItem &candidate) const
{
    const QList<ImageItem> &compared = m_state.compare().items();
    const QList<ImageItem> &images = m_state.filteredImages();
    const qsizetype index = images.indexOf(candidate);
    if (compared.size() != 2 || compared[1] != candidate || index < 0)
        return {};
    QList<ImageItem> items{candidate};
    for (const int direction : {+1, -1}) {
        for (qsizetype i = index + direction; i >= 0 && i < images.size(); i += direction) {
            if (images[i] != compared[0]) {
                items.append(images[i]);
                break;
            }
        }
    }
    return items;
}

void CompareView::followActivePane()
{
    const int active = m_state.compare().activePane();
    for (int i = 0; i < m_panes.size(); ++i)
        m_panes[i]->setActive(m_state.compare().isOpen() && i == active);
}

void CompareView::updateRatings()
{
    for (ComparePane *pane : m_panes) {
        pane->setRating(pane->item() ? m_state.rating(*pane->item()) : 0);
        pane->setMark(pane->item() ? m_state.mark(*pane->item()) : CullingMark());
    }
}

void CompareView::follow(const CompareZoomView *leader, QPointF anchor, qreal factor)
{
    const QPointF relativePoint = leader->relativePointAt(anchor);
    for (ComparePane *pane : panes()) {
        CompareZoomView *zoom = pane->zoomView();
        if (zoom != leader && zoom->showsPicture())
            zoom->showRelativePoint(zoom->magnification() * factor, relativePoint, anchor);
    }
}

void CompareView::fitAll()
{
    for (ComparePane *pane : panes()) {
        if (pane->zoomView()->magnification() != 1.0 && !pane->zoomView()->isAnimating())
            pane->zoomView()->animateToFit();
    }
}

void CompareView::toggleActualPixels()
{
    const QList<ComparePane *> shown = panes();
    const bool allFitted = std::ranges::all_of(
        shown, [](ComparePane *pane) { return pane->zoomView()->magnification() == 1.0; });
    if (!allFitted) {
        fitAll();
        return;
    }
    std::optional<std::pair<QPointF, QPointF>> pointer; // relative point, place
    for (ComparePane *pane : shown) {
        if (const auto at = pane->zoomView()->pointerPosition())
            pointer = std::pair(pane->zoomView()->relativePointAt(*at), *at);
    }
    for (ComparePane *pane : shown) {
        CompareZoomView *zoom = pane->zoomView();
        QPointF relativePoint(0.5, 0.5);
        QPointF place = QRectF(zoom->rect()).center();
        if (pointer) {
            std::tie(relativePoint, place) = *pointer;
        } else {
            relativePoint = pane->focusAreas().loupeCentre();
        }
        zoom->showRelativePoint(zoom->actualPixelsMagnification(), relativePoint, place);
    }
}

void CompareView::setFocusAreasShown(bool shown)
{
    for (ComparePane *pane : m_panes)
        pane->focusAreas().setShown(shown);
}

bool CompareView::focusAreasShown() const
{
    return m_panes.first()->focusAreas().isShown();
}

void CompareView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
}

void CompareView::resizeEvent(QResizeEvent *)
{
    layoutPanes();
}

void CompareView::layoutPanes()
{
    const qsizetype count = m_state.compare().items().size();
    const int columns = 2;
    const int rows = count > 2 ? 2 : 1;
    const int width = (this->width() - paneSpacing * (columns - 1)) / columns;
    const int height = (this->height() - paneSpacing * (rows - 1)) / rows;
    for (int i = 0; i < m_panes.size(); ++i) {
        const int row = i / columns;
        const int column = i % columns;
        m_panes[i]->setGeometry(column * (width + paneSpacing), row * (height + paneSpacing), width,
                                height);
    }
}
