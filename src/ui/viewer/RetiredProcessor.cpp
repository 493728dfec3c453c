#include "viewer/RetiredProcessor.h"

#include "imaging/RAWProcessor.h"

#include <QThreadPool>

void retireInBackground(std::unique_ptr<RAWProcessor> processor)
{
    if (!processor)
        return;
    std::shared_ptr<RAWProcessor> shared = std::move(processor);
    QThreadPool::globalInstance()->start([shared]() mutable { shared.reset(); });
}
