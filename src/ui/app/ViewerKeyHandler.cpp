#include "app/ViewerKeyHandler.h"

#include "app/DetailArea.h"
#include "state/AppState.h"
#include "state/CompareSession.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

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
    // The state can say "viewer active" while the grid shows (a folder opened
    // from the viewer clears the image); keys follow what is on screen.
    if (DetailArea::pageFor(state) != DetailArea::Page::viewer || state.isSheetPresented())
        return false;
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
    default:
        break;
    }
    static const QString ratingKeys = QStringLiteral("12345");
    if (text.size() != 1 || !ratingKeys.contains(text))
        return false;
    if (const auto &shown = state.selectedImage())
        state.updateRating(text.toInt(), *shown);
    return true;
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
        if (handleKey(m_state, keyEvent->key(), keyEvent->text())) {
            keyEvent->accept();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
