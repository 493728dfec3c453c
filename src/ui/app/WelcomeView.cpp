#include "app/WelcomeView.h"

#include "common/Theme.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSvgRenderer>
#include <QVBoxLayout>

namespace {

constexpr int logoSize = 120;
constexpr int logoRadius = 24;
// Shadow: black at 15 %, blur radius 10, offset (0, 4); the widget is larger
// than the logo by this margin on every side so the shadow is not cut off.
constexpr int shadowBlur = 10;
constexpr int shadowOffsetY = 4;
constexpr int shadowMargin = shadowBlur + shadowOffsetY;
constexpr int stackSpacing = 20;

// The "AppLogo" resource fitted into 120 x 120, clipped to a rounded square.
class LogoBadge : public QWidget
{
public:
    explicit LogoBadge(QWidget *parent)
        : QWidget(parent)
        , m_renderer(QStringLiteral(":/AppLogo.svg"), this)
    {
        setFixedSize(logoSize + 2 * shadowMargin, logoSize + 2 * shadowMargin);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF logo(shadowMargin, shadowMargin, logoSize, logoSize);

        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, qRound(0.15 * 255 / shadowBlur * 1.1)));
        const QRectF shadow = logo.translated(0, shadowOffsetY);
        for (int spread = shadowBlur; spread >= 1; --spread)
            painter.drawRoundedRect(shadow.adjusted(-spread, -spread, spread, spread),
                                    logoRadius + spread, logoRadius + spread);

        QPainterPath clip;
        clip.addRoundedRect(logo, logoRadius, logoRadius);
        painter.setClipPath(clip);
        // Fit: keep the picture's aspect ratio inside the square.
        QSizeF picture = m_renderer.defaultSize();
        picture.scale(logo.size(), Qt::KeepAspectRatio);
        const QRectF target(logo.center() - QPointF(picture.width(), picture.height()) / 2,
                            picture);
        m_renderer.render(&painter, target);
    }

private:
    QSvgRenderer m_renderer;
};

} // namespace

WelcomeView::WelcomeView(QWidget *parent)
    : QWidget(parent)
    , m_importButton(new QPushButton(QStringLiteral("导入文件夹"), this))
{
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, Theme::contentBackground());
    setPalette(background);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    layout->addStretch(1);

    auto *logo = new LogoBadge(this);
    layout->addWidget(logo, 0, Qt::AlignHCenter);
    layout->addSpacing(stackSpacing - shadowMargin);

    auto *title = new QLabel(QStringLiteral("Kelvane"), this);
    title->setFont(Theme::font(Theme::TextStyle::largeTitle, QFont::Bold));
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);
    layout->addSpacing(stackSpacing);

    auto *subtitle = new QLabel(QStringLiteral("导入文件夹，开始浏览和管理你的照片"), this);
    subtitle->setFont(Theme::font(Theme::TextStyle::body));
    subtitle->setAlignment(Qt::AlignCenter);
    QPalette palette = subtitle->palette();
    palette.setColor(QPalette::WindowText, Theme::secondaryText());
    subtitle->setPalette(palette);
    layout->addWidget(subtitle);
    layout->addSpacing(stackSpacing + 4);

    m_importButton->setObjectName(QStringLiteral("importButton"));
    m_importButton->setCursor(Qt::PointingHandCursor);
    m_importButton->setFont(Theme::font(Theme::TextStyle::body, QFont::Medium));
    const QColor accent = Theme::accent();
    m_importButton->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: white; border: none;"
                       " border-radius: 8px; padding: 9px 22px; }"
                       "QPushButton:hover { background: %2; }"
                       "QPushButton:pressed { background: %3; }")
            .arg(accent.name(), accent.lighter(110).name(), accent.darker(115).name()));
    layout->addWidget(m_importButton, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    connect(m_importButton, &QPushButton::clicked, this, &WelcomeView::importRequested);
}
