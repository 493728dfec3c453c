#include "app/ViewerKeyHandler.h"

#include "app/DetailArea.h"
#include "state/AppState.h"
#include "state/CompareSession.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace {

// A rating, flag or label by key with the setting on moves on, unless the rating already
// did (a star filter dropped the image and the viewer shows the next one) or
// this is the last image.
void advanceAfterRating(AppState &state, const ImageItem &rated)
{
    if (!state.viewerSettings().autoAdvance() || state.selectedImage() != rated)
        return;
    if (state.currentIndex() < state.filteredImages().size() - 1)
        state.selectImage(state.currentIndex() + 1);
}

// The grid takes Delete (and the undo keys, as window shortcuts) only: the
// selection goes to the Trash. Its veil is up while files move.
bool trashGridSelection(AppState &state)
{
    if (DetailArea::pageFor(state) != DetailArea::Page::grid || state.isMovingFiles())
        return false;
    const QList<ImageItem> selected = state.selectedImages();
    if (selected.isEmpty())
        return false;
    state.moveToTrash(selected);
    return true;
}

} // namespace

ViewerKeyHandler::ViewerKeyHandler(AppState &state, QWidget *window)
    : QObject(window)
    , m_state(state)
    , m_window(window)
{
    qApp->installEventFilter(this);
}

ViewerKeyHandler::~ViewerKeyHandler()
{
    qApp->removeEventFilter(this);
}

bool ViewerKeyHandler::handleKey(AppState &state, int key, const QString &text)
{
    if (DetailArea::pageFor(state) == DetailArea::Page::compare)
        return CompareSession::handleKey(state, key, text);
    if (state.isSheetPresented())
        return false;
    // The state can say "viewer active" while the grid shows (a folder opened
    // from the viewer clears the image); keys follow what is on screen.
    if (DetailArea::pageFor(state) != DetailArea::Page::viewer)
        return key == Qt::Key_Delete && trashGridSelection(state);
    switch (key) {
    case Qt::Key_Right:
        state.nextImage();
        return true;
    case Qt::Key_Left:
        state.previousImage();
        return true;
    case Qt::Key_Escape:
        state.setViewerActive(false);
        return true;
    case Qt::Key_C:
        state.compare().openFromViewer();
        return true;
    case Qt::Key_Delete:
        // Not refused while the previous photo is still on its way: the
        // viewer has already moved on to the next one.
        if (state.selectedImage())
            state.moveToTrash({*state.selectedImage()});
        return true;
    default:
        break;
    }
    const std::optional<ImageItem> shown = state.selectedImage();
    if (shown && state.markByKey(key, text, *shown)) {
        advanceAfterRating(state, *shown);
        return true;
    }
    static const QString ratingKeys = QStringLiteral("012345");
    if (text.size() != 1 || !ratingKeys.contains(text))
        return false;
    if (shown) {
        state.updateRating(text.toInt(), *shown);
        advanceAfterRating(state, *shown);
    }
    return true;
}

bool ViewerKeyHandler::handleWindowKey(const QKeyEvent &event)
{
    if (!DetailArea::canBeFullScreen(DetailArea::pageFor(m_state)) || m_state.isSheetPresented())
        return false;
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    switch (event.key()) {
    case Qt::Key_F:
    case Qt::Key_F11:
        Q_EMIT fullScreenRequested(!m_window->isFullScreen());
        return true;
    case Qt::Key_Escape:
        if (!m_window->isFullScreen())
            return false;
        Q_EMIT fullScreenRequested(false);
        return true;
    case Qt::Key_Z:
        Q_EMIT actualPixelsToggleRequested();
        return true;
    case Qt::Key_A:
        Q_EMIT focusAreasToggleRequested();
        return true;
    default:
        return false;
    }
}

bool ViewerKeyHandler::isForWindow(QObject *receiver) const
{
    if (!m_window || QApplication::activeModalWidget() || QApplication::activePopupWidget())
        return false;
    const auto *widget = qobject_cast<QWidget *>(receiver);
    return widget && widget->window() == m_window;
}

bool ViewerKeyHandler::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && isForWindow(watched)) {
        auto *keyEvent = static_cast<QKeyEvent *>(event);
        if (handleWindowKey(*keyEvent) || handleKey(m_state, keyEvent->key(), keyEvent->text())) {
            keyEvent->accept();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
