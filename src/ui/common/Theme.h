#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>

class QApplication;

// The look shared by every screen: a light theme, the text styles, the
// semantic colours and the project's own symbol icons. Sizes are in
// device-independent pixels.
namespace Theme {

enum class TextStyle { caption, callout, body, headline, title3, title2, largeTitle };

// Sets the style, the light palette and an application font whose family list
// falls back to a CJK face, so Chinese texts never render as empty boxes.
void applyToApplication(QApplication &app);

QFont font(TextStyle style);
QFont font(TextStyle style, QFont::Weight weight);

QColor accent();
QColor primaryText();
QColor secondaryText();
QColor tertiaryText();
QColor sidebarBackground();
QColor contentBackground();
QColor separator();

// A symbol from the icon set (":/icons/<name>.svg", named after the system
// symbol it stands for, e.g. "folder.fill"), drawn in one colour at `size`
// pixels for the given device pixel ratio. Cached; null for an unknown name.
QPixmap symbol(const QString &name, const QColor &color, int size, qreal devicePixelRatio = 1.0);
QIcon symbolIcon(const QString &name, const QColor &color, int size);

} // namespace Theme
