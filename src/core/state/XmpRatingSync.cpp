#include "state/XmpRatingSync.h"

#include "imaging/InFileRatingReader.h"
#include "model/BackgroundTask.h"
#include "model/CullingMarkStore.h"
#include "model/SettingsFile.h"
#include "model/SidecarIndex.h"
#include "model/StarRatingStore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>
#include <algorithm>
#include <memory>

XmpRatingSync::XmpRatingSync(StarRatingStore &store, CullingMarkStore &marks,
                             QThreadPool &fileOperations, const QString &settingsFile,
                             QObject *parent)
    : XmpRatingSync(store, marks, fileOperations, settingsFile,
                    InFileRatingCache::filePathBeside(store.filePath()), parent)
{}

XmpRatingSync::XmpRatingSync(StarRatingStore &store, CullingMarkStore &marks,
                             QThreadPool &fileOperations, const QString &settingsFile,
                             const QString &cacheFile, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_marks(marks)
    , m_settingsFile(settingsFile)
    , m_cache(std::make_shared<SharedCache>())
    , m_writer(fileOperations)
{
    m_cache->path = cacheFile;
    m_importer.setMaxThreadCount(1);
    m_progressTimer.setInterval(100);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] {
        Q_EMIT statusReport(QStringLiteral("正在读取评分 ") +
                            QString::number(m_import->done.load()) + QStringLiteral(" / ") +
                            QString::number(m_importTotal));
    });
    m_enabled = SettingsFile::open(m_settingsFile)->value(settingKey(), false).toBool();
    connect(&m_store, &StarRatingStore::ratingChanged, this, &XmpRatingSync::onRatingChanged);
    connect(&m_marks, &CullingMarkStore::markChanged, this, &XmpRatingSync::onMarkChanged);
    connect(&m_marks, &CullingMarkStore::marksChanged, this, &XmpRatingSync::onMarksChanged);
    // The writer's signals come from its thread; handle them here.
    connect(&m_writer, &XmpSidecarWriter::written, this, &XmpRatingSync::onWritten);
    connect(&m_writer, &XmpSidecarWriter::writeFailed, this, &XmpRatingSync::onWriteFailed);
}

XmpRatingSync::~XmpRatingSync()
{
    // The last writes' outcomes are still on their way here: a failure must
    // reach the cache, or the next start would take the older file value
    // back. Nothing is reported any more; the receivers are going too.
    disconnect(this, nullptr, nullptr, nullptr);
    if (m_import)
        m_import->dropped = true;
    m_writer.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

QString XmpRatingSync::settingKey()
{
    return QStringLiteral("ratings/syncToXmpSidecars");
}

void XmpRatingSync::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    SettingsFile::open(m_settingsFile)->setValue(settingKey(), enabled);
    Q_EMIT enabledChanged(enabled);
}

void XmpRatingSync::waitForDone()
{
    m_writer.waitForDone();
}

int XmpRatingSync::sidecarRating(const QString &path) const
{
    return m_marks.mark(path).flag == CullingFlag::reject ? -1 : m_store.rating(path);
}

void XmpRatingSync::onRatingChanged(const QString &path, int, int)
{
    if (m_enabled)
        m_writer.writeRating(path, sidecarRating(path));
}

void XmpRatingSync::onMarkChanged(const QString &path, const CullingMark &oldMark,
                                  const CullingMark &newMark)
{
    if (!m_enabled)
        return;
    XmpSidecarWriter::Values values;
    if ((oldMark.flag == CullingFlag::reject) != (newMark.flag == CullingFlag::reject))
        values.rating = sidecarRating(path);
    if (oldMark.label != newMark.label)
        values.label = newMark.label;
    if (values.rating || values.label)
        m_writer.writeValues(path, values);
}

void XmpRatingSync::onMarksChanged(const QStringList &paths)
{
    if (!m_enabled)
        return;
    // The old marks are not told: both parts are written. Files that vanished
    // or moved away lose their marks here too; they get no sidecar.
    for (const QString &path : paths)
        m_writer.writeValues(path, {sidecarRating(path), m_marks.mark(path).label, true});
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
        m_writer.writeRating(it.key(), sidecarRating(it.key()));
    }
}

