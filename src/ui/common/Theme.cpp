#include "common/Theme.h"

#include <QApplication>
#include <QHash>
#include <QPainter>
#include <QPalette>
#include <QStyleFactory>
#include <QSvgRenderer>

namespace Theme {

namespace {

// Latin text uses the first family; Chinese falls back to the CJK faces
// (fonts-noto-cjk), which also carry Latin glyphs when the first is missing.
const QStringList &fontFamilies()
{
    static const QStringList families{
        QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans CJK JP"),
        QStringLiteral("Droid Sans Fallback"), QStringLiteral("DejaVu Sans")};
    return families;
}

int pixelSize(TextStyle style)
{
    switch (style) {
    case TextStyle::caption:
        return 12;
    case TextStyle::callout:
        return 13;
    case TextStyle::body:
        return 14;
    case TextStyle::headline:
        return 15;
    case TextStyle::title3:
        return 17;
    case TextStyle::title2:
        return 20;
    case TextStyle::largeTitle:
        return 30;
    }
    return 14;
}

QFont::Weight defaultWeight(TextStyle style)
{
    return style == TextStyle::headline ? QFont::DemiBold : QFont::Normal;
}

QPalette lightPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(0xF6, 0xF6, 0xF8));
    palette.setColor(QPalette::WindowText, primaryText());
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::AlternateBase, QColor(0xF4, 0xF5, 0xF7));
    palette.setColor(QPalette::Text, primaryText());
    palette.setColor(QPalette::Button, QColor(0xFB, 0xFB, 0xFC));
    palette.setColor(QPalette::ButtonText, primaryText());
    palette.setColor(QPalette::Highlight, accent());
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, Qt::white);
    palette.setColor(QPalette::ToolTipText, primaryText());
    palette.setColor(QPalette::PlaceholderText, tertiaryText());
    palette.setColor(QPalette::Link, accent());
    palette.setColor(QPalette::Disabled, QPalette::WindowText, tertiaryText());
    palette.setColor(QPalette::Disabled, QPalette::Text, tertiaryText());
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, tertiaryText());
    return palette;
}

} // namespace

void applyToApplication(QApplication &app)
{
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    QApplication::setPalette(lightPalette());
    QFont base = font(TextStyle::body);
    QApplication::setFont(base);
    // Widgets that pick a family by name (style sheets, rich text) still reach a CJK face.
    for (const QString &family : fontFamilies())
        QFont::insertSubstitutions(family, fontFamilies());
    Q_UNUSED(app);
}

QFont font(TextStyle style)
{
    return font(style, defaultWeight(style));
}

QFont font(TextStyle style, QFont::Weight weight)
{
    QFont result;
    result.setFamilies(fontFamilies());
    result.setPixelSize(pixelSize(style));
    result.setWeight(weight);
    return result;
}

QColor accent()
{
    return QColor(0x0A, 0x7A, 0xFF);
}

QColor primaryText()
{
    return QColor(0x1D, 0x1D, 0x1F);
}

QColor secondaryText()
{
    return QColor(0, 0, 0, 128);
}

QColor tertiaryText()
{
    return QColor(0, 0, 0, 66);
}

QColor sidebarBackground()
{
    return QColor(0xF2, 0xF2, 0xF5);
}

QColor contentBackground()
{
    return Qt::white;
}

QColor separator()
{
    return QColor(0, 0, 0, 26);
}

QPixmap symbol(const QString &name, const QColor &color, int size, qreal devicePixelRatio)
{
    static QHash<QString, QPixmap> cache;
    const QString key = QStringLiteral("%1|%2|%3|%4")
                            .arg(name, color.name(QColor::HexArgb))
                            .arg(size)
                            .arg(devicePixelRatio);
    if (const auto found = cache.constFind(key); found != cache.cend())
        return *found;

    QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(name));
    if (!renderer.isValid())
        return {};
    const int pixels = qRound(size * devicePixelRatio);
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, pixels, pixels));
        // The SVGs are drawn in black; keep their shape, take the wanted colour.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    cache.insert(key, pixmap);
    return pixmap;
}

QIcon symbolIcon(const QString &name, const QColor &color, int size)
{
    QIcon icon;
    icon.addPixmap(symbol(name, color, size, 1.0));
    icon.addPixmap(symbol(name, color, size, 2.0));
    return icon;
}

} // namespace Theme
