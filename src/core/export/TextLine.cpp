#include "export/TextLine.h"

#include "export/YUpCanvas.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {

// Large enough that glyph outlines keep their precision when scaled down.
constexpr int kReferencePixelSize = 1000;

QFont exportFont(TextLine::Weight weight)
{
    QFont font;
    font.setFamilies({QStringLiteral("Helvetica Neue"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Noto Sans CJK SC")});
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(weight == TextLine::Weight::Medium ? QFont::Medium : QFont::Normal);
    font.setPixelSize(kReferencePixelSize);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setKerning(true);
    return font;
}

} // namespace

TextLine::TextLine(const QString &text, qreal pixelSize, const QColor &color, Weight weight)
    : m_text(text)
    , m_font(exportFont(weight))
    , m_color(color)
    , m_pixelSize(pixelSize)
    , m_scale(std::isfinite(pixelSize) && pixelSize > 0 ? pixelSize / kReferencePixelSize : 0)
{}

qreal TextLine::width() const
{
    if (isEmpty())
        return 0;
    return QFontMetricsF(m_font).horizontalAdvance(m_text) * m_scale;
}

qreal TextLine::ascent() const
{
    return QFontMetricsF(m_font).ascent() * m_scale;
}

qreal TextLine::descent() const
{
    return QFontMetricsF(m_font).descent() * m_scale;
}

QRectF TextLine::inkBounds() const
{
    if (isEmpty())
        return {};
    QPainterPath path;
    path.addText(0, 0, m_font, m_text);
    const QRectF bounds = path.boundingRect();
    return YUpCanvas::yUpBounds(QRectF(bounds.topLeft() * m_scale, bounds.size() * m_scale));
}

void TextLine::draw(QPainter &painter, const QPointF &baselineOrigin) const
{
    if (isEmpty())
        return;
    painter.save();
    painter.translate(baselineOrigin);
    painter.scale(m_scale, m_scale);
    painter.setFont(m_font);
    painter.setPen(m_color);
    painter.drawText(QPointF(0, 0), m_text);
    painter.restore();
}
