#include "state/AppState.h"

#include "imaging/ImageLoader.h"
#include "model/BackgroundTask.h"
#include "model/NaturalOrder.h"
#include "model/WorkQueues.h"

#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <utility>

namespace {

// Lists of items compare by identity, element by element.
bool sameItems(const QList<ImageItem> &a, const QList<ImageItem> &b)
{
    return a.size() == b.size() && std::equal(a.cbegin(), a.cend(), b.cbegin());
}

bool sameItem(const std::optional<ImageItem> &a, const std::optional<ImageItem> &b)
{
    return a.has_value() == b.has_value() && (!a || *a == *b);
}

// Drops the last reference to `value` on `pool`. Containers of items are
// implicitly shared, so whoever else still holds them keeps them alive. The
// scans' own thread is the pool: it allocated the items, and freeing them
// there, between scans, keeps the next scan's allocations from contending
// with a concurrent free for the same malloc arena (which cost an open of
// 100,000 images about a third of its time).
template <typename T>
void discardLater(QThreadPool &pool, T &&value)
{
    if (value.size() < 10000)
        return;
    pool.start([doomed = std::move(value)]() mutable { T().swap(doomed); });
}

void discardLater(QThreadPool &pool, std::optional<FolderNode> &&folder)
{
    if (!folder || folder->imageCount() < 10000)
        return;
    pool.start([doomed = std::move(*folder)]() mutable { doomed = FolderNode(); });
}

QString imageCountText(qsizetype count)
{
    return QStringLiteral("共 ") + QString::number(count) + QStringLiteral(" 张图片");
}

} // namespace

AppState::AppState(WorkQueues &queues, QObject *parent)
    : QObject(parent)
    , m_workQueues(queues)
    , m_folderHistory(std::make_unique<FolderHistory>())
    , m_folderScanner(std::make_unique<FolderScanner>(queues))
    , m_imageLoader(std::make_unique<ImageLoader>(queues))
    , m_starRatingStore(std::make_unique<StarRatingStore>(queues))
    , m_xmpRatingSync(
          std::make_unique<XmpRatingSync>(*m_starRatingStore, queues.fileOperations(), QString()))
{
    connectServices();
}

AppState::AppState(WorkQueues &queues, const QString &ratingsFile, const QString &settingsFile,
                   QObject *parent)
    : QObject(parent)
    , m_workQueues(queues)
    , m_folderHistory(std::make_unique<FolderHistory>(settingsFile))
    , m_folderScanner(std::make_unique<FolderScanner>(queues))
    , m_imageLoader(std::make_unique<ImageLoader>(queues))
    , m_starRatingStore(std::make_unique<StarRatingStore>(ratingsFile, queues))
    , m_xmpRatingSync(std::make_unique<XmpRatingSync>(*m_starRatingStore, queues.fileOperations(),
                                                      settingsFile))
    , m_settingsFile(settingsFile)
{
    connectServices();
}

AppState::~AppState()
{
    // Quitting never waits for a count of a large tree.
    stopImagesBelowCount();
}

void AppState::connectServices()
{
    connect(m_xmpRatingSync.get(), &XmpRatingSync::statusReport, this, &AppState::setStatusMessage);
    connect(m_xmpRatingSync.get(), &XmpRatingSync::importFinished, this,
            &AppState::reportImportedRatings);
    connect(m_xmpRatingSync.get(), &XmpRatingSync::enabledChanged, this, [this](bool enabled) {
        if (enabled)
            writeSidecarsOfRatedImages();
    });
    connect(m_starRatingStore.get(), &StarRatingStore::ratingChanged, this,
            &AppState::onRatingChanged);
    connect(m_starRatingStore.get(), &StarRatingStore::saveFailed, this,
            [this](const QString &reason) {
                setStatusMessage(QStringLiteral("无法保存评分：") + reason);
            });
    connect(m_starRatingStore.get(), &StarRatingStore::ratingsRemoved, this, [this] {
        recountRatings();
        if (m_starFilter != 0)
            updateFilteredImages();
    });
}

