#pragma once

#include <QObject>
#include <QPointer>

class AppState;
class QKeyEvent;
class QWidget;

// The window's keys for the viewer: Right and Left step through the filtered
// images, Escape leaves the viewer, 1 to 5 rate the shown image (the same
// digit again clears it), C opens compare on the shown image. While compare
// shows, its own keys apply (CompareSession::handleKey). Nothing is handled
// while the grid shows or a sheet is open.
//
// Installed on the application, it sees key presses whichever widget of the
// window has focus, but leaves alone keys meant for a modal dialog, a popup
// menu or any other window.
class ViewerKeyHandler : public QObject
{
    Q_OBJECT

public:
    ViewerKeyHandler(AppState &state, QWidget *window);
    ~ViewerKeyHandler() override;

    // The rules themselves; true when the key was handled.
    static bool handleKey(AppState &state, int key, const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool isForWindow(QObject *receiver) const;

    AppState &m_state;
    QPointer<QWidget> m_window;
};
