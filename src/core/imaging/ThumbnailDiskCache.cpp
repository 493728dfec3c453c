#include "imaging/ThumbnailDiskCache.h"

#include "imaging/PngEncoder.h"
#include "model/LocalFileName.h"

#include <QCryptographicHash>
#include <QDir>
#include <QImageReader>
#include <QSaveFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int buckets[] = {512, 1024};

// Failure marks are a pixel; anything much larger is not one.
constexpr int failureMarkSide = 16;

// The standard's MTime has whole seconds; this extension key keeps the rest.
constexpr const char *nanosecondsKey = "X-Kelvane::MTime-NSec";

QString bucketFolder(int side)
{
    return side <= 512 ? QStringLiteral("x-large") : QStringLiteral("xx-large");
}

// "file://" and the name's bytes, escaped as GLib's g_filename_to_uri does,
// so that file managers find the same entries.
QString fileUri(const QByteArray &encodedPath)
{
    return QStringLiteral("file://") +
           QString::fromLatin1(encodedPath.toPercentEncoding("/!$&'()*+,:=@"));
}

// `folder` with every missing folder above it made 0700, as the standard asks
// of the whole cache tree (thumbnails tell which files a user has looked at);
// mkpath would make them 0755. The folder itself is set to 0700 when it was
// there already; false when a missing folder cannot be made.
bool makePrivateFolder(const QString &folder)
{
    QStringList missing;
    QString path = folder;
    struct stat info;
    while (::stat(LocalFileName::encode(path).constData(), &info) != 0 && errno == ENOENT) {
        missing.prepend(path);
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            break;
        path.truncate(slash);
    }
    for (const QString &step : std::as_const(missing)) {
        if (::mkdir(LocalFileName::encode(step).constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    ::chmod(LocalFileName::encode(folder).constData(), 0700);
    return true;
}

// An entry of the shared cache, which other programs write too: only a
// regular file (a FIFO would hold the reading thread for ever) whose picture
// fits the folder's side (a larger one would cost its full size in memory,
// and is no thumbnail of ours). Null otherwise.
QImage readPng(const QString &path, int maxSide)
{
    const int fd =
        ::open(LocalFileName::encode(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat info;
    QFile file;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    QImageReader reader(&file, "png");
    const QSize size = reader.size();
    if (!size.isValid() || qMax(size.width(), size.height()) > maxSide)
        return {};
    return reader.read();
}

} // namespace

QString ThumbnailDiskCache::standardRoot()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) // relative values are to be ignored
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/thumbnails");
}

ThumbnailDiskCache::ThumbnailDiskCache(QString root)
    : m_root(QDir::cleanPath(std::move(root)))
{}

int ThumbnailDiskCache::bucketSide(qreal maxSize)
{
    for (const int side : buckets)
        if (maxSize <= side)
            return side;
    return 0;
}

ThumbnailDiskCache::Stamp ThumbnailDiskCache::stampOf(const QString &path) const
{
    const QString clean = QDir::cleanPath(path);
    // Thumbnails of thumbnails would only fill the cache.
    if (m_root.isEmpty() || clean.startsWith(m_root + QLatin1Char('/')))
        return {};
    const QByteArray encoded = LocalFileName::encode(clean);
    struct stat info;
    if (::stat(encoded.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    return {fileUri(encoded), qint64(info.st_mtim.tv_sec), qint64(info.st_mtim.tv_nsec),
            qint64(info.st_size)};
}

static QString md5Name(const QString &uri)
{
    return QString::fromLatin1(
               QCryptographicHash::hash(uri.toUtf8(), QCryptographicHash::Md5).toHex()) +
           QStringLiteral(".png");
}

QString ThumbnailDiskCache::thumbnailPath(const Stamp &stamp, int side) const
{
    return m_root + QLatin1Char('/') + bucketFolder(side) + QLatin1Char('/') + md5Name(stamp.uri);
}

QString ThumbnailDiskCache::failurePath(const Stamp &stamp) const
{
    return m_root + QStringLiteral("/fail/") + QLatin1String(software) + QStringLiteral("-1/") +
           md5Name(stamp.uri);
}

bool ThumbnailDiskCache::matches(const QImage &png, const Stamp &stamp)
{
    bool ok = false;
    const qint64 mtime = png.text(QStringLiteral("Thumb::MTime")).trimmed().toLongLong(&ok);
    if (!ok || mtime != stamp.mtime || png.text(QStringLiteral("Thumb::URI")) != stamp.uri)
        return false;
    // Optional, but they tell apart two versions written within one second
    // (a picture edited and saved again at once); our own entries carry both.
    const QString size = png.text(QStringLiteral("Thumb::Size")).trimmed();
    if (!size.isEmpty() && size.toLongLong() != stamp.size)
        return false;
    const QString nanoseconds = png.text(QLatin1String(nanosecondsKey)).trimmed();
    return nanoseconds.isEmpty() || nanoseconds.toLongLong() == stamp.mtimeNanoseconds;
}

ThumbnailDiskCache::Lookup ThumbnailDiskCache::find(const Stamp &stamp, qreal maxSize) const
{
    if (!stamp.isValid())
        return {};
    for (const int side : buckets) {
        if (side < maxSize)
            continue;
        QImage png = readPng(thumbnailPath(stamp, side), side);
        if (png.isNull() || !matches(png, stamp))
            continue;
        // Smaller than asked is right only when it is the whole picture.
        const int longer = qMax(png.width(), png.height());
        const int pictureWidth = png.text(QStringLiteral("Thumb::Image::Width")).toInt();
        const int pictureHeight = png.text(QStringLiteral("Thumb::Image::Height")).toInt();
        const bool wholePicture = pictureWidth == png.width() && pictureHeight == png.height();
        if (longer >= maxSize || wholePicture)
            return {Verdict::hit, std::move(png)};
    }
    const QImage failure = readPng(failurePath(stamp), failureMarkSide);
    if (!failure.isNull() && matches(failure, stamp))
        return {Verdict::failed, {}};
    return {};
}

void ThumbnailDiskCache::writePng(const QString &path, QImage image, const Stamp &stamp)
{
    const QString folder = path.left(path.lastIndexOf(QLatin1Char('/')));
    if (!makePrivateFolder(folder))
        return;
    image.setText(QStringLiteral("Thumb::URI"), stamp.uri);
    image.setText(QStringLiteral("Thumb::MTime"), QString::number(stamp.mtime));
    image.setText(QStringLiteral("Thumb::Size"), QString::number(stamp.size));
    image.setText(QLatin1String(nanosecondsKey), QString::number(stamp.mtimeNanoseconds));
    image.setText(QStringLiteral("Software"), QLatin1String(software));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (PngEncoder::write(file, image))
        file.commit();
    else
        file.cancelWriting();
}

void ThumbnailDiskCache::store(const Stamp &stamp, const QImage &thumbnail, bool wholePicture) const
{
    const int side = bucketSide(qMax(thumbnail.width(), thumbnail.height()));
    if (!stamp.isValid() || thumbnail.isNull() || side == 0)
        return;
    QImage image = thumbnail;
    if (wholePicture) {
        image.setText(QStringLiteral("Thumb::Image::Width"), QString::number(image.width()));
        image.setText(QStringLiteral("Thumb::Image::Height"), QString::number(image.height()));
    }
    writePng(thumbnailPath(stamp, side), std::move(image), stamp);
}

void ThumbnailDiskCache::recordFailure(const Stamp &stamp) const
{
    if (!stamp.isValid())
        return;
    QImage mark(1, 1, QImage::Format_ARGB32);
    mark.fill(Qt::transparent);
    writePng(failurePath(stamp), std::move(mark), stamp);
}
