#include "imaging/DecodeLimits.h"

#include "model/LocalFileName.h"

#include <sys/stat.h>

bool DecodeLimits::fileCanHold(QSize declared, qint64 fileBytes, qint64 perByte)
{
    if (declared.isEmpty())
        return false;
    const qint64 pixels = qint64(declared.width()) * declared.height();
    return pixels <= freePixels || pixels / perByte <= fileBytes;
}

qint64 DecodeLimits::jpegBytesAtMost(QSize declared)
{
    return qint64(qMax(0, declared.width())) * qMax(0, declared.height()) * 24 + jpegMetadataBytes;
}

qint64 DecodeLimits::fileSize(const QString &path)
{
    struct stat info;
    if (::stat(LocalFileName::encode(path).constData(), &info) != 0)
        return -1;
    return qint64(info.st_size);
}
