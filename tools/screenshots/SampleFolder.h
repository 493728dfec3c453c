#pragma once

#include <QString>

// Writes a small, realistic photo folder for screenshots and manual runs:
// colourful JPEGs (some portrait, with camera EXIF-free content), PNGs and
// sub-folders with natural-order names. Returns the folder's path.
QString writeSampleFolder(const QString &parentDir);
