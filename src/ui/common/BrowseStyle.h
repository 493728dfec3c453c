#pragma once

#include "model/CullingMark.h"
#include "model/ImageItem.h"

#include <QColor>
#include <QFont>
#include <QPalette>

// Colours and text styles shared by the browsing screens. Sizes are logical
// pixels, matching the point sizes of the design (one point, one pixel).
namespace BrowseStyle {

// The accent colour: the palette's highlight, which is the desktop's accent.
inline QColor accent(const QPalette &palette)
{
    return palette.color(QPalette::Highlight);
}

inline QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

// Text colours at the secondary and tertiary foreground levels.
inline QColor secondaryText(const QPalette &palette)
{
    return withAlpha(palette.color(QPalette::WindowText), 0.55);
}
inline QColor tertiaryText(const QPalette &palette)
{
    return withAlpha(palette.color(QPalette::WindowText), 0.26);
}
// The quaternary fill behind a tile that has no picture.
inline QColor quaternaryFill(const QPalette &palette)
{
    return withAlpha(palette.color(QPalette::WindowText), 0.06);
}

inline QColor starYellow()
{
    return QColor(0xff, 0xcc, 0x00);
}

inline QFont sized(QFont font, int pixels, QFont::Weight weight = QFont::Normal)
{
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}
inline QFont callout(const QFont &base = QFont())
{
    return sized(base, 13);
}
inline QFont headline(const QFont &base = QFont())
{
    return sized(base, 14, QFont::DemiBold);
}
inline QFont caption2(const QFont &base = QFont())
{
    return sized(base, 11);
}

inline QColor formatBadgeColor(ImageItem::FormatCategory category)
{
    switch (category) {
    case ImageItem::FormatCategory::raw:
        return QColor(0xff, 0x95, 0x00); // orange
    case ImageItem::FormatCategory::jpeg:
        return QColor(0x00, 0x7a, 0xff); // blue
    case ImageItem::FormatCategory::png:
        return QColor(0x28, 0xcd, 0x41); // green
    case ImageItem::FormatCategory::heic:
        return QColor(0xaf, 0x52, 0xde); // purple
    case ImageItem::FormatCategory::gif:
        return QColor(0xff, 0x2d, 0x55); // pink
    case ImageItem::FormatCategory::tiff:
        return QColor(0x30, 0xb0, 0xc7); // teal
    case ImageItem::FormatCategory::other:
        break;
    }
    return QColor(0x8e, 0x8e, 0x93); // gray
}

// The dot of a colour label; invalid for none.
inline QColor labelColor(ColourLabel label)
{
    switch (label) {
    case ColourLabel::red:
        return QColor(0xff, 0x3b, 0x30);
    case ColourLabel::yellow:
        return QColor(0xff, 0xcc, 0x00);
    case ColourLabel::green:
        return QColor(0x34, 0xc7, 0x59);
    case ColourLabel::blue:
        return QColor(0x00, 0x7a, 0xff);
    case ColourLabel::purple:
        return QColor(0xaf, 0x52, 0xde);
    case ColourLabel::none:
        break;
    }
    return QColor();
}

} // namespace BrowseStyle

#include <QLabel>
#include <QPushButton>

namespace BrowseStyle {

// The prominent bordered button: filled with the accent colour, white label.
inline void makeProminent(QPushButton *button)
{
    const QColor tint = accent(button->palette());
    button->setStyleSheet(
        QStringLiteral(
            "QPushButton { background: %1; color: white; border: none; border-radius: 6px;"
            " padding: 4px 12px; }"
            " QPushButton:pressed { background: %2; }"
            " QPushButton:disabled { background: %3; }")
            .arg(tint.name(), tint.darker(115).name(), withAlpha(tint, 0.4).name(QColor::HexArgb)));
}

// The bordered button: a light rounded face with a hairline outline.
inline void makeBordered(QPushButton *button)
{
    button->setStyleSheet(QStringLiteral(
        "QPushButton { background: palette(button); color: palette(button-text);"
        " border: 1px solid rgba(128,128,128,0.35); border-radius: 6px; padding: 4px 12px; }"
        " QPushButton:pressed { background: rgba(128,128,128,0.2); }"
        " QPushButton:disabled { color: rgba(128,128,128,0.6); }"));
}

// A borderless text button in the accent colour.
inline void makeBorderless(QPushButton *button)
{
    const QColor tint = accent(button->palette());
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(
        QStringLiteral("QPushButton { color: %1; border: none; padding: 2px 2px; }"
                       " QPushButton:pressed { color: %2; }")
            .arg(tint.name(), tint.darker(130).name()));
}

// A caption or count beside the filter bars' buttons: callout size, secondary text.
inline QLabel *secondaryLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setFont(callout(label->font()));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, secondaryText(palette));
    label->setPalette(palette);
    return label;
}

} // namespace BrowseStyle