// ---- Setters: notify only on a real change -------------------------------

void AppState::setCurrentFolder(const std::optional<FolderNode> &folder)
{
    const bool same = m_currentFolder.has_value() == folder.has_value() &&
                      (!folder || m_currentFolder->id == folder->id);
    // A rebuilt tree with the same root id is stored silently; only views of
    // the tree itself hear of it.
    discardLater(m_workQueues.folderScans(), std::exchange(m_currentFolder, folder));
    if (!same)
        Q_EMIT currentFolderChanged();
    Q_EMIT folderTreeChanged();
}

void AppState::setImages(const QList<ImageItem> &images)
{
    if (sameItems(m_images, images))
        return;
    applyImages(images, countImagesPerPath(images));
}

QHash<QString, int> AppState::countImagesPerPath(const QList<ImageItem> &images)
{
    QHash<QString, int> counts;
    counts.reserve(images.size());
    for (const ImageItem &item : images)
        ++counts[item.path()];
    return counts;
}

void AppState::applyImages(const QList<ImageItem> &images, QHash<QString, int> imagesPerPath)
{
    if (sameItems(m_images, images))
        return;
    // Freeing 100,000 items takes a while; let the scanner's thread do it, not the UI.
    discardLater(m_workQueues.folderScans(), std::exchange(m_images, images));
    discardLater(m_workQueues.folderScans(),
                 std::exchange(m_imagesPerPath, std::move(imagesPerPath)));
    recountRatings();
    Q_EMIT imagesChanged();
    updateFilteredImages();
}

void AppState::setSelectedImage(const std::optional<ImageItem> &image)
{
    if (sameItem(m_selectedImage, image))
        return;
    m_selectedImage = image;
    Q_EMIT selectedImageChanged();
}

void AppState::setViewerActive(bool active)
{
    if (m_isViewerActive == active)
        return;
    m_isViewerActive = active;
    Q_EMIT viewerActiveChanged(active);
}

void AppState::setCurrentIndex(int index)
{
    if (m_currentIndex == index)
        return;
    m_currentIndex = index;
    Q_EMIT currentIndexChanged(index);
}

void AppState::setLoading(bool loading)
{
    if (m_isLoading == loading)
        return;
    m_isLoading = loading;
    Q_EMIT loadingChanged(loading);
}

void AppState::setStatusMessage(const QString &message)
{
    if (m_statusMessage == message)
        return;
    m_statusMessage = message;
    Q_EMIT statusMessageChanged(message);
}

void AppState::setSelectedFolderURL(const std::optional<QUrl> &url)
{
    if (m_selectedFolderURL == url)
        return;
    m_selectedFolderURL = url;
    Q_EMIT selectedFolderURLChanged();
}

void AppState::setStarFilter(int filter)
{
    if (m_starFilter == filter)
        return;
    m_starFilter = filter;
    Q_EMIT starFilterChanged(filter);
    updateFilteredImages();
}

void AppState::setFormatFilter(std::optional<FormatCategory> filter)
{
    if (m_formatFilter == filter)
        return;
    m_formatFilter = filter;
    Q_EMIT formatFilterChanged();
    updateFilteredImages();
}

void AppState::setSheetPresented(bool presented)
{
    if (m_isSheetPresented == presented)
        return;
    m_isSheetPresented = presented;
    Q_EMIT sheetPresentedChanged(presented);
}

void AppState::setToastMessage(const std::optional<QString> &message)
{
    if (m_toastMessage == message)
        return;
    m_toastMessage = message;
    Q_EMIT toastMessageChanged();
}

void AppState::setSelectedImageIDs(const QSet<QUuid> &ids)
{
    if (m_selectedImageIDs == ids)
        return;
    m_selectedImageIDs = ids;
    Q_EMIT selectedImageIDsChanged();
}

