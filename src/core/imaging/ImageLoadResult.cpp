#include "imaging/ImageLoadResult.h"

#include "imaging/ImageLoadError.h"

ImageLoadResult ImageLoadResult::from(QFuture<QImage> future)
{
    ImageLoadResult result;
    try {
        future.waitForFinished(); // rethrows the job's error
        if (future.resultCount() > 0)
            result.image = future.result();
        if (result.image.isNull() && !future.isCanceled())
            result.errorDescription = ImageLoadError::decodeFailed().errorDescription();
    } catch (const ImageLoadError &error) {
        result.errorDescription = error.errorDescription();
    } catch (...) {
        result.errorDescription = ImageLoadError::decodeFailed().errorDescription();
    }
    return result;
}
