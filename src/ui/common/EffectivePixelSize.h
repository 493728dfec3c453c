#pragma once

#include <QImage>
#include <QSizeF>

// The size of an image in pixels: its pixel dimensions when both are at least
// 1, else its size in device-independent units (which is empty for a null
// image). The zoomable view fits images by this size.
QSizeF effectivePixelSize(const QImage &image);
