#pragma once

#include <QColor>

// One camera-information frame, built afresh from the editor's settings for
// every preview and export. Fractions refer to the photo's pixel size, so the
// frame looks alike at any resolution.
struct FrameStyle
{
    QColor backgroundColor = Qt::white;                // border band and bar
    QColor textColor = Qt::black;                      // brand text, model, right main text
    QColor secondaryTextColor = QColor(128, 128, 128); // lens, right secondary text
    double barHeight = 0.08;                           // fraction of the photo's longer side
    double padding = 0.02; // bar's horizontal inner margin, fraction of the photo's width
    bool borderEnabled = false;
    double borderWidth = 1.0; // thousandths of the photo's width
    double logoScale = 1.0;   // multiplier of the logo's height

    friend bool operator==(const FrameStyle &, const FrameStyle &) = default;
};
