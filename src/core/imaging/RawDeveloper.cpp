#include "imaging/RawDeveloper.h"

#include "imaging/ImageLoadError.h"
#include "imaging/RawWorkLimit.h"
#include "model/LocalFileName.h"

#include <QColorSpace>
#include <QFile>
#include <libraw/libraw.h>
#include <sys/stat.h>

RawDeveloper::RawDeveloper(qint64 maxPixels)
    : m_raw(std::make_unique<LibRaw>(0))
    , m_maxPixels(maxPixels)
{}

RawDeveloper::~RawDeveloper() = default;

void RawDeveloper::onDataError(void *self, const char *, int)
{
    // LibRaw calls this for unexpected end of file and corrupt data; it still
    // reports success afterwards, so the flag is what tells a garbage result.
    static_cast<RawDeveloper *>(self)->m_dataError = true;
}

bool RawDeveloper::sensorDataFitsFile(const QString &path) const
{
    // Even the best lossless RAW compression needs well over one bit per
    // photosite; files stripped of their sensor data are far smaller than that.
    const auto &sizes = m_raw->imgdata.sizes;
    const qint64 photosites = qint64(sizes.raw_width) * sizes.raw_height;
    struct stat info;
    if (::stat(LocalFileName::encode(path).constData(), &info) != 0)
        return false;
    return qint64(info.st_size) * 8 >= photosites;
}

QImage RawDeveloper::develop(const QString &path, Resolution resolution,
                             const std::function<bool()> &stillWanted)
{
    LibRaw &raw = *m_raw;
    raw.recycle();
    m_dataError = false;
    raw.set_dataerror_handler(&RawDeveloper::onDataError, this);
    auto &params = raw.imgdata.params;
    params.use_camera_wb = 1;
    params.output_color = 1; // sRGB
    params.output_bps = 8;
    params.user_flip = -1; // the file's own orientation
    params.half_size = resolution == Resolution::halfSize ? 1 : 0;

    RawWorkLimit input(path, raw, stillWanted);
    if (input.open() != LIBRAW_SUCCESS) {
        raw.recycle();
        if (input.stopped())
            throw ImageLoadError::decodeFailed();
        throw ImageLoadError::sourceCreationFailed();
    }
    const auto &sizes = raw.imgdata.sizes;
    const bool plausible = sizes.width > 0 && sizes.height > 0 &&
                           qint64(sizes.raw_width) * sizes.raw_height <= m_maxPixels &&
                           qint64(sizes.width) * sizes.height <= m_maxPixels &&
                           sensorDataFitsFile(path);
    if (!plausible || raw.unpack() != LIBRAW_SUCCESS || m_dataError ||
        raw.dcraw_process() != LIBRAW_SUCCESS || m_dataError || input.stopped()) {
        raw.recycle();
        throw ImageLoadError::decodeFailed();
    }
    int error = 0;
    libraw_processed_image_t *memory = raw.dcraw_make_mem_image(&error);
    QImage image;
    if (memory && memory->type == LIBRAW_IMAGE_BITMAP && memory->colors == 3 && memory->bits == 8 &&
        qint64(memory->width) * memory->height * 3 <= qint64(memory->data_size)) {
        image = QImage(memory->data, memory->width, memory->height, memory->width * 3,
                       QImage::Format_RGB888)
                    .convertToFormat(QImage::Format_RGB32);
        image.setColorSpace(QColorSpace(QColorSpace::SRgb));
    }
    LibRaw::dcraw_clear_mem(memory);
    raw.recycle();
    if (image.isNull())
        throw ImageLoadError::decodeFailed();
    return image;
}
