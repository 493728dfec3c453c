#include "state/XmpRatingSync.h"

#include "model/StarRatingStore.h"

#include <QFileInfo>
#include <QSettings>
#include <memory>

namespace {

std::unique_ptr<QSettings> openSettings(const QString &settingsFile)
{
    if (settingsFile.isEmpty())
        return std::make_unique<QSettings>(QStringLiteral("Kelvane"), QStringLiteral("Kelvane"));
    return std::make_unique<QSettings>(settingsFile, QSettings::IniFormat);
}

} // namespace

XmpRatingSync::XmpRatingSync(StarRatingStore &store, const QString &settingsFile, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_settingsFile(settingsFile)
{
    m_enabled = openSettings(m_settingsFile)->value(settingKey(), false).toBool();
    connect(&m_store, &StarRatingStore::ratingChanged, this, &XmpRatingSync::onRatingChanged);
    // The writer's signals come from its thread; handle them here.
    connect(&m_writer, &XmpSidecarWriter::written, this,
            [this](const QString &path, int) { onWritten(path); });
    connect(&m_writer, &XmpSidecarWriter::writeFailed, this, &XmpRatingSync::onWriteFailed);
}

XmpRatingSync::~XmpRatingSync() = default;

QString XmpRatingSync::settingKey()
{
    return QStringLiteral("ratings/syncToXmpSidecars");
}

void XmpRatingSync::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    openSettings(m_settingsFile)->setValue(settingKey(), enabled);
    Q_EMIT enabledChanged(enabled);
}

void XmpRatingSync::waitForDone()
{
    m_writer.waitForDone();
}

void XmpRatingSync::onRatingChanged(const QString &path, int, int newRating)
{
    if (m_enabled)
        m_writer.writeRating(path, newRating);
}

void XmpRatingSync::writeAll(const QHash<QString, int> &ratings)
{
    if (!m_enabled || ratings.isEmpty())
        return;
    for (auto it = ratings.begin(); it != ratings.end(); ++it) {
        if (m_bulkPending.contains(it.key()))
            continue;
        m_bulkPending.insert(it.key());
        ++m_bulkTotal;
        m_writer.writeRating(it.key(), it.value());
    }
}

void XmpRatingSync::onWritten(const QString &path)
{
    m_failedFiles.remove(path);
    countBulkWrite(path);
}

void XmpRatingSync::onWriteFailed(const QString &path, const QString &reason)
{
    m_failedFiles.insert(path);
    const QString folder = QFileInfo(path).path();
    if (!m_reportedFolders.contains(folder)) {
        m_reportedFolders.insert(folder);
        Q_EMIT statusReport(QStringLiteral("无法写入 XMP 附属文件：") + reason);
    }
    if (m_bulkPending.contains(path) && m_bulkFailure.isEmpty())
        m_bulkFailure = QStringLiteral("无法写入 XMP 附属文件：") + reason;
    countBulkWrite(path);
}

void XmpRatingSync::countBulkWrite(const QString &path)
{
    if (!m_bulkPending.remove(path))
        return;
    const qsizetype done = m_bulkTotal - m_bulkPending.size();
    if (m_bulkPending.isEmpty()) {
        // A failure stays the last word, or progress would hide it.
        Q_EMIT statusReport(m_bulkFailure.isEmpty()
                                ? QStringLiteral("已将 ") + QString::number(done) +
                                      QStringLiteral(" 个评分写入 XMP 附属文件")
                                : m_bulkFailure);
        m_bulkTotal = 0;
        m_bulkFailure.clear();
    } else {
        Q_EMIT statusReport(QStringLiteral("正在写入 XMP 附属文件 ") + QString::number(done) +
                            QStringLiteral(" / ") + QString::number(m_bulkTotal));
    }
}
