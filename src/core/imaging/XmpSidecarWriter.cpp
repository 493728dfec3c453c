#include "imaging/XmpSidecarWriter.h"

#include "imaging/InFileRatingReader.h"
#include "imaging/SidecarFile.h"
#include "model/LocalFileName.h"

#include <QCoreApplication>
#include <algorithm>
#include <array>
#include <cerrno>
#include <exiv2/exiv2.hpp>
#include <sys/stat.h>

namespace {

std::function<void(const QString &)> &beforeReplace()
{
    static std::function<void(const QString &)> hook;
    return hook;
}

const char xmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// How often a sidecar that keeps changing under us is read again.
constexpr int kAttempts = 3;

// Windows keeps stars as a percentage too: 1-5 stars are 1, 25, 50, 75, 99.
std::string microsoftPhotoRating(int rating)
{
    static constexpr std::array<int, 6> percent{0, 1, 25, 50, 75, 99};
    return std::to_string(percent.at(size_t(std::clamp(rating, 0, 5))));
}

void putLabel(Exiv2::XmpData &xmp, ColourLabel label)
{
    if (label != ColourLabel::none) {
        xmp["Xmp.xmp.Label"] = CullingMark::xmpLabel(label).toStdString();
        return;
    }
    const auto old = xmp.findKey(Exiv2::XmpKey("Xmp.xmp.Label"));
    if (old != xmp.end())
        xmp.erase(old);
}

void putRating(Exiv2::XmpData &xmp, int rating)
{
    xmp["Xmp.xmp.Rating"] = std::to_string(rating);
    // A reject has no percentage: none.
    const auto windows = xmp.findKey(Exiv2::XmpKey("Xmp.MicrosoftPhoto.Rating"));
    if (windows != xmp.end())
        windows->setValue(microsoftPhotoRating(rating));
}

bool withValues(const QByteArray &oldPacket, const XmpSidecarWriter::Values &values,
                QByteArray *newPacket, QString *error)
{
    try {
        Exiv2::XmpData xmp;
        if (!oldPacket.isEmpty() && Exiv2::XmpParser::decode(xmp, oldPacket.toStdString()) != 0) {
            // A sidecar we cannot parse is the user's file: leave it alone.
            *error = QCoreApplication::translate("XmpSidecarWriter", "无法解析现有的 XMP 内容");
            return false;
        }
        if (values.rating)
            putRating(xmp, *values.rating);
        if (values.label)
            putLabel(xmp, *values.label);
        std::string packet;
        if (Exiv2::XmpParser::encode(packet, xmp,
                                     Exiv2::XmpParser::omitPacketWrapper |
                                         Exiv2::XmpParser::useCompactFormat) != 0) {
            *error = QCoreApplication::translate("XmpSidecarWriter", "无法生成 XMP 内容");
            return false;
        }
        *newPacket = xmlDeclaration + QByteArray::fromStdString(packet);
        return true;
    } catch (const std::exception &e) {
        *error = QString::fromLocal8Bit(e.what());
        return false;
    }
}

// Puts the values into the sidecar at `path`, or creates it there when
// `create`. A sidecar another program changes meanwhile is read again.
bool writeOne(const QString &path, bool create, const XmpSidecarWriter::Values &values,
              QString *error)
{
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        SidecarFile::Snapshot read;
        if (!create) {
            auto snapshot = SidecarFile::read(path, error);
            if (!snapshot)
                return false;
            read = std::move(*snapshot);
        }
        QByteArray packet;
        if (!withValues(read.content, values, &packet, error))
            return false;
        if (beforeReplace())
            beforeReplace()(path);
        switch (SidecarFile::replace(path, read, packet, error)) {
        case SidecarFile::Replaced::done:
            return true;
        case SidecarFile::Replaced::failed:
            return false;
        case SidecarFile::Replaced::changedMeanwhile:
            create = false;
            break;
        }
    }
    *error = QCoreApplication::translate("XmpSidecarWriter", "附属文件正被其他程序不断修改");
    return false;
}

// Certainly gone: a folder that cannot be searched is an error to report.
bool isGone(const QString &path)
{
    struct stat info;
    return ::stat(LocalFileName::encode(path).constData(), &info) != 0 && errno == ENOENT;
}

QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

} // namespace

XmpSidecarWriter::XmpSidecarWriter(QThreadPool &fileOperations, QObject *parent)
    : QObject(parent)
    , m_fileOperations(fileOperations)
{
    InFileRatingReader::initializeXmp();
}

XmpSidecarWriter::~XmpSidecarWriter()
{
    // Drained here, while the signals can still be emitted on a whole object.
    m_fileOperations.waitForDone();
}

void XmpSidecarWriter::Values::mergeLater(const Values &later)
{
    if (later.rating)
        rating = later.rating;
    if (later.label)
        label = later.label;
    skipIfGone = skipIfGone && later.skipIfGone;
}

bool XmpSidecarWriter::writeRatingNow(const QString &imagePath, int rating, QString *error)
{
    return writeValuesNow(imagePath, Values{rating, std::nullopt}, error);
}

