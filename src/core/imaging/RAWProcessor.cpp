#include "imaging/RAWProcessor.h"

#include "imaging/ImageDecoder.h"
#include "imaging/ImageLoadError.h"
#include "imaging/RawDeveloper.h"

#include <QtConcurrent/QtConcurrentRun>

RAWProcessor::RAWProcessor()
{
    ImageDecoder::initialiseLibraries();
    m_pool.setMaxThreadCount(1);
    // The context is reused between jobs; keep its thread alive with it.
    m_pool.setExpiryTimeout(-1);
}

RAWProcessor::~RAWProcessor()
{
    m_pool.waitForDone();
}

QFuture<QImage> RAWProcessor::loadImage(const QString &path)
{
    return QtConcurrent::run(&m_pool, [path] { return loadImageSync(path); });
}

QFuture<QImage> RAWProcessor::decodeRAW(const QString &path)
{
    return QtConcurrent::run(&m_pool, [this, path] { return developer().develop(path); });
}

QImage RAWProcessor::loadImageSync(const QString &path)
{
    return ImageDecoder::fullImage(path);
}

RawDeveloper &RAWProcessor::developer()
{
    if (!m_developer) {
        m_developer = std::make_unique<RawDeveloper>(ImageDecoder::maxPixels);
        ++m_rawContextCount;
    }
    return *m_developer;
}
