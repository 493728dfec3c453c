#pragma once

#include "imaging/FocusPoints.h"

#include <QList>
#include <vector>

// The AF records of Canon's maker note, as the shorts they are stored in:
// the points in focus (inFocus) and the selected ones, as fractions of the AF
// frame. Positions count from the frame's centre, Y upwards in EOS records
// and downwards (yDown) in PowerShot ones. Counts and offsets come from the
// file: a record shorter than it claims gives nothing.
class CanonFocusRecord
{
public:
    // AFInfo2 (0x0026) and AFInfo3 (0x003c): size, mode, count, valid count,
    // Canon image size, AF image size, then widths, heights, X and Y
    // positions per point, the in-focus and the selected bit masks.
    static QList<FocusArea> fromAfInfo2(const std::vector<long> &values, bool yDown);
    // The older AFInfo (0x0012): count, valid count, Canon image size, AF
    // image size, one area size, then X and Y positions per point and the
    // in-focus bit mask.
    static QList<FocusArea> fromAfInfo(const std::vector<long> &values, bool yDown);
};
