#include "DetailArea.h"

#include "AppState.h"
#include "WelcomeView.h"
#include "browse/ThumbnailGridView.h"
#include "viewer/ImageViewerView.h"

namespace {

// The screens of the grid and the viewer, each built once with the state and
// following it from then on.
QWidget *makeGridView(AppState &state, QWidget *parent)
{
    return new ThumbnailGridView(state, parent);
}

QWidget *makeViewerView(AppState &state, QWidget *parent)
{
    return new ImageViewerView(state, parent);
}

} // namespace

DetailArea::DetailArea(AppState &state, QWidget *parent)
    : QStackedWidget(parent)
    , m_state(state)
    , m_welcome(new WelcomeView(this))
    , m_grid(makeGridView(state, this))
    , m_viewer(makeViewerView(state, this))
{
    addWidget(m_welcome);
    addWidget(m_grid);
    addWidget(m_viewer);
    connect(m_welcome, &WelcomeView::importRequested, this, &DetailArea::importRequested);

    connect(&m_state, &AppState::viewerActiveChanged, this, &DetailArea::showPageForState);
    connect(&m_state, &AppState::selectedImageChanged, this, &DetailArea::showPageForState);
    connect(&m_state, &AppState::currentFolderChanged, this, &DetailArea::showPageForState);
    showPageForState();
}

DetailArea::Page DetailArea::pageFor(const AppState &state)
{
    if (state.isViewerActive() && state.selectedImage())
        return Page::viewer;
    if (!state.currentFolder())
        return Page::welcome;
    return Page::grid;
}

DetailArea::Page DetailArea::currentPage() const
{
    if (currentWidget() == m_viewer)
        return Page::viewer;
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
    }
}
