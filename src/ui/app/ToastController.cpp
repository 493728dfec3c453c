#include "app/ToastController.h"

#include "app/ToastView.h"
#include "state/AppState.h"

#include <QEvent>
#include <QPropertyAnimation>

ToastController::ToastController(AppState &state, ToastView *view)
    : QObject(view)
    , m_state(state)
    , m_view(view)
    , m_move(new QPropertyAnimation(view, "pos", &m_animation))
    , m_fade(new QPropertyAnimation(view, "opacity", &m_animation))
{
    m_dismissTimer.setSingleShot(true);
    m_dismissTimer.setTimerType(Qt::PreciseTimer); // never early: the toast gets its full time
    m_dismissTimer.setInterval(dismissDelayMs);
    connect(&m_dismissTimer, &QTimer::timeout, this, &ToastController::dismissIfStillShown);

    for (QPropertyAnimation *animation : {m_move, m_fade}) {
        animation->setDuration(animationMs);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        m_animation.addAnimation(animation);
    }
    connect(&m_animation, &QAbstractAnimation::finished, this, [this] {
        if (!m_presented)
            m_view->hide();
    });

    m_view->hide();
    if (QWidget *host = m_view->parentWidget())
        host->installEventFilter(this);
    connect(&m_state, &AppState::toastMessageChanged, this, &ToastController::onMessageChanged);
    onMessageChanged();
}

void ToastController::setDisplayTime(std::chrono::milliseconds time)
{
    m_dismissTimer.setInterval(time);
}

int ToastController::remainingTime() const
{
    return m_dismissTimer.isActive() ? m_dismissTimer.remainingTime() : -1;
}

void ToastController::onMessageChanged()
{
    const std::optional<QString> &message = m_state.toastMessage();
    if (!message) {
        m_dismissTimer.stop();
        if (m_presented)
            slideOut();
        return;
    }
    m_shownText = *message;
    m_view->setMessage(*message);
    if (m_presented)
        recentre();
    else
        slideIn();
    m_dismissTimer.start(); // a new text always gets its full time
}

void ToastController::recentre()
{
    const QPoint shown = shownPosition();
    // A slide still running would carry the toast to where the old text was centred.
    if (m_animation.state() == QAbstractAnimation::Running) {
        m_move->setStartValue(QPoint(shown.x(), m_move->startValue().toPoint().y()));
        m_move->setEndValue(shown);
    }
    m_view->move(shown.x(), m_view->y());
}

void ToastController::dismissIfStillShown()
{
    if (m_state.toastMessage() == m_shownText)
        m_state.setToastMessage(std::nullopt);
}

void ToastController::slideIn()
{
    m_presented = true;
    m_animation.stop();
    m_move->setStartValue(hiddenPosition());
    m_move->setEndValue(shownPosition());
    m_fade->setStartValue(0.0);
    m_fade->setEndValue(1.0);
    m_view->move(hiddenPosition());
    m_view->setOpacity(0.0);
    m_view->show();
    m_view->raise();
    m_animation.start();
}

void ToastController::slideOut()
{
    m_presented = false;
    m_animation.stop();
    m_move->setStartValue(m_view->pos());
    m_move->setEndValue(hiddenPosition());
    m_fade->setStartValue(m_view->opacity());
    m_fade->setEndValue(0.0);
    m_animation.start();
}

QPoint ToastController::shownPosition() const
{
    const QWidget *host = m_view->parentWidget();
    const int hostWidth = host ? host->width() : m_view->width();
    return {(hostWidth - m_view->width()) / 2, topOffset - ToastView::topShadowMargin()};
}

QPoint ToastController::hiddenPosition() const
{
    return {shownPosition().x(), -m_view->height()};
}

bool ToastController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view->parentWidget() && event->type() == QEvent::Resize && m_presented &&
        m_animation.state() != QAbstractAnimation::Running)
        m_view->move(shownPosition());
    return QObject::eventFilter(watched, event);
}