void XmpRatingSync::followMovedFiles(const QStringList &from, const QStringList &to,
                                     const QHash<QString, int> &ratingsBefore)
{
    Q_ASSERT(from.size() == to.size());
    bool marksMoved = false;
    for (qsizetype i = 0; i < std::min(from.size(), to.size()); ++i) {
        const bool failed = m_failedFiles.remove(from.at(i));
        if (failed)
            m_failedFiles.insert(to.at(i));
        marksMoved |= failed;
        const int rating = m_store.rating(to.at(i));
        if (m_enabled && (failed || rating != ratingsBefore.value(from.at(i))))
            m_writer.writeRating(to.at(i), sidecarRating(to.at(i)));
    }
    if (marksMoved)
        saveCache();
    if (!m_enabled || from.isEmpty())
        return;
    // The writer reaches this after every write posted for the old paths,
    // and their outcomes arrive here before its own.
    m_movedAway.unite(QSet<QString>(from.cbegin(), from.cend()));
    BackgroundTask::run(
        m_writer.pool(), this, [] { return true; },
        [this, from](bool) {
            for (const QString &path : from)
                m_movedAway.remove(path);
        });
}

void XmpRatingSync::onWritten(const QString &path)
{
    if (m_failedFiles.remove(path))
        saveCache();
    countBulkWrite(path);
}

