#include "state/FolderSession.h"

#include "imaging/ImageLoader.h"
#include "model/BackgroundTask.h"
#include "model/FolderScanner.h"
#include "model/NaturalOrder.h"
#include "state/AppState.h"

#include <QThreadPool>

namespace {

QString imageCountText(qsizetype count)
{
    return QStringLiteral("共 ") + QString::number(count) + QStringLiteral(" 张图片");
}

// The node of `tree` showing `url`, or nullptr.
const FolderNode *nodeAt(const FolderNode &tree, const QUrl &url)
{
    if (tree.url == url)
        return &tree;
    for (const FolderNode &child : tree.children) {
        if (const FolderNode *found = nodeAt(child, url))
            return found;
    }
    return nullptr;
}

} // namespace

FolderSession::FolderSession(AppState &state, QThreadPool &scans, QThreadPool &counts)
    : m_state(state)
    , m_scans(scans)
    , m_counts(counts)
{
    XmpRatingSync &sync = m_state.xmpRatingSync();
    connect(&sync, &XmpRatingSync::statusReport, &m_state, &AppState::setStatusMessage);
    connect(&sync, &XmpRatingSync::importFinished, this, &FolderSession::reportImportedRatings);
    connect(&sync, &XmpRatingSync::enabledChanged, this, [this](bool enabled) {
        if (enabled)
            writeSidecarsOfRatedImages();
    });
    ShootingDataIndex &index = m_state.shootingData();
    connect(&index, &ShootingDataIndex::progressChanged, this, &FolderSession::reportIndexProgress);
    connect(&index, &ShootingDataIndex::completed, this, &FolderSession::reportIndexCompleted);
}

FolderSession::~FolderSession()
{
    // Quitting never waits for a count of a large tree.
    stopImagesBelowCount();
}

QString FolderSession::subfolderImagesText(qsizetype count)
{
    return QStringLiteral("此文件夹没有图片，子文件夹中有 ") + QString::number(count) +
           QStringLiteral(" 张");
}

QFuture<void> FolderSession::open(const QUrl &url, bool includeSubfolders)
{
    stopImagesBelowCount();
    m_state.setLoading(true);
    m_state.setStatusMessage(QStringLiteral("正在扫描文件夹..."));
    m_state.imageLoader().clearThumbnailCache();
    // The sort runs on the scanner's thread too, so the UI thread only applies the result.
    return BackgroundTask::run(
        &m_scans, this, [url, includeSubfolders] { return scanAndPrepare(url, includeSubfolders); },
        [this, url, includeSubfolders](ScannedFolder scanned) {
            if (scanned.listed)
                applyOpened(url, includeSubfolders, std::move(scanned));
            else
                reportFailedScan(url, true);
        },
        [this, url] { reportFailedScan(url, false); });
}

QFuture<void> FolderSession::refresh(const FolderNode &node)
{
    stopImagesBelowCount();
    m_state.setLoading(true);
    m_state.setStatusMessage(QStringLiteral("正在刷新..."));
    return BackgroundTask::run(
        &m_scans, this, [url = node.url] { return scanAndPrepare(url, true); },
        [this, target = node.id, url = node.url](ScannedFolder scanned) {
            if (scanned.listed)
                applyRefreshed(target, std::move(scanned));
            else
                reportFailedScan(url, true);
        },
        [this, url = node.url] { reportFailedScan(url, false); });
}

QFuture<void> FolderSession::reload()
{
    const std::optional<FolderNode> &open = m_state.currentFolder();
    const std::optional<QUrl> &shown = m_state.selectedFolderURL();
    const FolderNode *node = open && shown ? nodeAt(*open, *shown) : nullptr;
    if (!node)
        return QtFuture::makeReadyFuture();
    return BackgroundTask::run(
        &m_scans, this,
        // The items are matched on the scanner's thread: a folder of 100,000
        // photos would keep the UI thread busy for a noticeable moment.
        [url = node->url, subfolders = m_includeSubfolders, known = m_state.images()] {
            ScannedFolder scanned = scanAndPrepare(url, subfolders);
            keepKnownItems(scanned.images, known);
            return scanned;
        },
        [this, target = node->id, url = node->url](ScannedFolder scanned) {
            if (scanned.listed)
                applyReloaded(target, std::move(scanned));
            else
                reportFailedScan(url, true);
        },
        [this, url = node->url] { reportFailedScan(url, false); });
}

void FolderSession::keepKnownItems(QList<ImageItem> &scanned, const QList<ImageItem> &known)
{
    QMultiHash<QString, ImageItem> byPath;
    byPath.reserve(known.size());
    for (const ImageItem &item : known)
        byPath.insert(item.path(), item);
    for (ImageItem &item : scanned) {
        if (const auto it = byPath.constFind(item.path()); it != byPath.cend()) {
            item = *it;
            byPath.erase(it);
        }
    }
}

FolderSession::ScannedFolder FolderSession::scanAndPrepare(const QUrl &url, bool includeSubfolders)
{
    if (!FolderScanner::canList(url))
        return {};
    ScannedFolder scanned;
    scanned.node = FolderScanner::scanFolder(url, includeSubfolders);
    scanned.listed = true;
    scanned.images = scanned.node.allImages();
    NaturalOrder().sortByFilename(scanned.images);
    scanned.imagesPerPath = ImageListPipeline::countImagesPerPath(scanned.images);
    collectSidecars(scanned.node, scanned.sidecars);
    scanned.imagePaths.reserve(scanned.images.size());
    for (const ImageItem &image : std::as_const(scanned.images))
        scanned.imagePaths.append(image.path());
    return scanned;
}

void FolderSession::collectSidecars(const FolderNode &node, QStringList &sidecars)
{
    sidecars += node.sidecars;
    for (const FolderNode &child : node.children)
        collectSidecars(child, sidecars);
}

