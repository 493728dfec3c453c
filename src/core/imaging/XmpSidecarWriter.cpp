#include "imaging/XmpSidecarWriter.h"

#include "imaging/InFileRatingReader.h"
#include "imaging/SidecarFile.h"
#include "model/FolderListing.h"
#include "model/LocalFileName.h"
#include "model/SidecarIndex.h"

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

bool withRating(const QByteArray &oldPacket, int rating, QByteArray *newPacket, QString *error)
{
    try {
        Exiv2::XmpData xmp;
        if (!oldPacket.isEmpty() && Exiv2::XmpParser::decode(xmp, oldPacket.toStdString()) != 0) {
            // A sidecar we cannot parse is the user's file: leave it alone.
            *error = QCoreApplication::translate("XmpSidecarWriter", "无法解析现有的 XMP 内容");
            return false;
        }
        xmp["Xmp.xmp.Rating"] = std::to_string(rating);
        const auto windows = xmp.findKey(Exiv2::XmpKey("Xmp.MicrosoftPhoto.Rating"));
        if (windows != xmp.end())
            windows->setValue(microsoftPhotoRating(rating));
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

// Puts the rating into the sidecar at `path`, or creates it there when
// `create`. A sidecar another program changes meanwhile is read again.
bool writeOne(const QString &path, bool create, int rating, QString *error)
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
        if (!withRating(read.content, rating, &packet, error))
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

XmpSidecarWriter::XmpSidecarWriter(QObject *parent)
    : QObject(parent)
{
    InFileRatingReader::initializeXmp();
}

XmpSidecarWriter::~XmpSidecarWriter()
{
    // Drained here, while the signals can still be emitted on a whole object.
    m_writer.waitForDone();
}

bool XmpSidecarWriter::writeRatingNow(const QString &imagePath, int rating, QString *error)
{
    if (isGone(imagePath)) {
        // Not written: a rating meant for it is in no sidecar.
        if (error)
            *error = QCoreApplication::translate("XmpSidecarWriter", "图片已不存在");
        return false;
    }
    InFileRatingReader::initializeXmp();
    // The folder's names as they are now: sidecars made since the folder was
    // scanned count, in whatever case they are spelled.
    const QString folder = folderOf(imagePath);
    const auto names = FolderListing::names(LocalFileName::encode(folder));
    if (!names) {
        *error = qt_error_string(errno);
        return false;
    }
    QStringList files;
    files.reserve(names->size());
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    for (const QByteArray &name : *names)
        files.append(prefix + LocalFileName::decode(name));
    const SidecarIndex index(files);
    const QStringList sidecars = index.sidecarsOf(imagePath);
    if (sidecars.isEmpty())
        return writeOne(index.newSidecarFor(imagePath), true, rating, error);
    for (const QString &sidecar : sidecars) {
        if (!writeOne(sidecar, false, rating, error))
            return false;
    }
    return true;
}

void XmpSidecarWriter::setBeforeReplace(std::function<void(const QString &)> hook)
{
    beforeReplace() = std::move(hook);
}

void XmpSidecarWriter::writeRating(const QString &imagePath, int rating)
{
    bool alreadyQueued = false;
    {
        QMutexLocker lock(&m_mutex);
        alreadyQueued = m_pending.contains(imagePath);
        m_pending.insert(imagePath, rating);
        if (!alreadyQueued)
            ++m_unfinished[imagePath];
    }
    if (!alreadyQueued)
        m_writer.post([this, imagePath] { writePending(imagePath); });
}

void XmpSidecarWriter::waitForDone()
{
    m_writer.waitForDone();
}

void XmpSidecarWriter::writePending(const QString &imagePath)
{
    int rating = 0;
    {
        QMutexLocker lock(&m_mutex);
        rating = m_pending.take(imagePath);
    }
    QString error;
    const bool done = writeRatingNow(imagePath, rating, &error);
    {
        QMutexLocker lock(&m_mutex);
        if (--m_unfinished[imagePath] == 0)
            m_unfinished.remove(imagePath);
    }
    if (done)
        Q_EMIT written(imagePath, rating);
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
