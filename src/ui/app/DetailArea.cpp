#include "app/DetailArea.h"

#include "app/WelcomeView.h"
#include "browse/ThumbnailGridView.h"
#include "compare/CompareView.h"
#include "editor/FrameExportView.h"
#include "state/AppState.h"
#include "state/CompareSession.h"
#include "viewer/ImageViewerView.h"

DetailArea::DetailArea(AppState &state, QWidget *parent)
    : QStackedWidget(parent)
    , m_state(state)
    , m_welcome(new WelcomeView(this))
    // The grid and the viewer are built once and follow the state from then on.
    , m_grid(new ThumbnailGridView(state, this))
    , m_viewer(new ImageViewerView(state, state.workQueues(), this))
    , m_compare(new CompareView(state, state.workQueues(), this))
{
    addWidget(m_welcome);
    addWidget(m_grid);
    addWidget(m_viewer);
    addWidget(m_compare);
    connect(m_welcome, &WelcomeView::importRequested, this, &DetailArea::importRequested);
    connect(m_grid, &ThumbnailGridView::batchExportRequested, this, &DetailArea::openBatchExport);
    connect(m_viewer, &ImageViewerView::exportRequested, this, &DetailArea::openSingleExport);

    connect(&m_state, &AppState::viewerActiveChanged, this, &DetailArea::showPageForState);
    connect(&m_state, &AppState::selectedImageChanged, this, &DetailArea::showPageForState);
    connect(&m_state, &AppState::currentFolderChanged, this, &DetailArea::showPageForState);
    connect(&m_state.compare(), &CompareSession::openChanged, this, &DetailArea::showPageForState);
    showPageForState();
}

DetailArea::Page DetailArea::pageFor(const AppState &state)
{
    if (state.compare().isOpen())
        return Page::compare;
    if (state.isViewerActive() && state.selectedImage())
        return Page::viewer;
    if (!state.currentFolder())
        return Page::welcome;
    return Page::grid;
}

bool DetailArea::canBeFullScreen(Page page)
{
    return page == Page::viewer || page == Page::compare;
}

DetailArea::Page DetailArea::currentPage() const
{
    if (currentWidget() == m_viewer)
        return Page::viewer;
    if (currentWidget() == m_compare)
        return Page::compare;
    if (currentWidget() == m_grid)
        return Page::grid;
    return Page::welcome;
}

void DetailArea::showPageForState()
{
    switch (pageFor(m_state)) {
    case Page::welcome:
        setCurrentWidget(m_welcome);
        break;
    case Page::grid:
        setCurrentWidget(m_grid);
        break;
    case Page::viewer:
        setCurrentWidget(m_viewer);
        break;
    case Page::compare:
        setCurrentWidget(m_compare);
        break;
    }
}

void DetailArea::openBatchExport(const QList<ImageItem> &items)
{
    if (items.isEmpty())
        return;
    auto *editor = new FrameExportView(m_state, window());
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->init(items);
    placeOverThisArea(*editor);
    editor->open();
}

void DetailArea::openSingleExport(const ImageItem &item, const QImage &sourceImage)
{
    auto *editor = new FrameExportView(m_state, window());
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->init(item, sourceImage);
    connect(editor, &QDialog::finished, m_viewer, &ImageViewerView::frameExportClosed);
    placeOverThisArea(*editor);
    editor->open();
}

void DetailArea::placeOverThisArea(FrameExportView &editor) const
{
    // Over the grid or viewer it works on, leaving the sidebar in sight.
    editor.placeWithin(QRect(mapToGlobal(QPoint(0, 0)), size()));
}
