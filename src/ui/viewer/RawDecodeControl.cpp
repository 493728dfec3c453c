#include "viewer/RawDecodeControl.h"

#include "common/BusyIndicator.h"
#include "common/Symbols.h"
#include "viewer/ViewerButtonStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace {
const QColor decodedGreen(52, 199, 89);
} // namespace

RawDecodeControl::RawDecodeControl(QWidget *parent)
    : QWidget(parent)
    , m_button(
          new QPushButton(Symbols::icon(Symbols::Symbol::Wand, Qt::white,
                                        ViewerButtonStyle::glyphSize(Theme::TextStyle::caption)),
                          QStringLiteral("解码 RAW"), this))
    , m_capsule(new QWidget(this))
    , m_spinner(new BusyIndicator(14, m_capsule))
    , m_checkmark(new QLabel(m_capsule))
    , m_capsuleText(new QLabel(m_capsule))
{
    setAttribute(Qt::WA_TranslucentBackground);
    ViewerButtonStyle::applyProminentSmall(m_button);
    connect(m_button, &QPushButton::clicked, this, &RawDecodeControl::decodeRequested);

    m_capsuleText->setFont(Theme::font(Theme::TextStyle::caption));
    const int glyph = ViewerButtonStyle::glyphSize(Theme::TextStyle::caption);
    m_checkmark->setPixmap(Symbols::icon(Symbols::Symbol::CheckmarkCircleFill, decodedGreen, glyph)
                               .pixmap(glyph, glyph));

    auto *capsuleRow = new QHBoxLayout(m_capsule);
    capsuleRow->setContentsMargins(12, 6, 12, 6);
    capsuleRow->setSpacing(8);
    capsuleRow->addWidget(m_spinner);
    capsuleRow->addWidget(m_checkmark);
    capsuleRow->addWidget(m_capsuleText);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_button);
    row->addWidget(m_capsule);
    setForm(Form::decodeButton);
}

void RawDecodeControl::setForm(Form form)
{
    m_form = form;
    m_button->setVisible(form == Form::decodeButton);
    m_capsule->setVisible(form != Form::decodeButton);
    m_spinner->setVisible(form == Form::decoding);
    m_checkmark->setVisible(form == Form::decoded);
    if (form == Form::decoding) {
        m_capsuleText->setText(QStringLiteral("正在解码 RAW..."));
        m_capsuleText->setStyleSheet(QStringLiteral("color: white;"));
    } else if (form == Form::decoded) {
        m_capsuleText->setText(QStringLiteral("RAW 已解码"));
        m_capsuleText->setStyleSheet(QStringLiteral("color: rgb(52, 199, 89);"));
    }
    // Resize now, not at the next layout pass: the viewer places the row
    // holding this control right after a change of form.
    m_capsule->layout()->activate();
    layout()->activate();
    adjustSize();
    update();
}

void RawDecodeControl::paintEvent(QPaintEvent *)
{
    if (m_form == Form::decodeButton)
        return;
    // The capsule: a translucent, fully rounded plate behind spinner and text.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF plate = QRectF(m_capsule->geometry()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QColor(255, 255, 255, 40));
    painter.setBrush(QColor(40, 40, 40, 200));
    painter.drawRoundedRect(plate, plate.height() / 2, plate.height() / 2);
}
