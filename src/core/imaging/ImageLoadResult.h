#pragma once

#include "imaging/ViewPicture.h"

#include <QFuture>
#include <QImage>
#include <QString>

// What a finished image load (RAWProcessor::loadImage, decodeRAW) delivered:
// the picture, or the text of its ImageLoadError. A job that never ran (its
// processor went away first) has neither.
struct ImageLoadResult
{
    QImage image;
    QString errorDescription;

    bool succeeded() const { return !image.isNull(); }
    bool failed() const { return !errorDescription.isEmpty(); }

    // `future` must have finished.
    static ImageLoadResult from(QFuture<QImage> future);
    // The full picture of a RAWProcessor::loadForView job; its stand-in does
    // not count.
    static ImageLoadResult from(QFuture<ViewPicture> future);
};
