#include "imaging/FocusPointReader.h"

#include "imaging/EXIFReader.h"
#include "imaging/FocusTagParser.h"
#include "imaging/HeifDecoder.h"
#include "imaging/ImageDecoder.h"
#include "imaging/ImageOrientation.h"
#include "model/LocalFileName.h"

#include <cmath>
#include <exiv2/exiv2.hpp>

namespace {

struct StoredMetadata
{
    // Kept open so that its metadata is read in place, not copied.
    Exiv2::Image::AutoPtr file;
    // Metadata that came without its container (see readHeifExif).
    Exiv2::ExifData loose;
    const Exiv2::ExifData *exif = nullptr;
    // The stored picture's size as the container gives it; empty when the
    // metadata came without its container.
    QSizeF pixels;
    // HEIC and AVIF: shown as libheif turns and crops them, whatever the
    // EXIF says.
    bool isHeif = false;
};

// HEIC and AVIF files whose container Exiv2 cannot parse still carry an
// EXIF block libheif hands out.
bool readHeifExif(const QString &path, StoredMetadata *metadata)
{
    if (!EXIFReader::readHeifExifBlock(path, &metadata->loose))
        return false;
    metadata->exif = &metadata->loose;
    metadata->isHeif = true;
    return true;
}

bool readMetadata(const QString &path, StoredMetadata *metadata)
{
    try {
        metadata->file = Exiv2::ImageFactory::open(LocalFileName::encode(path).toStdString());
        if (metadata->file.get()) {
            metadata->file->readMetadata();
            if (!metadata->file->exifData().empty()) {
                metadata->exif = &metadata->file->exifData();
                metadata->pixels =
                    QSizeF(metadata->file->pixelWidth(), metadata->file->pixelHeight());
                const std::string mime = metadata->file->mimeType();
                metadata->isHeif = mime.rfind("image/hei", 0) == 0 || mime == "image/avif";
                return true;
            }
        }
    } catch (const std::exception &) {
        // Falls through to the container-specific reader.
    }
    return readHeifExif(path, metadata);
}

// Whether two sizes have the same shape (within rounding and the few
// border pixels of a RAW container).
bool sameShape(QSizeF a, QSizeF b)
{
    const double ratio = (a.width() / a.height()) / (b.width() / b.height());
    return std::abs(ratio - 1) < 0.02;
}

// An edited copy (cropped, or turned without updating the tags) no longer
// shows the frame the camera's numbers refer to.
bool showsRecordedFrame(const QString &path, const StoredMetadata &metadata, QSizeF recorded,
                        int orientation)
{
    if (recorded.isEmpty())
        return true;
    if (metadata.isHeif) {
        const QSizeF shown = HeifDecoder::shownSize(path);
        const QSizeF upright =
            ImageOrientation::swapsAxes(orientation) ? recorded.transposed() : recorded;
        return shown.isEmpty() || sameShape(upright, shown);
    }
    return metadata.pixels.isEmpty() || sameShape(recorded, metadata.pixels);
}

FocusPoints upright(const QList<FocusArea> &stored, int orientation)
{
    FocusPoints points;
    points.areas.reserve(stored.size());
    for (const FocusArea &area : stored)
        points.areas.append(
            {ImageOrientation::applyToRelative(area.rect, orientation), area.inFocus});
    return points;
}

} // namespace

FocusPoints FocusPointReader::read(const QString &path)
{
    ImageDecoder::initialiseLibraries();
    try {
        StoredMetadata metadata;
        if (!readMetadata(path, &metadata))
            return {};
        const FocusTagParser tags(*metadata.exif);
        // SubjectArea and some maker notes count in the size the camera
        // recorded for the picture, else the container's.
        const QSizeF recorded = tags.recordedSize();
        if (!showsRecordedFrame(path, metadata, recorded, tags.orientation()))
            return {};
        const QSizeF photo = recorded.isEmpty() ? metadata.pixels : recorded;
        QList<FocusArea> areas = tags.makerNote(photo);
        if (areas.isEmpty())
            areas = tags.subjectArea(photo);
        return upright(areas, tags.orientation());
    } catch (const std::exception &) {
        return {};
    }
}
