#include "viewer/ViewerStatusBar.h"

#include "common/CullingMarkBadge.h"
#include "common/StarRatingView.h"
#include "common/Symbols.h"
#include "common/Theme.h"
#include "viewer/ElidedLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QToolButton>

namespace {

constexpr int starSize = 12;
constexpr int maxRating = 5;
constexpr int starLeadingSpace = 8;

constexpr int buttonGlyph = 14;

QFont captionFont()
{
    return Theme::font(Theme::TextStyle::caption);
}

// A small white symbol, lit while checked.
QToolButton *makeBarButton(Symbols::Symbol symbol, const QString &toolTip, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setIcon(Symbols::icon(symbol, QColor(255, 255, 255, 204), buttonGlyph));
    button->setIconSize(QSize(buttonGlyph, buttonGlyph));
    button->setToolTip(toolTip);
    button->setCheckable(true);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral(
        "QToolButton { border: none; border-radius: 4px; padding: 2px; background: transparent; }"
        "QToolButton:hover { background: rgba(255, 255, 255, 30); }"
        "QToolButton:checked { background: rgba(255, 255, 255, 64); }"));
    return button;
}

} // namespace

ViewerStatusBar::ViewerStatusBar(QWidget *parent)
    : QWidget(parent)
    , m_filename(new ElidedLabel(this))
    , m_stars(new StarRatingView(0, maxRating, starSize, this))
    , m_markView(new QLabel(this))
    , m_position(new QLabel(this))
    , m_rawBadge(new QLabel(QStringLiteral("RAW"), this))
    , m_focusAreasButton(
          makeBarButton(Symbols::Symbol::Viewfinder, QStringLiteral("对焦点 (A)"), this))
    , m_fullScreenButton(
          makeBarButton(Symbols::Symbol::FullScreen, QStringLiteral("全屏 (F)"), this))
{
    m_stars->setInteractive(true);
    connect(m_stars, &StarRatingView::rateRequested, this, &ViewerStatusBar::ratingChosen);
    // The owner checks the buttons when the state really changes.
    for (QToolButton *button : {m_focusAreasButton, m_fullScreenButton})
        connect(button, &QToolButton::clicked, button, [button] { button->toggle(); });
    connect(m_focusAreasButton, &QToolButton::clicked, this,
            &ViewerStatusBar::focusAreasToggleRequested);
    connect(m_fullScreenButton, &QToolButton::clicked, this,
            &ViewerStatusBar::fullScreenToggleRequested);
    setAttribute(Qt::WA_TranslucentBackground);
    setFont(captionFont());
    const QString text = QStringLiteral("color: rgba(255, 255, 255, 204);");
    m_filename->setStyleSheet(text);
    m_position->setStyleSheet(text);
    m_rawBadge->setStyleSheet(text + QStringLiteral("background: rgba(0, 122, 255, 77);"
                                                    "border-radius: 4px; padding: 2px 6px;"));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 8, 16, 8);
    row->setSpacing(0);
    // The name gives up width first (elided in the middle), so the stars,
    // the position and the badge always show.
    row->addWidget(m_filename, 0);
    row->addSpacing(starLeadingSpace);
    row->addWidget(m_stars);
    row->addWidget(m_markView);
    m_markView->hide();
    row->addStretch(1);
    row->addWidget(m_focusAreasButton);
    row->addSpacing(4);
    row->addWidget(m_fullScreenButton);
    row->addSpacing(12);
    row->addWidget(m_position);
    row->addSpacing(8);
    row->addWidget(m_rawBadge);
    m_rawBadge->hide();
}

void ViewerStatusBar::setFile(const QString &filename, bool isRAW)
{
    m_filename->setText(filename);
    m_rawBadge->setVisible(isRAW);
    m_filename->updateGeometry();
    layout()->activate(); // the new name is laid out before the next paint
}

void ViewerStatusBar::setRating(int rating)
{
    m_stars->setRating(rating);
}

void ViewerStatusBar::setMark(const CullingMark &mark)
{
    if (mark == m_mark)
        return;
    m_mark = mark;
    m_markView->setVisible(!mark.isEmpty());
    if (!mark.isEmpty())
        m_markView->setPixmap(CullingMarkBadge::pixmap(mark, starSize, devicePixelRatioF()));
}

void ViewerStatusBar::setPosition(int index, qsizetype count)
{
    m_position->setText(
        QString::asprintf("第 %lld / %lld 张", qlonglong(index) + 1, qlonglong(count)));
}

QString ViewerStatusBar::filenameText() const
{
    return m_filename->text();
}

QString ViewerStatusBar::shownFilenameText() const
{
    return m_filename->shownText();
}

QRect ViewerStatusBar::positionGeometry() const
{
    return m_position->geometry();
}

QRect ViewerStatusBar::rawBadgeGeometry() const
{
    return m_rawBadge->geometry();
}

QString ViewerStatusBar::positionText() const
{
    return m_position->text();
}

bool ViewerStatusBar::isRawBadgeShown() const
{
    return !m_rawBadge->isHidden();
}

int ViewerStatusBar::shownRating() const
{
    return m_stars->rating();
}

void ViewerStatusBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, 153));
}