void XmpRatingSync::onWriteFailed(const QString &path, const QString &reason)
{
    // Its photo has moved, and the rating is written at its new place.
    if (m_movedAway.contains(path)) {
        countBulkWrite(path);
        return;
    }
    if (!m_failedFiles.contains(path)) {
        m_failedFiles.insert(path);
        saveCache();
    }
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

InFileRatingCache &XmpRatingSync::SharedCache::loaded()
{
    if (!cache)
        cache = InFileRatingCache::load(path);
    return *cache;
}

void XmpRatingSync::saveCache()
{
    m_cacheWriter.post([cache = m_cache, unwritten = m_failedFiles] {
        QMutexLocker lock(&cache->mutex);
        InFileRatingCache &loaded = cache->loaded();
        loaded.unwritten = unwritten;
        loaded.save(cache->path);
    });
}

void XmpRatingSync::recordRead(const QHash<QString, InFileRatingCache::Entry> &read)
{
    if (read.isEmpty())
        return;
    m_importer.start([cache = m_cache, read] {
        QMutexLocker lock(&cache->mutex);
        InFileRatingCache &shared = cache->loaded();
        for (auto it = read.constBegin(); it != read.constEnd(); ++it)
            shared.entries.insert(it.key(), it.value());
        shared.save(cache->path);
    });
}

QFuture<void> XmpRatingSync::importRatings(const QStringList &imagePaths,
                                           const QStringList &sidecars)
{
    if (!m_enabled || imagePaths.isEmpty())
        return QtFuture::makeReadyFuture();
    QHash<QString, int> before;
    before.reserve(imagePaths.size());
    QHash<QString, CullingMark> marksBefore;
    for (const QString &path : imagePaths) {
        before.insert(path, m_store.rating(path));
        if (const CullingMark mark = m_marks.mark(path); !mark.isEmpty())
            marksBefore.insert(path, mark);
    }
    // The folder opened last is the one looked at: an earlier import stops.
    if (m_import)
        m_import->dropped = true;
    m_import = std::make_shared<ImportProgress>();
    m_importTotal = imagePaths.size();
    ++m_importsRunning;
    m_progressTimer.start();
    return BackgroundTask::run(
        &m_importer, this,
        [imagePaths, sidecars, cache = m_cache, progress = m_import] {
            return readRatings(imagePaths, sidecars, cache, progress);
        },
        [this, before, marksBefore, writing = m_writer.unfinishedWrites(),
         progress = m_import](const ImportResult &result) {
            applyImport(result, {before, marksBefore, writing}, progress->dropped);
        });
}

XmpRatingSync::ImportResult
XmpRatingSync::readRatings(const QStringList &imagePaths, const QStringList &sidecars,
                           const std::shared_ptr<SharedCache> &cache,
                           const std::shared_ptr<ImportProgress> &progress)
{
    // The scan's listing, in any case: IMG.JPG.XMP counts as IMG.JPG.xmp.
    // The photos tell which <stem>.xmp belongs to a RAW file.
    const SidecarIndex listed(sidecars + imagePaths);
    InFileRatingCache known;
    {
        QMutexLocker lock(&cache->mutex);
        known = cache->loaded();
    }

    struct Read
    {
        QString path;
        bool opened = false;
        InFileRatingCache::Entry entry;
    };
    QList<Read> reads;
    reads.reserve(imagePaths.size());
    for (const QString &path : imagePaths)
        reads.append({path, false, {}});
    QtConcurrent::blockingMap(reads, [&](Read &read) {
        if (progress->dropped)
            return;
        const QStringList existing = listed.sidecarsOf(read.path);
        const QString stamp = InFileRatingCache::stampOf(read.path, existing);
        const auto cached = known.entries.constFind(read.path);
        if (!stamp.isEmpty() && (cached == known.entries.constEnd() || cached->stamp != stamp)) {
            read.opened = true;
            const auto found = InFileRatingReader::readAll(read.path, existing);
            read.entry = {stamp, found.rating, found.mark};
        }
        ++progress->done;
    });

    ImportResult result;
    for (const Read &read : std::as_const(reads)) {
        if (read.opened)
            result.found.insert(read.path, read.entry);
    }
    QMutexLocker lock(&cache->mutex);
    result.unwritten = cache->loaded().unwritten;
    return result;
}

void XmpRatingSync::importMarks(const ImportResult &result, const ImportStart &start,
                                const QSet<QString> &stillWriting)
{
    // Only parts the table leaves empty are filled: a mark given here wins,
    // and so does one given or written while the files were read.
    QStringList rejected;
    QHash<ColourLabel, QStringList> labelled;
    for (auto it = result.found.constBegin(); it != result.found.constEnd(); ++it) {
        const QString &path = it.key();
        const CullingMark before = start.marks.value(path);
        const CullingMark now = m_marks.mark(path);
        if (it->mark.isEmpty() || now != before || m_failedFiles.contains(path) ||
            start.writing.contains(path) || stillWriting.contains(path))
            continue;
        if (it->mark.flag == CullingFlag::reject && now.flag == CullingFlag::none)
            rejected << path;
        if (it->mark.label != ColourLabel::none && now.label == ColourLabel::none)
            labelled[it->mark.label] << path;
    }
    m_marks.setFlags(rejected, CullingFlag::reject);
    for (auto it = labelled.constBegin(); it != labelled.constEnd(); ++it)
        m_marks.setLabels(it.value(), it.key());
}

void XmpRatingSync::applyImport(const ImportResult &result, const ImportStart &start,
                                bool superseded)
{
    const QHash<QString, int> &before = start.ratings;
    const QSet<QString> &writing = start.writing;
    // A sidecar whose write was under way while it was read may have shown
    // the rating that write replaces.
    const QSet<QString> stillWriting = m_writer.unfinishedWrites();
    if (--m_importsRunning == 0)
        m_progressTimer.stop();
    m_failedFiles.unite(result.unwritten);
    QHash<QString, int> taken;
    for (auto it = result.found.constBegin(); it != result.found.constEnd(); ++it) {
        const QString &path = it.key();
        const int inFile = it->rating;
        const int tableBefore = before.value(path);
        // A rating changed here while reading, or not yet in the sidecar, stays.
        if (inFile < 1 || inFile == tableBefore || m_failedFiles.contains(path) ||
            m_store.rating(path) != tableBefore || writing.contains(path) ||
            stillWriting.contains(path))
            continue;
        taken.insert(path, inFile);
    }
    m_store.setRatings(taken);
    importMarks(result, start, stillWriting);
    recordRead(result.found);
    // What a superseded import read still counts; the newer one reports.
    if (!superseded)
        Q_EMIT importFinished(taken.size());
}
