#include "viewer/ViewerButtonStyle.h"

#include <QPushButton>

namespace ViewerButtonStyle {

void applyProminentSmall(QPushButton *button)
{
    QFont font = button->font();
    font.setPixelSize(12);
    button->setFont(font);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    button->setIconSize(QSize(13, 13));
    button->setStyleSheet(QStringLiteral(
        "QPushButton { color: white; background: #0a84ff; border: none; border-radius: 5px;"
        " padding: 3px 8px; }"
        "QPushButton:hover { background: #2990ff; }"
        "QPushButton:pressed { background: #0063d1; }"));
}

} // namespace ViewerButtonStyle