void FolderSession::applyOpened(const QUrl &url, bool includeSubfolders, ScannedFolder scanned)
{
    const FolderNode &node = scanned.node;
    m_state.setCurrentFolder(node);
    m_includeSubfolders = includeSubfolders;
    m_state.setSelectedFolderURL(node.url);
    m_state.applyImages(scanned.images, std::move(scanned.imagesPerPath));
    m_state.folderHistory().add(url);
    clearBrowsingState();
    m_state.starRatingStore().cleanupStaleEntries(url.toLocalFile());
    m_state.cullingMarks().cleanupStaleEntries(url.toLocalFile());
    reportImageCount();
    if (!includeSubfolders && m_state.images().isEmpty())
        countImagesBelow(node.url);
    m_state.xmpRatingSync().importRatings(scanned.imagePaths, scanned.sidecars);
    indexShootingData(scanned.imagePaths);
}

void FolderSession::applyRefreshed(const QUuid &target, ScannedFolder scanned)
{
    const FolderNode &fresh = scanned.node;
    if (const auto &current = m_state.currentFolder())
        m_state.setCurrentFolder(current->replacingNode(target, fresh));
    m_state.setSelectedFolderURL(fresh.url);
    m_state.applyImages(scanned.images, std::move(scanned.imagesPerPath));
    m_includeSubfolders = true;
    m_state.clearFilters();
    m_state.setViewerActive(false);
    m_state.setSelectedImage(std::nullopt);
    m_state.setSelectedImageIDs({});
    reportImageCount();
    indexShootingData(scanned.imagePaths);
}

void FolderSession::applyReloaded(const QUuid &target, ScannedFolder scanned)
{
    const std::optional<FolderNode> &current = m_state.currentFolder();
    if (!current || !current->find(target))
        return; // another folder was opened or chosen meanwhile
    m_state.setCurrentFolder(current->replacingNode(target, scanned.node));
    m_state.applyImages(scanned.images, std::move(scanned.imagesPerPath));
    QSet<QUuid> selected;
    for (const ImageItem &item : std::as_const(scanned.images)) {
        if (m_state.selectedImageIDs().contains(item.id()))
            selected.insert(item.id());
    }
    m_state.setSelectedImageIDs(selected);
    m_state.keepViewerInList();
    reportImageCount();
    indexShootingData(scanned.imagePaths);
}

void FolderSession::clearBrowsingState()
{
    m_state.clearFilters();
    m_state.setSelectedImage(std::nullopt);
    m_state.setSelectedImageIDs({});
}

void FolderSession::reportImageCount()
{
    m_state.setLoading(false);
    m_imagesOnlyInSubfolders = 0;
    m_state.setStatusMessage(imageCountText(m_state.images().size()));
}

void FolderSession::reportFailedScan(const QUrl &url, bool unreadable)
{
    // The previous folder stays as it was; only the busy state ends.
    const QString name = FolderNode::displayName(url.toLocalFile());
    m_state.setLoading(false);
    m_state.setStatusMessage(
        unreadable ? QStringLiteral("无法读取文件夹「") + name + QStringLiteral("」")
                   : QStringLiteral("扫描文件夹「") + name + QStringLiteral("」时出错"));
}

void FolderSession::reportImportedRatings(qsizetype taken)
{
    m_state.setStatusMessage(imageCountText(m_state.images().size()));
    if (taken > 0)
        m_state.setToastMessage(QStringLiteral("已从文件读取 ") + QString::number(taken) +
                                QStringLiteral(" 个评分"));
}

void FolderSession::indexShootingData(const QStringList &imagePaths)
{
    m_indexStatus.clear();
    m_state.shootingData().setPaths(imagePaths);
}

void FolderSession::reportIndexProgress(int done, int total)
{
    // A text anyone else put there (a rating, a failure, another reading's
    // progress) stays; the index takes the line again once it shows the count.
    const QString &shown = m_state.statusMessage();
    if (done >= total ||
        (shown != imageCountText(m_state.images().size()) && shown != m_indexStatus))
        return;
    m_indexStatus = QStringLiteral("正在读取拍摄信息 ") + QString::number(done) +
                    QStringLiteral(" / ") + QString::number(total);
    m_state.setStatusMessage(m_indexStatus);
}

void FolderSession::reportIndexCompleted()
{
    if (!m_indexStatus.isEmpty() && m_state.statusMessage() == m_indexStatus)
        m_state.setStatusMessage(imageCountText(m_state.images().size()));
    m_indexStatus.clear();
}

void FolderSession::writeSidecarsOfRatedImages()
{
    QHash<QString, int> rated;
    for (const ImageItem &item : m_state.images()) {
        if (const int rating = m_state.rating(item); rating > 0)
            rated.insert(item.path(), rating);
    }
    m_state.xmpRatingSync().writeAll(rated);
}

void FolderSession::countImagesBelow(const QUrl &url)
{
    // The whole tree may be large (a home folder, a share's root): the open
    // is shown at once and the hint follows when the count arrives.
    auto stop = std::make_shared<std::atomic_bool>(false);
    m_stopImagesBelowCount = stop;
    BackgroundTask::run(
        &m_counts, this, [url, stop] { return FolderScanner::countImages(url, *stop); },
        [this, url, stop](qsizetype count) {
            const auto &current = m_state.currentFolder();
            if (*stop || !current || current->url != url || count == 0)
                return;
            m_imagesOnlyInSubfolders = count;
            m_state.setStatusMessage(subfolderImagesText(count));
        });
}

void FolderSession::stopImagesBelowCount()
{
    if (m_stopImagesBelowCount)
        *std::exchange(m_stopImagesBelowCount, nullptr) = true;
}
