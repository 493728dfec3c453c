#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>

// Type sizes and colours shared by the export editor's panes, relative to the
// application font so the editor follows the desktop's font size.
namespace EditorStyle {

// The application font scaled by `factor` and grown by `extra`, in the unit
// it is sized in: the program's own font has a pixel size and no point size.
inline QFont resized(qreal factor, qreal extra = 0)
{
    QFont font;
    if (font.pixelSize() > 0)
        font.setPixelSize(qMax(1, qRound(font.pixelSize() * factor + extra)));
    else
        font.setPointSizeF(font.pointSizeF() * factor + extra);
    return font;
}

inline QFont headline()
{
    QFont font = resized(1, 2);
    font.setWeight(QFont::DemiBold);
    return font;
}

inline QFont callout()
{
    return resized(0.95);
}

inline QFont calloutMedium()
{
    QFont font = callout();
    font.setWeight(QFont::Medium);
    return font;
}

inline QFont caption()
{
    return resized(0.85);
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
