#pragma once

#include <QImage>
#include <QString>
#include <optional>

// The per-user thumbnail cache that file managers and image viewers share
// (freedesktop.org Thumbnail Managing Standard): PNG files named after the MD5
// of the file's URI, in x-large (512) and xx-large (1024) folders under
// $XDG_CACHE_HOME/thumbnails, valid while their Thumb::URI and Thumb::MTime
// match the file. Files that cannot be thumbnailed are recorded under
// fail/<program>/ so that they are not tried again until they change.
// Stateless apart from its root folder; every call may run on any thread.
class ThumbnailDiskCache
{
public:
    // The standard's place: $XDG_CACHE_HOME/thumbnails, else ~/.cache/thumbnails.
    static QString standardRoot();
    explicit ThumbnailDiskCache(QString root = standardRoot());

    // The side of the cache folder that serves thumbnails of maxSize; 0 when
    // maxSize is larger than every folder (nothing is cached then).
    static int bucketSide(qreal maxSize);

    struct Stamp
    {
        QString uri;
        qint64 mtime = 0; // seconds since the epoch
        qint64 mtimeNanoseconds = 0;
        qint64 size = 0;
        bool isValid() const { return !uri.isEmpty(); }
    };
    // Invalid for a file that cannot be stat'ed or that lies inside the cache.
    Stamp stampOf(const QString &path) const;

    enum class Verdict { miss, hit, failed };
    struct Lookup
    {
        Verdict verdict = Verdict::miss;
        QImage image; // for a hit
    };
    // A cached thumbnail of at least maxSize (or of the whole picture, when
    // that is smaller), or a recorded failure for the file as it is now.
    Lookup find(const Stamp &stamp, qreal maxSize) const;

    // Atomic writes (a temporary file renamed into place), 0600 in 0700
    // folders. The thumbnail goes to the folder for its own size. Failures to
    // write are silent: the cache only saves work.
    void store(const Stamp &stamp, const QImage &thumbnail, bool wholePicture) const;
    void recordFailure(const Stamp &stamp) const;

    QString thumbnailPath(const Stamp &stamp, int side) const;
    QString failurePath(const Stamp &stamp) const;

    static constexpr const char *software = "Kelvane";

private:
    static bool matches(const QImage &png, const Stamp &stamp);
    static void writePng(const QString &path, QImage image, const Stamp &stamp);

    QString m_root;
};
