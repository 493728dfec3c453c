#pragma once

#include "common/Theme.h"

class QPushButton;

// The look of the viewer's prominent small buttons ("边框水印", "解码 RAW"):
// white caption text on the accent blue, rounded, compact.
namespace ViewerButtonStyle {

void applyProminentSmall(QPushButton *button);

// A symbol shown beside or instead of text takes the size of that text style.
int glyphSize(Theme::TextStyle style);

} // namespace ViewerButtonStyle
