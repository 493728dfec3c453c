#pragma once

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
};
