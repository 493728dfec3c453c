#pragma once

#include <QImage>
#include <QString>
#include <functional>
#include <memory>

class LibRaw;

// Full development of camera RAW sensor data with LibRaw: sensor resolution,
// as-shot white balance, sRGB, 8 bits, upright. One instance holds one LibRaw
// context and reuses it for every file; it is not thread-safe, so an instance
// belongs to one thread (or one serial queue) at a time.
class RawDeveloper
{
public:
    explicit RawDeveloper(qint64 maxPixels);
    ~RawDeveloper();
    RawDeveloper(const RawDeveloper &) = delete;
    RawDeveloper &operator=(const RawDeveloper &) = delete;

    // Throws ImageLoadError: sourceCreationFailed when LibRaw cannot open the
    // file; decodeFailed when it opens but the sensor data is missing, cut
    // short, larger than maxPixels or than the file can hold, or fails to
    // develop, and when the work was stopped: over its budget for the file's
    // size or its time limit (RawWorkLimit), or because `stillWanted`, asked
    // every few thousand reads and at every stage, said no.
    // halfSize: every 2 x 2 block of photosites becomes one pixel without
    // demosaicing, a quarter of the work and of the memory (thumbnails of
    // files without a usable stored preview).
    enum class Resolution { full, halfSize };
    QImage develop(const QString &path, Resolution resolution = Resolution::full,
                   const std::function<bool()> &stillWanted = {});

private:
    static void onDataError(void *self, const char *file, int offset);
    bool sensorDataFitsFile(const QString &path) const;

    std::unique_ptr<LibRaw> m_raw;
    qint64 m_maxPixels;
    bool m_dataError = false;
};
