#include "viewer/ViewerButtonStyle.h"

#include <QPushButton>

namespace ViewerButtonStyle {

void applyProminentSmall(QPushButton *button)
{
    button->setFont(Theme::font(Theme::TextStyle::caption));
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    const int glyph = glyphSize(Theme::TextStyle::caption);
    button->setIconSize(QSize(glyph, glyph));
    button->setStyleSheet(QStringLiteral(
        "QPushButton { color: white; background: #0a84ff; border: none; border-radius: 5px;"
        " padding: 3px 8px; }"
        "QPushButton:hover { background: #2990ff; }"
        "QPushButton:pressed { background: #0063d1; }"));
}

int glyphSize(Theme::TextStyle style)
{
    return Theme::font(style).pixelSize();
}

} // namespace ViewerButtonStyle
