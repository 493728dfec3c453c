#pragma once

#include <QObject>
#include <QPointer>

class AppState;
class ImageItem;
class QKeyEvent;
class QWidget;

// The window's keys for the viewer: Right and Left step through the filtered
// images, Escape leaves the viewer, 1 to 5 rate the shown image (the same
// digit again clears it) and 0 clears its rating; P, X and U pick, reject and
// clear its flag, 6 to 9 toggle its colour label (AppState::markByKey); with
// the setting on, a rating, flag or label by key steps on to the next image. C opens compare on the
// shown image; while compare shows, its own keys apply (CompareSession::handleKey). Z, A, F and F11
// ask the window for the loupe, the focus areas and full screen; in full screen Escape leaves it
// before it leaves the screen. Nothing is handled while the grid shows or a sheet is open.
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

Q_SIGNALS:
    // Z: fitted <-> one picture pixel per screen pixel.
    void actualPixelsToggleRequested();
    // A: draw the focus areas over the picture, or stop.
    void focusAreasToggleRequested();
    void fullScreenRequested(bool fullScreen);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool isForWindow(QObject *receiver) const;
    // The keys that act on the window or the page's widgets, not the state.
    bool handleWindowKey(const QKeyEvent &event);

    AppState &m_state;
    QPointer<QWidget> m_window;
};
