#include "browse/ArchiveBusyVeil.h"

#include "common/BrowseStyle.h"
#include "common/BusyIndicator.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {
constexpr int kPillPadding = 12;
constexpr int kPillSpacing = 8;
} // namespace

ArchiveBusyVeil::ArchiveBusyVeil(QWidget *covered, QWidget *parent)
    : QWidget(parent)
    , m_covered(covered)
{
    auto *column = new QVBoxLayout(this);
    column->addStretch();
    auto *row = new QHBoxLayout;
    row->addStretch();
    auto *pill = new QWidget(this);
    pill->setObjectName(QStringLiteral("archiveBusyPill"));
    auto *pillLayout = new QHBoxLayout(pill);
    pillLayout->setContentsMargins(kPillPadding, kPillPadding / 2, kPillPadding, kPillPadding / 2);
    pillLayout->setSpacing(kPillSpacing);
    auto *spinner = new BusyIndicator(16, pill);
    spinner->setColor(palette().color(QPalette::WindowText));
    pillLayout->addWidget(spinner);
    m_message = new QLabel(QStringLiteral("正在归档..."), pill);
    m_message->setFont(BrowseStyle::callout());
    pillLayout->addWidget(m_message);
    row->addWidget(pill);
    row->addStretch();
    column->addLayout(row);
    column->addStretch();

    setGeometry(covered->geometry());
    covered->installEventFilter(this);
    hide();
}

QString ArchiveBusyVeil::message() const
{
    return m_message->text();
}

void ArchiveBusyVeil::setMessage(const QString &message)
{
    m_message->setText(message);
}

bool ArchiveBusyVeil::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_covered && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        setGeometry(m_covered->geometry());
    return QWidget::eventFilter(watched, event);
}

void ArchiveBusyVeil::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), BrowseStyle::withAlpha(palette().color(QPalette::Base), 0.6));
    const QWidget *pill = findChild<QWidget *>(QStringLiteral("archiveBusyPill"));
    if (!pill)
        return;
    const QRectF box = QRectF(pill->geometry()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(box, box.height() / 2, box.height() / 2);
    painter.fillPath(shape, palette().color(QPalette::Window));
    painter.setPen(QPen(BrowseStyle::withAlpha(palette().color(QPalette::WindowText), 0.15), 1));
    painter.drawPath(shape);
}

void ArchiveBusyVeil::mousePressEvent(QMouseEvent *event)
{
    event->accept();
}

void ArchiveBusyVeil::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}

void ArchiveBusyVeil::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
}

void ArchiveBusyVeil::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
}

void ArchiveBusyVeil::wheelEvent(QWheelEvent *event)
{
    event->accept();
}
