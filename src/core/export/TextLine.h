#pragma once

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QRectF>
#include <QString>

class QPainter;

// One line of text at a fractional pixel size, in the export fonts: "Helvetica
// Neue" where installed, else Liberation Sans, with Noto Sans CJK SC for
// Chinese. The font is laid out at a fixed reference size without hinting and
// scaled, so every metric is exactly proportional to the requested size and
// independent of any device's DPI.
class TextLine
{
public:
    enum class Weight { Regular, Medium };

    TextLine(const QString &text, qreal pixelSize, const QColor &color, Weight weight);

    bool isEmpty() const { return m_text.isEmpty() || m_scale <= 0; }
    const QString &text() const { return m_text; }
    qreal pixelSize() const { return m_pixelSize; }

    // Typographic advance width, ascent and descent in pixels.
    qreal width() const;
    qreal ascent() const;
    qreal descent() const;

    // Ink box of the glyphs in pixels, y-up, relative to the baseline origin.
    QRectF inkBounds() const;

    // Draws with the baseline origin at `baselineOrigin` (QPainter coordinates).
    void draw(QPainter &painter, const QPointF &baselineOrigin) const;

    // The font the line is laid out in, at the reference size.
    const QFont &referenceFont() const { return m_font; }

private:
    QString m_text;
    QFont m_font;
    QColor m_color;
    qreal m_pixelSize;
    qreal m_scale; // pixelSize / reference pixel size
};
