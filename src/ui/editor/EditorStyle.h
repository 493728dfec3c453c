#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>

// Type sizes and colours shared by the export editor's panes, relative to the
// application font so the editor follows the desktop's font size.
namespace EditorStyle {

// The application font scaled by `factor`, plus `extra` of its own unit: it
// may be sized in pixels (then pointSizeF() is -1) or in points.
inline QFont scaled(qreal factor, qreal extra = 0)
{
    QFont font;
    if (font.pixelSize() > 0)
        font.setPixelSize(qRound(font.pixelSize() * factor + extra));
    else
        font.setPointSizeF(font.pointSizeF() * factor + extra);
    return font;
}

inline QFont headline()
{
    QFont font = scaled(1.0, 2);
    font.setWeight(QFont::DemiBold);
    return font;
}

inline QFont callout()
{
    return scaled(0.95);
}

inline QFont calloutMedium()
{
    QFont font = callout();
    font.setWeight(QFont::Medium);
    return font;
}

inline QFont caption()
{
    return scaled(0.85);
}

inline QColor secondaryText()
{
    return QColor(0x6e, 0x6e, 0x73);
}
inline QColor failureText()
{
    return QColor(0xd7, 0x26, 0x1e);
}
inline QColor successText()
{
    return QColor(0x1f, 0x9d, 0x3a);
}

// A label in callout size and the secondary colour, as every settings row uses.
inline QLabel *secondaryLabel(const QString &text, QWidget *parent = nullptr)
{
    auto *label = new QLabel(text, parent);
    label->setFont(callout());
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, secondaryText());
    label->setPalette(palette);
    return label;
}

} // namespace EditorStyle
