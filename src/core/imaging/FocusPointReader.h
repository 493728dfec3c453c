#pragma once

#include "imaging/FocusPoints.h"

#include <QString>

// Reads where the camera focused from a file's maker notes and EXIF with
// Exiv2. No pixels are decoded.
class FocusPointReader
{
public:
    // Never fails: unreadable files and absent or malformed tags give no
    // areas. Any thread; blocking file input on the caller's thread.
    static FocusPoints read(const QString &path);
};