void AppState::setArchiving(bool archiving)
{
    if (archiving == m_isArchiving)
        return;
    m_isArchiving = archiving;
    Q_EMIT archivingChanged(archiving);
}

// ---- Derived lists --------------------------------------------------------

bool AppState::passesFilters(const ImageItem &item) const
{
    if (m_starFilter == -1 && rating(item) != 0)
        return false;
    if (m_starFilter >= 1 && rating(item) != m_starFilter)
        return false;
    return !m_formatFilter || item.formatCategory() == *m_formatFilter;
}

void AppState::updateFilteredImages()
{
    QList<ImageItem> filtered;
    if (m_starFilter == 0 && !m_formatFilter) {
        filtered = m_images; // shares the data, no copy
    } else {
        filtered.reserve(m_images.size());
        for (const ImageItem &item : std::as_const(m_images)) {
            if (passesFilters(item))
                filtered.append(item);
        }
    }
    if (sameItems(filtered, m_filteredImages))
        return;
    discardLater(m_workQueues.folderScans(), std::exchange(m_filteredImages, std::move(filtered)));
    Q_EMIT filteredImagesChanged();
}

QList<AppState::FormatCategory> AppState::availableFormats() const
{
    std::array<bool, ImageItem::allFormatCategories.size()> present{};
    for (const ImageItem &item : m_images)
        present[size_t(item.formatCategory())] = true;
    QList<FormatCategory> formats;
    for (const FormatCategory category : ImageItem::allFormatCategories) {
        if (present[size_t(category)])
            formats << category;
    }
    return formats;
}

QList<int> AppState::availableStarRatings() const
{
    QList<int> ratings;
    for (int stars = 0; stars <= 5; ++stars) {
        if (m_ratingCounts[stars] > 0)
            ratings << stars;
    }
    return ratings;
}

QList<ImageItem> AppState::selectedImages() const
{
    QList<ImageItem> selected;
    if (m_selectedImageIDs.isEmpty())
        return selected;
    for (const ImageItem &item : m_images) {
        if (m_selectedImageIDs.contains(item.id()))
            selected << item;
    }
    return selected;
}

void AppState::recountRatings()
{
    std::array<qsizetype, 6> counts{};
    for (const ImageItem &item : std::as_const(m_images))
        ++counts[std::clamp(rating(item), 0, 5)];
    if (counts == m_ratingCounts)
        return;
    m_ratingCounts = counts;
    Q_EMIT ratingsChanged();
}

void AppState::writeSidecarsOfRatedImages()
{
    QHash<QString, int> rated;
    for (const ImageItem &item : std::as_const(m_images)) {
        const QString &path = item.path();
        if (const int rating = m_starRatingStore->rating(path); rating > 0)
            rated.insert(path, rating);
    }
    m_xmpRatingSync->writeAll(rated);
}

void AppState::onRatingChanged(const QString &path, int oldRating, int newRating)
{
    const int shown = m_imagesPerPath.value(path, 0);
    const int from = std::clamp(oldRating, 0, 5);
    const int to = std::clamp(newRating, 0, 5);
    if (shown == 0 || from == to)
        return;
    m_ratingCounts[from] -= shown;
    m_ratingCounts[to] += shown;
    Q_EMIT ratingsChanged();
    if (m_starFilter != 0)
        updateFilteredImages();
}

// ---- Selection ------------------------------------------------------------

void AppState::toggleSelection(const QUuid &id)
{
    QSet<QUuid> ids = m_selectedImageIDs;
    if (!ids.remove(id))
        ids.insert(id);
    setSelectedImageIDs(ids);
}

void AppState::selectAllVisible()
{
    QSet<QUuid> ids;
    ids.reserve(m_filteredImages.size());
    for (const ImageItem &item : std::as_const(m_filteredImages))
        ids.insert(item.id());
    setSelectedImageIDs(ids);
}

