#include "imaging/ImageDecoder.h"

#include "imaging/ColorConverter.h"
#include "imaging/DecodeLimits.h"
#include "imaging/HeifDecoder.h"
#include "imaging/ImageFileType.h"
#include "imaging/ImageLoadError.h"
#include "imaging/ImageOrientation.h"
#include "imaging/JpegDecoder.h"
#include "imaging/PngDecoder.h"
#include "imaging/RawDeveloper.h"
#include "imaging/StoredPreviews.h"
#include "imaging/TiffDecoder.h"
#include "imaging/WebpDecoder.h"
#include "model/DecodeFailureMemory.h"
#include "model/LocalFileName.h"
#include "model/WorkQueues.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QSemaphore>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>
#include <cmath>
#include <exiv2/exiv2.hpp>
#include <mutex>

namespace {

// Exiv2's XMP toolkit is shared by all threads and needs a caller-supplied lock.
void lockXmpToolkit(void *mutex, bool lock)
{
    if (lock)
        static_cast<std::mutex *>(mutex)->lock();
    else
        static_cast<std::mutex *>(mutex)->unlock();
}

int webpOrientation(const QString &path)
{
    try {
        auto file = Exiv2::ImageFactory::open(LocalFileName::encode(path).toStdString());
        file->readMetadata();
        const auto &exif = file->exifData();
        const auto it = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (it != exif.end() && it->count() > 0) {
            const long value = it->toLong();
            return value >= 1 && value <= 8 ? int(value) : 1;
        }
    } catch (const std::exception &) {
    }
    return 1;
}

// The fraction of the stand-in's rows decoded before the full decode starts.
constexpr qreal standInHeadStart = 0.6;

// A WebP file up to the end of its RIFF container.
QByteArray readWebpData(const QString &path)
{
    QFile file;
    if (!LocalFileName::openForReading(file, path))
        return {};
    QByteArray data = file.read(8);
    if (data.size() < 8)
        return {};
    const auto *size = reinterpret_cast<const uchar *>(data.constData()) + 4;
    const qint64 riffBytes =
        qint64(size[0]) | qint64(size[1]) << 8 | qint64(size[2]) << 16 | qint64(size[3]) << 24;
    return data + file.read(qMin(riffBytes, file.size() - data.size()));
}

// The bytes a JPEG decoder can need: the file up to the most its declared
// frame can use (DecodeLimits::jpegBytesAtMost), not the video a motion
// photo appends nor the rest of a carved disk image.
QByteArray readJpegData(const QString &path)
{
    QFile file;
    if (!LocalFileName::openForReading(file, path))
        return {};
    const qint64 fileSize = file.size();
    QByteArray data = file.read(qMin(fileSize, DecodeLimits::jpegMetadataBytes));
    const QSize declared = JpegDecoder::declaredSize(data);
    if (!declared.isValid() || data.size() < DecodeLimits::jpegMetadataBytes)
        return data;
    const qint64 head = data.size();
    const qint64 total = qMin(fileSize, DecodeLimits::jpegBytesAtMost(declared));
    if (total > head) {
        data.resize(total);
        const qint64 read = file.read(data.data() + head, total - head);
        data.resize(head + qMax<qint64>(0, read));
    }
    return data;
}

// The pixels a Qt reader allocates for a picture of `size`: Qt's GIF reader
// gives the first frame's size but allocates the logical screen.
QSize declaredSize(QSize size, const QByteArray &head)
{
    if (head.size() < 10 || !head.startsWith("GIF8"))
        return size;
    const auto *bytes = reinterpret_cast<const uchar *>(head.constData());
    return size.expandedTo(QSize(bytes[6] | bytes[7] << 8, bytes[8] | bytes[9] << 8));
}

// Files no decoder needs whole: larger than any picture within the limits.
bool isTooLarge(const QString &path)
{
    return DecodeLimits::fileSize(path) > DecodeLimits::maxFileBytes;
}

} // namespace

void ImageDecoder::initialiseLibraries()
{
    static const bool initialised = [] {
        // Megabytes; a 200-megapixel RGB32 picture needs 800.
        QImageReader::setAllocationLimit(1024);
        static std::mutex xmpMutex;
        Exiv2::XmpParser::initialize(&lockXmpToolkit, &xmpMutex);
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
#ifdef EXV_ENABLE_BMFF
        Exiv2::enableBMFF(true);
#endif
        return true;
    }();
    Q_UNUSED(initialised);
}

