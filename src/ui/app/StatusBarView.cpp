#include "app/StatusBarView.h"

#include "common/Theme.h"
#include "state/AppState.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int horizontalPadding = 12;
constexpr int verticalPadding = 4;
constexpr int bottomSpacing = 8;
constexpr int linkSpacing = 10;
const QString includeSubfoldersLink = QStringLiteral("包含子文件夹");
} // namespace

StatusBarView::StatusBarView(AppState &state, QWidget *parent)
    : OverlayWidget(parent)
    , m_state(state)
{
    setFont(Theme::font(Theme::TextStyle::caption));
    setAttribute(Qt::WA_TranslucentBackground);
    connect(&m_state, &AppState::statusMessageChanged, this, &StatusBarView::refresh);
    connect(&m_state, &AppState::loadingChanged, this, &StatusBarView::refresh);
    refresh();
}

bool StatusBarView::shouldShow(const AppState &state)
{
    return !state.statusMessage().isEmpty() && !state.isLoading();
}

bool StatusBarView::offersSubfolders() const
{
    const qsizetype below = m_state.imagesOnlyInSubfolders();
    return below > 0 && m_message == AppState::subfolderImagesText(below) &&
           m_state.currentFolder();
}

int StatusBarView::linkWidth() const
{
    return offersSubfolders()
               ? linkSpacing + QFontMetrics(font()).horizontalAdvance(includeSubfoldersLink)
               : 0;
}

QRect StatusBarView::linkRect() const
{
    const int width = linkWidth();
    if (width == 0)
        return {};
    const int linkOnly = width - linkSpacing;
    return {this->width() - horizontalPadding - linkOnly, 0, linkOnly, height()};
}

void StatusBarView::refresh()
{
    m_message = m_state.statusMessage();
    setCursor(offersSubfolders() ? Qt::PointingHandCursor : Qt::ArrowCursor);
    updatePlacement();
    setVisible(!m_suppressed && shouldShow(m_state));
    QWidget::update();
}

void StatusBarView::setSuppressed(bool suppressed)
{
    m_suppressed = suppressed;
    refresh();
}

QSize StatusBarView::sizeHint() const
{
    const QFontMetrics metrics(font());
    // A little slack: the advance of mixed Latin and CJK fallback glyphs can
    // round below what drawing needs, which would elide the text.
    return {metrics.horizontalAdvance(m_message) + 4 + 2 * horizontalPadding + linkWidth(),
            metrics.height() + 2 * verticalPadding};
}

void StatusBarView::setBottomInset(int pixels)
{
    if (m_bottomInset == pixels)
        return;
    m_bottomInset = pixels;
    updatePlacement();
}

int StatusBarView::footprint() const
{
    return QFontMetrics(font()).height() + 2 * verticalPadding + 2 * bottomSpacing;
}

QRect StatusBarView::placementIn(const QRect &parentRect) const
{
    QSize size = sizeHint();
    size.setWidth(std::min(size.width(), parentRect.width() - 16));
    return {parentRect.center().x() - size.width() / 2 + 1,
            parentRect.bottom() + 1 - m_bottomInset - bottomSpacing - size.height(), size.width(),
            size.height()};
}

void StatusBarView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF capsule = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = capsule.height() / 2;
    // Ultra-thin material: a faint, mostly see-through light fill with a hairline.
    painter.setPen(QPen(QColor(0, 0, 0, 22), 1));
    painter.setBrush(QColor(246, 246, 248, 200));
    painter.drawRoundedRect(capsule, radius, radius);
    painter.setPen(Theme::primaryText());
    const QRect textRect =
        rect().adjusted(horizontalPadding - 2, 0, -horizontalPadding + 2 - linkWidth(), 0);
    painter.drawText(textRect, Qt::AlignCenter,
                     fontMetrics().elidedText(m_message, Qt::ElideMiddle, textRect.width()));
    const QRect link = linkRect();
    if (link.isEmpty())
        return;
    painter.setPen(Theme::accent());
    painter.drawText(link, Qt::AlignCenter, includeSubfoldersLink);
}

void StatusBarView::mousePressEvent(QMouseEvent *event)
{
    if (!linkRect().contains(event->position().toPoint()) || !offersSubfolders()) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_state.openFolder(m_state.currentFolder()->url, true);
}