void AppState::clearSelection()
{
    setSelectedImageIDs({});
}

// ---- Folders --------------------------------------------------------------

AppState::ScannedFolder AppState::prepareScannedFolder(const FolderNode &node)
{
    ScannedFolder scanned{node, collectImages(node), {}};
    scanned.imagesPerPath = countImagesPerPath(scanned.images);
    collectSidecars(node, scanned.sidecars);
    scanned.imagePaths.reserve(scanned.images.size());
    for (const ImageItem &image : std::as_const(scanned.images))
        scanned.imagePaths.append(image.path());
    return scanned;
}

void AppState::collectSidecars(const FolderNode &node, QStringList &sidecars)
{
    sidecars += node.sidecars;
    for (const FolderNode &child : node.children)
        collectSidecars(child, sidecars);
}

void AppState::reportImportedRatings(qsizetype taken)
{
    setStatusMessage(imageCountText(m_images.size()));
    if (taken > 0)
        setToastMessage(QStringLiteral("已从文件读取 ") + QString::number(taken) +
                        QStringLiteral(" 个评分"));
}

QList<ImageItem> AppState::collectImages(const FolderNode &node)
{
    QList<ImageItem> images = node.allImages();
    NaturalOrder().sortByFilename(images);
    return images;
}

AppState::ScannedFolder AppState::scanAndPrepare(const QUrl &url, bool includeSubfolders)
{
    if (!FolderScanner::canList(url))
        return {};
    ScannedFolder scanned = prepareScannedFolder(FolderScanner::scanFolder(url, includeSubfolders));
    scanned.listed = true;
    return scanned;
}

void AppState::countImagesBelow(const QUrl &url)
{
    // The whole tree may be large (a home folder, a share's root): the open
    // is shown at once and the hint follows when the count arrives.
    auto stop = std::make_shared<std::atomic_bool>(false);
    m_stopImagesBelowCount = stop;
    BackgroundTask::run(
        &m_folderScanner->countExecutor(), this,
        [url, stop] { return FolderScanner::countImages(url, *stop); },
        [this, url, stop](qsizetype count) {
            if (*stop || !m_currentFolder || m_currentFolder->url != url || count == 0)
                return;
            m_imagesOnlyInSubfolders = count;
            setStatusMessage(subfolderImagesText(count));
        });
}

void AppState::stopImagesBelowCount()
{
    if (m_stopImagesBelowCount)
        *std::exchange(m_stopImagesBelowCount, nullptr) = true;
}

void AppState::reportFailedScan(const QUrl &url, bool unreadable)
{
    // The previous folder stays as it was; only the busy state ends.
    const QString name = FolderNode::displayName(url.toLocalFile());
    setLoading(false);
    setStatusMessage(unreadable
                         ? QStringLiteral("无法读取文件夹「") + name + QStringLiteral("」")
                         : QStringLiteral("扫描文件夹「") + name + QStringLiteral("」时出错"));
}

QString AppState::subfolderImagesText(qsizetype count)
{
    return QStringLiteral("此文件夹没有图片，子文件夹中有 ") + QString::number(count) +
           QStringLiteral(" 张");
}

