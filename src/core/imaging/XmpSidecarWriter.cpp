#include "imaging/XmpSidecarWriter.h"

#include "imaging/InFileRatingReader.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <exiv2/exiv2.hpp>
#include <sys/stat.h>

namespace {

const char xmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

bool readPacket(const QString &path, std::string *packet, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    *packet = file.readAll().toStdString();
    return true;
}

bool withRating(const std::string &oldPacket, int rating, std::string *newPacket, QString *error)
{
    try {
        Exiv2::XmpData xmp;
        if (!oldPacket.empty() && Exiv2::XmpParser::decode(xmp, oldPacket) != 0) {
            // A sidecar we cannot parse is the user's file: leave it alone.
            *error = QCoreApplication::translate("XmpSidecarWriter", "无法解析现有的 XMP 内容");
            return false;
        }
        xmp["Xmp.xmp.Rating"] = std::to_string(rating);
        if (Exiv2::XmpParser::encode(*newPacket, xmp,
                                     Exiv2::XmpParser::omitPacketWrapper |
                                         Exiv2::XmpParser::useCompactFormat) != 0) {
            *error = QCoreApplication::translate("XmpSidecarWriter", "无法生成 XMP 内容");
            return false;
        }
        newPacket->insert(0, xmlDeclaration);
        return true;
    } catch (const std::exception &e) {
        *error = QString::fromLocal8Bit(e.what());
        return false;
    }
}

bool replaceAtomically(const QString &path, const std::string &content, QString *error)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const auto size = static_cast<qint64>(content.size());
    if (file.write(content.data(), size) != size || !file.commit()) {
        *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

// Certainly gone: a folder that cannot be searched is an error to report.
bool isGone(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) != 0 && errno == ENOENT;
}

bool writeOne(const QString &sidecar, bool exists, int rating, QString *error)
{
    std::string oldPacket;
    if (exists && !readPacket(sidecar, &oldPacket, error))
        return false;
    std::string newPacket;
    return withRating(oldPacket, rating, &newPacket, error) &&
           replaceAtomically(sidecar, newPacket, error);
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
    if (isGone(imagePath))
        return true;
    InFileRatingReader::initializeXmp();
    bool anyExists = false;
    for (const QString &sidecar : InFileRatingReader::sidecarCandidates(imagePath)) {
        if (!QFileInfo::exists(sidecar))
            continue;
        anyExists = true;
        if (!writeOne(sidecar, true, rating, error))
            return false;
    }
    if (!anyExists)
        return writeOne(InFileRatingReader::fullNameSidecar(imagePath), false, rating, error);
    return true;
}

void XmpSidecarWriter::writeRating(const QString &imagePath, int rating)
{
    bool alreadyQueued = false;
    {
        QMutexLocker lock(&m_mutex);
        alreadyQueued = m_pending.contains(imagePath);
        m_pending.insert(imagePath, rating);
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
    if (writeRatingNow(imagePath, rating, &error))
        Q_EMIT written(imagePath, rating);
    else
        Q_EMIT writeFailed(imagePath, error);
}