bool XmpSidecarWriter::writeValuesNow(const QString &imagePath, const Values &values,
                                      QString *error)
{
    FolderIndexes folders;
    return writeValuesNow(imagePath, values, &folders, error);
}

bool XmpSidecarWriter::writeValuesNow(const QString &imagePath, const Values &values,
                                      FolderIndexes *folders, QString *error)
{
    QString unwantedReason; // `error` may be null
    error = error ? error : &unwantedReason;
    if (isGone(imagePath)) {
        if (values.skipIfGone)
            return true;
        // Not written: a rating meant for it is in no sidecar.
        *error = QStringLiteral("图片已不存在");
        return false;
    }
    InFileRatingReader::initializeXmp();
    const QString folder = folderOf(imagePath);
    ListedFolder *listed = listedFolder(folder, folders, error);
    if (!listed)
        return false;
    const bool written = writeSidecars(imagePath, values, &listed->index, error);
    // Our own renames changed the folder; the index still tells its sidecars.
    listed->stamp = stampOf(folder);
    return written;
}

bool XmpSidecarWriter::writeSidecars(const QString &imagePath, const Values &values,
                                     SidecarIndex *index, QString *error)
{
    const QStringList sidecars = index->sidecarsOf(imagePath);
    if (sidecars.isEmpty()) {
        const QString created = index->newSidecarFor(imagePath);
        if (!writeOne(created, true, values, error))
            return false;
        index->addSidecar(created);
        return true;
    }
    for (const QString &sidecar : sidecars) {
        if (!writeOne(sidecar, false, values, error))
            return false;
    }
    return true;
}

XmpSidecarWriter::FolderStamp XmpSidecarWriter::stampOf(const QString &folder)
{
    struct stat info;
    if (::stat(LocalFileName::encode(folder).constData(), &info) != 0)
        return {};
    return {qint64(info.st_dev), qint64(info.st_ino), qint64(info.st_mtim.tv_sec),
            qint64(info.st_mtim.tv_nsec)};
}

XmpSidecarWriter::ListedFolder *
XmpSidecarWriter::listedFolder(const QString &folder, FolderIndexes *folders, QString *error)
{
    auto known = folders->find(folder);
    const bool firstTime = known == folders->end();
    if (firstTime)
        SidecarFile::removeStaleTemporaries(folder);
    const FolderStamp stamp = stampOf(folder);
    // Unchanged since it was listed (an archive or another program changes
    // its time): the index still holds.
    if (!firstTime && stamp != FolderStamp{} && known->stamp == stamp)
        return &*known;
    // The folder's names as they are now: sidecars made since the folder was
    // scanned count, in whatever case they are spelled.
    std::optional<SidecarIndex> listed = SidecarIndex::ofFolder(folder);
    if (!listed) {
        *error = qt_error_string(errno);
        return nullptr;
    }
    return &*folders->insert(folder, {std::move(*listed), stamp});
}

void XmpSidecarWriter::setBeforeReplace(std::function<void(const QString &)> hook)
{
    beforeReplace() = std::move(hook);
}

void XmpSidecarWriter::writeRating(const QString &imagePath, int rating)
{
    writeValues(imagePath, Values{rating, std::nullopt});
}

void XmpSidecarWriter::writeValues(const QString &imagePath, const Values &values)
{
    bool alreadyQueued = false;
    {
        QMutexLocker lock(&m_mutex);
        const auto pending = m_pending.find(imagePath);
        alreadyQueued = pending != m_pending.end();
        if (alreadyQueued)
            pending->mergeLater(values);
        else
            m_pending.insert(imagePath, values);
        if (!alreadyQueued)
            ++m_unfinished[imagePath];
    }
    if (!alreadyQueued)
        m_fileOperations.start([this, imagePath] { writePending(imagePath); });
}

void XmpSidecarWriter::waitForDone()
{
    m_fileOperations.waitForDone();
}

void XmpSidecarWriter::writePending(const QString &imagePath)
{
    Values values;
    {
        QMutexLocker lock(&m_mutex);
        values = m_pending.take(imagePath);
    }
    QString error;
    const bool done = writeValuesNow(imagePath, values, &m_drainFolders, &error);
    bool drained = false;
    {
        QMutexLocker lock(&m_mutex);
        if (--m_unfinished[imagePath] == 0)
            m_unfinished.remove(imagePath);
        drained = m_pending.isEmpty();
    }
    // The next write may come much later: the folders are listed again then.
    if (drained)
        m_drainFolders.clear();
    if (done)
        Q_EMIT written(imagePath);
    else
        Q_EMIT writeFailed(imagePath, error);
}

QSet<QString> XmpSidecarWriter::unfinishedWrites() const
{
    QMutexLocker lock(&m_mutex);
    QSet<QString> paths;
    paths.reserve(m_unfinished.size());
    for (auto it = m_unfinished.constBegin(); it != m_unfinished.constEnd(); ++it)
        paths.insert(it.key());
    return paths;
}
