#include "editor/PreviewPane.h"

#include "common/BusyIndicator.h"
#include "editor/EditorStyle.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

PreviewPane::PreviewPane(QWidget *parent)
    : QWidget(parent)
    , m_overlay(new QWidget(this))
{
    setMinimumWidth(400);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    m_fadeAnimation.setDuration(150);
    m_fadeAnimation.setEasingCurve(QEasingCurve::InOutQuad);
    m_fadeAnimation.setStartValue(0.0);
    m_fadeAnimation.setEndValue(1.0);
    connect(&m_fadeAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &v) {
        m_fade = v.toReal();
        update();
    });
    connect(&m_fadeAnimation, &QVariantAnimation::finished, this, [this] { m_previous = {}; });

    // A translucent veil over the pane, like frosted glass, with the spinner.
    m_overlay->setObjectName(QStringLiteral("loadingOverlay"));
    m_overlay->setAttribute(Qt::WA_StyledBackground);
    m_overlay->setStyleSheet(QStringLiteral("#loadingOverlay{background:rgba(246,246,248,190);}"));
    auto *column = new QVBoxLayout(m_overlay);
    column->setSpacing(12);
    column->addStretch();
    auto *spinner = new BusyIndicator(32, m_overlay);
    spinner->setColor(QColor(0x6e, 0x6e, 0x73));
    column->addWidget(spinner, 0, Qt::AlignHCenter);
    QLabel *text = EditorStyle::secondaryLabel(QStringLiteral("正在生成预览..."), m_overlay);
    text->setFont(EditorStyle::caption());
    column->addWidget(text, 0, Qt::AlignHCenter);
    column->addStretch();
}

void PreviewPane::setPreviewImage(const QImage &image)
{
    m_previous = m_current.isNull() ? QImage() : m_current;
    m_current = image;
    m_fadeAnimation.stop();
    m_fade = 0.0;
    m_fadeAnimation.start();
    update();
}

void PreviewPane::setLoading(bool loading)
{
    m_overlay->setVisible(loading);
}

bool PreviewPane::isLoading() const
{
    return m_overlay->isVisibleTo(this);
}

QSize PreviewPane::imageBound() const
{
    const qreal ratio = devicePixelRatioF();
    const QSize inner = size().shrunkBy({padding, padding, padding, padding});
    // Rounded up to 256 pixels so a small resize keeps the cached scaled source.
    const auto roundUp = [](int v) { return std::max(512, (v + 255) / 256 * 256); };
    return {roundUp(int(inner.width() * ratio)), roundUp(int(inner.height() * ratio))};
}

QRectF PreviewPane::fittedRect(const QImage &image) const
{
    const QRectF area = QRectF(rect()).adjusted(padding, padding, -padding, -padding);
    if (image.isNull() || area.isEmpty())
        return {};
    QSizeF size = QSizeF(image.size()) / image.devicePixelRatio();
    size.scale(area.size(), Qt::KeepAspectRatio);
    return {area.center().x() - size.width() / 2, area.center().y() - size.height() / 2,
            size.width(), size.height()};
}

void PreviewPane::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QColor ground(128, 128, 128);
    ground.setAlphaF(0.10);
    painter.fillRect(rect(), ground);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!m_previous.isNull() && m_fade < 1.0) {
        painter.setOpacity(1.0 - m_fade);
        painter.drawImage(fittedRect(m_previous), m_previous);
    }
    if (!m_current.isNull()) {
        painter.setOpacity(m_fade);
        painter.drawImage(fittedRect(m_current), m_current);
    }
}

void PreviewPane::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_overlay->setGeometry(rect());
    Q_EMIT imageBoundChanged(imageBound());
}
