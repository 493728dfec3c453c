#include "imaging/ImageLoadResult.h"

#include "imaging/ImageLoadError.h"

namespace {

template <typename T, typename FullPicture>
ImageLoadResult collect(QFuture<T> future, FullPicture fullPicture)
{
    ImageLoadResult result;
    try {
        future.waitForFinished(); // rethrows the job's error
        result.image = fullPicture(future);
        if (result.image.isNull() && !future.isCanceled())
            result.errorDescription = ImageLoadError::decodeFailed().errorDescription();
    } catch (const ImageLoadError &error) {
        result.errorDescription = error.errorDescription();
    } catch (...) {
        result.errorDescription = ImageLoadError::decodeFailed().errorDescription();
    }
    return result;
}

} // namespace

ImageLoadResult ImageLoadResult::from(QFuture<QImage> future)
{
    return collect(future, [](const QFuture<QImage> &done) {
        return done.resultCount() > 0 ? done.result() : QImage();
    });
}

ImageLoadResult ImageLoadResult::from(QFuture<ViewPicture> future)
{
    return collect(future, [](const QFuture<ViewPicture> &done) {
        const int count = done.resultCount();
        if (count == 0)
            return QImage();
        const ViewPicture last = done.resultAt(count - 1);
        return last.isStandIn() ? QImage() : last.image;
    });
}
