#pragma once

#include <QList>
#include <QMetaType>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

// One area the camera's autofocus used, in the photo as it is shown
// (orientation applied), as fractions of the photo's width and height: the
// same numbers fit the stand-in, the full picture and a RAW file's preview.
struct FocusArea
{
    QRectF rect;
    // The camera reports this area in focus; otherwise it was only selected
    // or active.
    bool inFocus = false;

    friend bool operator==(const FocusArea &, const FocusArea &) = default;
};

// Where the camera focused, as read from a file's metadata. No areas: the
// file does not say.
struct FocusPoints
{
    QList<FocusArea> areas;

    bool isEmpty() const { return areas.isEmpty(); }
    // The areas in the pixels of the photo shown at `size`.
    QList<QRectF> inPixels(QSizeF size) const;
    // The centre of the areas in focus (of all areas when none says so), as
    // fractions of the photo; the centre of the photo when there are none.
    QPointF centre() const;

    friend bool operator==(const FocusPoints &, const FocusPoints &) = default;
};

Q_DECLARE_METATYPE(FocusPoints)
