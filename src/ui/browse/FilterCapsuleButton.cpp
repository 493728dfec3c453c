#include "browse/FilterCapsuleButton.h"

#include "common/BrowseStyle.h"
#include "common/Symbols.h"

#include <QPainter>

namespace {
constexpr int kHorizontalInset = 10;
constexpr int kVerticalInset = 5;
constexpr int kStarSide = 11;
constexpr int kIconSpacing = 4;
} // namespace

FilterCapsuleButton::FilterCapsuleButton(const QString &label, bool withStar, QWidget *parent)
    : QAbstractButton(parent)
    , m_withStar(withStar)
{
    setText(label);
    setFont(BrowseStyle::callout(font()));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void FilterCapsuleButton::setActive(bool active)
{
    if (m_active == active)
        return;
    m_active = active;
    update();
}

QSize FilterCapsuleButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    int width = metrics.horizontalAdvance(text()) + 2 * kHorizontalInset;
    if (m_withStar)
        width += kStarSide + kIconSpacing;
    return QSize(width, metrics.height() + 2 * kVerticalInset);
}

void FilterCapsuleButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor accent = BrowseStyle::accent(palette());
    const QRectF capsule = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = capsule.height() / 2;
    QBrush fill(Qt::NoBrush);
    if (m_active)
        fill = BrowseStyle::withAlpha(accent, 0.2);
    else if (isDown())
        fill = BrowseStyle::quaternaryFill(palette());
    painter.setBrush(fill);
    painter.setPen(QPen(m_active ? accent : BrowseStyle::withAlpha(Qt::gray, 0.3), 1));
    painter.drawRoundedRect(capsule, radius, radius);

    int x = kHorizontalInset;
    if (m_withStar) {
        Symbols::paint(painter, Symbols::Symbol::StarFill,
                       QRectF(x, (height() - kStarSide) / 2.0, kStarSide, kStarSide),
                       BrowseStyle::starYellow());
        x += kStarSide + kIconSpacing;
    }
    painter.setPen(isEnabled() ? palette().color(QPalette::ButtonText)
                               : BrowseStyle::tertiaryText(palette()));
    painter.drawText(QRect(x, 0, width() - x - kHorizontalInset, height()),
                     Qt::AlignLeft | Qt::AlignVCenter, text());
}
