#pragma once

class QPushButton;

// The look of the viewer's prominent small buttons ("边框水印", "解码 RAW"):
// white caption text on the accent blue, rounded, compact.
namespace ViewerButtonStyle {

void applyProminentSmall(QPushButton *button);

} // namespace ViewerButtonStyle
