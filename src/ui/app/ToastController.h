#pragma once

#include <QObject>
#include <QParallelAnimationGroup>
#include <QPoint>
#include <QTimer>
#include <chrono>

class AppState;
class QPropertyAnimation;
class ToastView;

// Binds a ToastView to the state's toast message. A text slides in from the
// top edge to 60 px below it while fading in (0.3 s, ease in-out); 2.5 s after a
// new text was shown the message is cleared, unless it changed meanwhile. A
// different text restarts the wait; clearing the message elsewhere hides the
// toast straight away.
class ToastController : public QObject
{
    Q_OBJECT

public:
    static constexpr int dismissDelayMs = 2500;
    static constexpr int animationMs = 300;
    static constexpr int topOffset = 60;

    ToastController(AppState &state, ToastView *view);

    // How long a new text stays before it is cleared (dismissDelayMs unless set);
    // applies from the next text on.
    void setDisplayTime(std::chrono::milliseconds time);
    std::chrono::milliseconds displayTime() const { return m_dismissTimer.intervalAsDuration(); }

    // True from a text's arrival until the message is cleared (the slide-out
    // may still be running).
    bool isPresented() const { return m_presented; }
    // Milliseconds until the shown text is cleared; -1 when no wait runs.
    int remainingTime() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onMessageChanged();
    void dismissIfStillShown();
    void slideIn();
    void recentre();
    void slideOut();
    QPoint shownPosition() const;
    QPoint hiddenPosition() const;

    AppState &m_state;
    ToastView *m_view;
    QTimer m_dismissTimer;
    QString m_shownText;
    bool m_presented = false;
    QParallelAnimationGroup m_animation;
    QPropertyAnimation *m_move;
    QPropertyAnimation *m_fade;
};
