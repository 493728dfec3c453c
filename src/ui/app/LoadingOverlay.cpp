#include "app/LoadingOverlay.h"

#include "common/BusyIndicator.h"
#include "common/Theme.h"
#include "state/AppState.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int panelPadding = 32;
constexpr int panelSpacing = 16;
constexpr int panelRadius = 16;
constexpr int spinnerSize = 32;
constexpr int spokeCount = BusyIndicator::spokeCount;
} // namespace

LoadingOverlay::LoadingOverlay(AppState &state, QWidget *parent)
    : OverlayWidget(parent)
    , m_state(state)
{
    setFont(Theme::font(Theme::TextStyle::headline));
    setFocusPolicy(Qt::StrongFocus);
    m_spin.setStartValue(0);
    m_spin.setEndValue(spokeCount);
    m_spin.setDuration(1000);
    m_spin.setLoopCount(-1);
    connect(&m_spin, &QVariantAnimation::valueChanged, this, [this] { QWidget::update(); });

    connect(&m_state, &AppState::loadingChanged, this, &LoadingOverlay::refresh);
    connect(&m_state, &AppState::statusMessageChanged, this, &LoadingOverlay::refresh);
    refresh();
}

void LoadingOverlay::refresh()
{
    m_message = m_state.statusMessage();
    updatePlacement();
    // The window fixed the stacking once (the toast lies above this); raising
    // here would bury the toast under the dimming.
    setVisible(m_state.isLoading());
    QWidget::update();
}

QRect LoadingOverlay::placementIn(const QRect &parentRect) const
{
    return parentRect;
}

QRect LoadingOverlay::panelRect() const
{
    const QFontMetrics metrics(font());
    const int contentWidth = std::max(spinnerSize, metrics.horizontalAdvance(m_message) + 4);
    const int contentHeight = spinnerSize + panelSpacing + metrics.height();
    const QSize size(contentWidth + 2 * panelPadding, contentHeight + 2 * panelPadding);
    return {rect().center().x() - size.width() / 2 + 1, rect().center().y() - size.height() / 2 + 1,
            size.width(), size.height()};
}

void LoadingOverlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), QColor(0, 0, 0, 77));

    const QRect panel = panelRect();
    QPainterPath shape;
    shape.addRoundedRect(QRectF(panel), panelRadius, panelRadius);
    // Ultra-thick material: a nearly opaque light fill.
    painter.fillPath(shape, QColor(248, 248, 250, 240));
    painter.setPen(QPen(QColor(0, 0, 0, 20), 1));
    painter.drawPath(shape);

    const QRectF spinner(panel.center().x() - spinnerSize / 2.0 + 0.5, panel.top() + panelPadding,
                         spinnerSize, spinnerSize);
    BusyIndicator::paintSpokes(painter, spinner, m_spin.currentValue().toInt() % spokeCount,
                               Theme::primaryText());

    const QRect textRect(panel.left(), int(spinner.bottom()) + panelSpacing, panel.width(),
                         fontMetrics().height());
    painter.setPen(Theme::primaryText());
    painter.setFont(font());
    painter.drawText(textRect, Qt::AlignCenter, m_message);
}

void LoadingOverlay::showEvent(QShowEvent *event)
{
    OverlayWidget::showEvent(event);
    m_spin.start();
    // Keys must not reach the tree or the grid beneath either.
    m_focusBefore = QApplication::focusWidget();
    setFocus(Qt::OtherFocusReason);
}

void LoadingOverlay::hideEvent(QHideEvent *event)
{
    OverlayWidget::hideEvent(event);
    m_spin.stop();
    if (m_focusBefore && hasFocus())
        m_focusBefore->setFocus(Qt::OtherFocusReason);
    m_focusBefore.clear();
}

void LoadingOverlay::mousePressEvent(QMouseEvent *event)
{
    event->accept();
}

void LoadingOverlay::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}

void LoadingOverlay::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
}

void LoadingOverlay::wheelEvent(QWheelEvent *event)
{
    event->accept();
}
