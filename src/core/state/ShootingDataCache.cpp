#include "state/ShootingDataCache.h"

#include "model/AdvisoryFileLock.h"
#include "model/LocalFileName.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <sys/stat.h>

namespace {

constexpr quint32 kMagic = 0x4b534449; // "KSDI"
constexpr quint32 kVersion = 2;        // 2: the file's modification time
constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_0;

void writeOptional(QDataStream &out, const std::optional<double> &value)
{
    out << bool(value) << value.value_or(0.0);
}

void writeOptional(QDataStream &out, const std::optional<int> &value)
{
    out << bool(value) << qint32(value.value_or(0));
}

template <typename T, typename Stored>
void readOptional(QDataStream &in, std::optional<T> &value)
{
    bool present = false;
    Stored stored{};
    in >> present >> stored;
    value = present ? std::optional<T>(T(stored)) : std::nullopt;
}

void write(QDataStream &out, const ShootingData &data)
{
    out << data.captureTime << quint8(data.timeSource) << data.fileModified << data.cameraMake
        << data.cameraModel << data.lens;
    writeOptional(out, data.focalLength);
    writeOptional(out, data.aperture);
    writeOptional(out, data.exposureTime);
    writeOptional(out, data.iso);
    out << data.pixelSize;
    writeOptional(out, data.burstSequence);
}

void read(QDataStream &in, ShootingData &data)
{
    quint8 source = 0;
    in >> data.captureTime >> source >> data.fileModified >> data.cameraMake >> data.cameraModel >>
        data.lens;
    data.timeSource = source == quint8(ShootingData::TimeSource::capture)
                          ? ShootingData::TimeSource::capture
                          : ShootingData::TimeSource::fileModified;
    readOptional<double, double>(in, data.focalLength);
    readOptional<double, double>(in, data.aperture);
    readOptional<double, double>(in, data.exposureTime);
    readOptional<int, qint32>(in, data.iso);
    in >> data.pixelSize;
    readOptional<int, qint32>(in, data.burstSequence);
}

} // namespace

QString ShootingDataCache::filePathBeside(const QString &ratingsFile)
{
    return QFileInfo(ratingsFile).path() + QStringLiteral("/shooting-data.cache");
}

ShootingDataCache ShootingDataCache::load(const QString &path)
{
    ShootingDataCache cache;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return cache;
    QDataStream in(&file);
    in.setVersion(kStreamVersion);
    quint32 magic = 0;
    quint32 version = 0;
    quint32 count = 0;
    in >> magic >> version >> count;
    if (in.status() != QDataStream::Ok || magic != kMagic || version != kVersion)
        return cache;
    // The count is not trusted for a reservation: a damaged one ends the
    // loop at the end of the data instead.
    for (quint32 i = 0; i < count; ++i) {
        QString photo;
        Entry entry;
        ShootingData data;
        in >> photo >> entry.stamp.size >> entry.stamp.modifiedNs;
        read(in, data);
        if (in.status() != QDataStream::Ok)
            return {};
        entry.data = std::make_shared<const ShootingData>(std::move(data));
        cache.entries.insert(photo, std::move(entry));
    }
    return cache;
}

bool ShootingDataCache::save(const QString &path) const
{
    const AdvisoryFileLock lock(path + QStringLiteral(".lock"));
    ShootingDataCache merged = load(path);
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it)
        merged.entries.insert(it.key(), it.value());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out.setVersion(kStreamVersion);
    out << kMagic << kVersion << quint32(merged.entries.size());
    for (auto it = merged.entries.constBegin(); it != merged.entries.constEnd(); ++it) {
        out << it.key() << it->stamp.size << it->stamp.modifiedNs;
        write(out, *it->data);
    }
    return out.status() == QDataStream::Ok && file.commit();
}

ShootingDataCache::Stamp ShootingDataCache::stampOf(const QString &path)
{
    struct stat info;
    if (::stat(LocalFileName::encode(path).constData(), &info) != 0)
        return {};
    return {qint64(info.st_size),
            qint64(info.st_mtim.tv_sec) * 1000000000 + qint64(info.st_mtim.tv_nsec)};
}