QFuture<void> AppState::openFolder(const QUrl &url, bool includeSubfolders)
{
    stopImagesBelowCount();
    setLoading(true);
    setStatusMessage(QStringLiteral("正在扫描文件夹..."));
    m_imageLoader->clearThumbnailCache();
    // The sort runs on the scanner's thread too, so the UI thread only applies the result.
    return BackgroundTask::run(
        &m_folderScanner->executor(), this,
        [url, includeSubfolders] { return scanAndPrepare(url, includeSubfolders); },
        [this, url, includeSubfolders](ScannedFolder scanned) {
            if (!scanned.listed) {
                reportFailedScan(url, true);
                return;
            }
            const FolderNode &node = scanned.node;
            setCurrentFolder(node);
            setSelectedFolderURL(node.url);
            applyImages(scanned.images, std::move(scanned.imagesPerPath));
            m_folderHistory->add(url);
            resetFilters();
            setSelectedImage(std::nullopt);
            setSelectedImageIDs({});
            m_starRatingStore->cleanupStaleEntries(url.toLocalFile());
            setLoading(false);
            m_imagesOnlyInSubfolders = 0;
            setStatusMessage(imageCountText(m_images.size()));
            if (!includeSubfolders && m_images.isEmpty())
                countImagesBelow(node.url);
            m_xmpRatingSync->importRatings(scanned.imagePaths, scanned.sidecars);
        },
        [this, url] { reportFailedScan(url, false); });
}

QFuture<void> AppState::refreshFolder(const FolderNode &node)
{
    stopImagesBelowCount();
    setLoading(true);
    setStatusMessage(QStringLiteral("正在刷新..."));
    const QUuid target = node.id;
    return BackgroundTask::run(
        &m_folderScanner->executor(), this, [url = node.url] { return scanAndPrepare(url, true); },
        [this, target, url = node.url](ScannedFolder scanned) {
            if (!scanned.listed) {
                reportFailedScan(url, true);
                return;
            }
            const FolderNode &fresh = scanned.node;
            if (m_currentFolder)
                setCurrentFolder(m_currentFolder->replacingNode(target, fresh));
            setSelectedFolderURL(fresh.url);
            applyImages(scanned.images, std::move(scanned.imagesPerPath));
            resetFilters();
            setViewerActive(false);
            setSelectedImage(std::nullopt);
            setSelectedImageIDs({});
            setLoading(false);
            m_imagesOnlyInSubfolders = 0;
            setStatusMessage(imageCountText(m_images.size()));
        },
        [this, url = node.url] { reportFailedScan(url, false); });
}

void AppState::resetFilters()
{
    setStarFilter(0);
    setFormatFilter(std::nullopt);
}

// ---- Viewer and ratings ---------------------------------------------------

void AppState::selectImage(int index)
{
    if (index < 0 || index >= m_filteredImages.size())
        return;
    setCurrentIndex(index);
    setSelectedImage(m_filteredImages[index]);
    setViewerActive(true);
}

void AppState::nextImage()
{
    if (m_currentIndex < m_filteredImages.size() - 1)
        selectImage(m_currentIndex + 1);
    else
        setStatusMessage(QStringLiteral("已是最后一张"));
}

void AppState::previousImage()
{
    if (m_currentIndex < 1)
        setStatusMessage(QStringLiteral("已是第一张"));
    else
        selectImage(m_currentIndex - 1);
}

void AppState::updateRating(int rating, const ImageItem &item)
{
    if (this->rating(item) == rating) {
        m_starRatingStore->setRating(0, item.path());
        setStatusMessage(QStringLiteral("已取消标记"));
    } else {
        m_starRatingStore->setRating(rating, item.path());
        setStatusMessage(rating < 1 ? QStringLiteral("已取消标记")
                                    : QStringLiteral("已标记 ") + QString::number(rating) +
                                          QStringLiteral(" 星"));
    }
    if (!m_isViewerActive || m_starFilter == 0)
        return;

    // Keep the viewer on an image the filter still shows. The store's change
    // signal has already refiltered the list (onRatingChanged), so it is not
    // filtered a second time here.
    if (m_filteredImages.isEmpty()) {
        setViewerActive(false);
        return;
    }
    const qsizetype position = m_filteredImages.indexOf(item);
    if (position >= 0) {
        setCurrentIndex(int(position));
        setSelectedImage(item);
        return;
    }
    const int index = std::min(m_currentIndex, int(m_filteredImages.size()) - 1);
    setCurrentIndex(index);
    setSelectedImage(m_filteredImages[index]);
}