QImage ImageDecoder::scaledToFit(const QImage &image, qreal maxSize)
{
    if (image.isNull() || qMax(image.width(), image.height()) <= maxSize)
        return image;
    const int limit = qMax(1, int(std::floor(maxSize)));
    return image.scaled(limit, limit, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QImage ImageDecoder::readWithQt(const QString &path, qreal maxSize)
{
    QFile file;
    if (!LocalFileName::openForReading(file, path))
        return {};
    const qint64 fileSize = file.size();
    // Qt's JPEG reader has no scan limit: it gets the bytes only once they
    // are known to be plausible, and only those a JPEG can need.
    QBuffer jpeg;
    if (ImageFileType::detect(file.peek(32), QString()) == ImageFileType::Kind::jpeg) {
        jpeg.setData(readJpegData(path));
        if (!JpegDecoder::isPlausible(jpeg.data()) || !jpeg.open(QIODevice::ReadOnly))
            return {};
    }
    const QByteArray head = file.peek(10);
    QImageReader reader(jpeg.isOpen() ? static_cast<QIODevice *>(&jpeg) : &file);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    QSize allocated = declaredSize(size, head);
    if (maxSize > 0 && size.isValid() && qMax(size.width(), size.height()) > maxSize) {
        const int limit = qMax(1, int(std::floor(maxSize)));
        const QSize scaled = size.scaled(limit, limit, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
        reader.setScaledSize(scaled);
        // Only Qt's JPEG reader scales while decoding; the others decode at
        // full size first.
        if (reader.format() == "jpeg")
            allocated = scaled;
    }
    if (allocated.isValid() && qint64(allocated.width()) * allocated.height() > maxPixels)
        return {};
    // Declared pixels against the file's bytes, before the reader allocates.
    const qint64 perByte =
        reader.format() == "jpeg" ? DecodeLimits::jpegPixelsPerByte : DecodeLimits::pixelsPerByte;
    if (size.isValid() && !DecodeLimits::fileCanHold(declaredSize(size, head), fileSize, perByte))
        return {};
    const bool readerRotates = reader.supportsOption(QImageIOHandler::ImageTransformation);
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (!readerRotates && reader.format() == "webp")
        image = ImageOrientation::apply(image, webpOrientation(path));
    return ColorConverter::toSRGB(std::move(image));
}

namespace {

bool reaches(const QImage &image, qreal maxSize)
{
    return !image.isNull() && qMax(image.width(), image.height()) >= maxSize;
}

// Smaller than this a stored picture is a placeholder stub, not worth showing.
constexpr int smallestInterimSide = 32;

} // namespace

QImage ImageDecoder::refinedThumbnail(const QImage &stored, qreal maxSize,
                                      const InterimHandler &onInterim,
                                      const std::function<QImage()> &decodeSharper)
{
    if (reaches(stored, maxSize))
        return stored;
    if (onInterim && !stored.isNull() &&
        qMax(stored.width(), stored.height()) >= smallestInterimSide)
        onInterim(scaledToFit(stored, maxSize));
    const QImage sharper = decodeSharper();
    return sharper.isNull() ? stored : sharper;
}

QImage ImageDecoder::jpegThumbnail(const QString &path, qreal maxSize,
                                   const InterimHandler &onInterim, const StillWanted &stillWanted)
{
    // Camera JPEGs carry a 160 x 120 EXIF thumbnail: quick to show, but soft
    // in a 320-pixel cell, so the main picture follows, DCT-scaled.
    const QImage stored =
        StoredPreviews::load(path, maxSize, maxPixels, StoredPreviews::Source::exiv2Only);
    return refinedThumbnail(stored, maxSize, onInterim, [&] {
        const auto keepGoing = [&](qreal) { return !stillWanted || stillWanted(); };
        const QImage image = JpegDecoder::decode(readJpegData(path), maxPixels, maxSize,
                                                 JpegDecoder::Orientation::applyTag, keepGoing);
        return image.isNull() && keepGoing(0) ? readWithQt(path, maxSize) : image;
    });
}

QImage ImageDecoder::rawThumbnail(const QString &path, qreal maxSize,
                                  const InterimHandler &onInterim, const StillWanted &stillWanted)
{
    const QImage stored =
        StoredPreviews::load(path, maxSize, maxPixels, StoredPreviews::Source::exiv2ThenLibRaw);
    return refinedThumbnail(stored, maxSize, onInterim, [&] {
        QImage developed;
        try {
            developed = RawDeveloper(maxPixels).develop(path, RawDeveloper::Resolution::halfSize,
                                                        stillWanted);
        } catch (const ImageLoadError &) {
        }
        // A small sensor (or a partly stored one) may give less than the preview.
        if (!stored.isNull() && !developed.isNull() &&
            qMax(stored.width(), stored.height()) >= qMax(developed.width(), developed.height()))
            return QImage();
        return developed;
    });
}

QImage ImageDecoder::heifThumbnail(const QString &path, qreal maxSize,
                                   const InterimHandler &onInterim)
{
    // Phones store thumbnails of 320 pixels or fewer: shown at once in a
    // larger cell, then replaced by the primary picture (libheif has no
    // reduced decode, so that one is decoded in full and scaled).
    bool isThumbnail = false;
    const QImage stored = HeifDecoder::decode(path, maxSize, maxPixels, &isThumbnail);
    if (!isThumbnail)
        return stored;
    return refinedThumbnail(stored, maxSize, onInterim,
                            [&] { return HeifDecoder::decode(path, 0, maxPixels); });
}

QImage ImageDecoder::webpThumbnail(const QString &path, qreal maxSize)
{
    // Reduced inside libwebp; Qt's reader would decode the full picture first.
    const QImage image = WebpDecoder::decodeScaled(readWebpData(path), maxSize, maxPixels);
    if (image.isNull())
        return readWithQt(path, maxSize); // animations
    return ImageOrientation::apply(image, webpOrientation(path));
}

QImage ImageDecoder::pngThumbnail(const QString &path, qreal maxSize,
                                  const StillWanted &stillWanted)
{
    const QImage image = PngDecoder::decodeScaled(path, maxSize, maxPixels, stillWanted);
    if (image.isNull() && (!stillWanted || stillWanted()))
        return readWithQt(path, maxSize); // interlaced ones
    return image;
}

QImage ImageDecoder::thumbnail(const QString &path, qreal maxSize, const InterimHandler &onInterim,
                               const StillWanted &stillWanted, DecodeFailureMemory *failures)
{
    initialiseLibraries();
    if (!(maxSize >= 1) || isTooLarge(path)) // also rejects NaN
        return {};
    const DecodeFailureMemory::Stamp stamp =
        failures ? DecodeFailureMemory::stampOf(path) : DecodeFailureMemory::Stamp();
    if (failures && failures->hasFailed(path, DecodeFailureMemory::Use::thumbnail, stamp))
        return {};
    DecodeFailureMemory::takeTransientFailure(); // forget an earlier decode's note
    QImage image;
    switch (ImageFileType::detect(path)) {
    case ImageFileType::Kind::unreadable:
    case ImageFileType::Kind::empty:
        return {};
    case ImageFileType::Kind::jpeg:
        image = jpegThumbnail(path, maxSize, onInterim, stillWanted);
        break;
    case ImageFileType::Kind::heif:
        image = heifThumbnail(path, maxSize, onInterim);
        break;
    case ImageFileType::Kind::raw:
        image = rawThumbnail(path, maxSize, onInterim, stillWanted);
        break;
    case ImageFileType::Kind::webp:
        image = webpThumbnail(path, maxSize);
        break;
    case ImageFileType::Kind::png:
        image = pngThumbnail(path, maxSize, stillWanted);
        break;
    case ImageFileType::Kind::tiff:
        image = readWithQt(path, maxSize);
        if (image.isNull())
            image = TiffDecoder::decode(path, maxPixels);
        break;
    default:
        image = readWithQt(path, maxSize);
        break;
    }
    // A decode stopped because nobody wants it any more, or out of time, has
    // not failed.
    const bool transient = DecodeFailureMemory::takeTransientFailure();
    if (failures && image.isNull() && (!stillWanted || stillWanted()) && !transient)
        failures->recordFailure(path, DecodeFailureMemory::Use::thumbnail, stamp);
    return scaledToFit(image, maxSize);
}

QImage ImageDecoder::fullImage(const QString &path, DecodeFailureMemory *failures)
{
    return fullImage(path, QSize(), StandInReady(), StillWanted(), nullptr, failures);
}

QImage ImageDecoder::fullImage(const QString &path, QSize view, const StandInReady &standInReady,
                               const StillWanted &stillWanted, WorkQueues &shared)
{
    return fullImage(path, view, standInReady, stillWanted, &shared.standIns(),
                     &shared.decodeFailures());
}

std::optional<QImage> ImageDecoder::jpegForView(const QByteArray &data, int orientation, QSize view,
                                                const StandInReady &standInReady,
                                                const StillWanted &stillWanted,
                                                QThreadPool *standInPool)
{
    std::atomic<bool> standInRefused = false;
    const auto wanted = [&] { return !standInRefused.load() && (!stillWanted || stillWanted()); };
    // The full decode starts when the stand-in is most of the way: alone
    // the stand-in shows soonest, side by side the sharp picture follows
    // soonest, and the two share the memory bandwidth.
    QSemaphore fullMayStart;
    std::atomic<bool> released = false;
    const auto releaseFull = [&] {
        if (!released.exchange(true))
            fullMayStart.release();
    };
    QFuture<void> standIn;
    if (standInReady && !view.isEmpty() && standInPool) {
        standIn = QtConcurrent::run(standInPool, [&] {
            const auto keepGoing = [&](qreal done) {
                if (done >= standInHeadStart)
                    releaseFull();
                return wanted();
            };
            const ViewPicture picture =
                JpegDecoder::decodeCovering(data, maxPixels, view, keepGoing, orientation);
            releaseFull();
            if (picture.isStandIn() && wanted() && !standInReady(picture))
                standInRefused = true;
        });
    } else {
        releaseFull();
    }
    fullMayStart.acquire();
    const auto keepGoing = [&](qreal) { return wanted(); };
    QImage image =
        orientation == 0
            ? JpegDecoder::decode(data, maxPixels, 0, JpegDecoder::Orientation::applyTag, keepGoing)
            : ImageOrientation::apply(JpegDecoder::decode(data, maxPixels, 0,
                                                          JpegDecoder::Orientation::asStored,
                                                          keepGoing),
                                      orientation);
    // The stand-in must have been handed over (or given up) before the
    // full picture is returned; it is the quicker of the two.
    standIn.waitForFinished();
    if (!wanted())
        return std::nullopt;
    return image;
}

QImage ImageDecoder::fullImage(const QString &path, QSize view, const StandInReady &standInReady,
                               const StillWanted &stillWanted, QThreadPool *standInPool,
                               DecodeFailureMemory *failures)
{
    initialiseLibraries();
    if (isTooLarge(path))
        throw ImageLoadError::decodeFailed();
    const DecodeFailureMemory::Stamp stamp =
        failures ? DecodeFailureMemory::stampOf(path) : DecodeFailureMemory::Stamp();
    if (failures && failures->hasFailed(path, DecodeFailureMemory::Use::fullImage, stamp))
        throw ImageLoadError::decodeFailed();
    DecodeFailureMemory::takeTransientFailure(); // forget an earlier decode's note
    QImage image;
    switch (ImageFileType::detect(path)) {
    case ImageFileType::Kind::unreadable:
        throw ImageLoadError::sourceCreationFailed();
    case ImageFileType::Kind::empty:
        throw ImageLoadError::decodeFailed();
    case ImageFileType::Kind::jpeg: {
        const std::optional<QImage> decoded =
            jpegForView(readJpegData(path), 0, view, standInReady, stillWanted, standInPool);
        if (!decoded)
            return {};
        image = decoded->isNull() ? readWithQt(path, 0) : *decoded;
        break;
    }
    case ImageFileType::Kind::heif:
        image = HeifDecoder::decode(path, 0, maxPixels);
        break;
    case ImageFileType::Kind::raw: {
        // Often a full-size JPEG: shown as quickly as a JPEG file. A preview
        // of unknown orientation is shown as stored, never by its own tag.
        const StoredPreviews::JpegPreview preview = StoredPreviews::largestJpeg(path);
        if (!preview.jpeg.isEmpty()) {
            const std::optional<QImage> decoded =
                jpegForView(preview.jpeg, qMax(1, preview.orientation), view, standInReady,
                            stillWanted, standInPool);
            if (!decoded)
                return {};
            image = *decoded;
        }
        if (image.isNull())
            image =
                StoredPreviews::load(path, 0, maxPixels, StoredPreviews::Source::exiv2ThenLibRaw);
        if (image.isNull()) {
            try {
                image = RawDeveloper(maxPixels).develop(path, RawDeveloper::Resolution::full,
                                                        stillWanted);
            } catch (const ImageLoadError &) {
                image = {};
            }
        }
        break;
    }
    case ImageFileType::Kind::tiff:
        image = readWithQt(path, 0);
        if (image.isNull())
            image = TiffDecoder::decode(path, maxPixels);
        break;
    default:
        image = readWithQt(path, 0);
        break;
    }
    if (image.isNull() && stillWanted && !stillWanted())
        return {}; // stopped, not failed
    if (image.isNull()) {
        if (!DecodeFailureMemory::takeTransientFailure() && failures)
            failures->recordFailure(path, DecodeFailureMemory::Use::fullImage, stamp);
        throw ImageLoadError::decodeFailed();
    }
    return image;
}
