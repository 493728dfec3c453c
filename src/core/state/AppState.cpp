#include "state/AppState.h"

#include "imaging/ImageLoader.h"
#include "model/WorkQueues.h"
#include "state/CompareSession.h"
#include "state/FileMoveFlow.h"
#include "state/FolderSession.h"
#include "state/ShootingDataCache.h"

#include <QFileInfo>
#include <QThreadPool>
#include <utility>

namespace {

bool sameItem(const std::optional<ImageItem> &a, const std::optional<ImageItem> &b)
{
    return a.has_value() == b.has_value() && (!a || *a == *b);
}

// Drops the last reference to the tree on `pool`: whoever else still holds it
// keeps it alive. The scanner's own thread is the pool: it allocated the
// nodes, and freeing them there, between scans, keeps the next scan's
// allocations from contending with a concurrent free for the same malloc arena
// (which cost an open of 100,000 images about a third of its time).
void discardLater(QThreadPool &pool, std::optional<FolderNode> &&folder)
{
    if (!folder || folder->imageCount() < 10000)
        return;
    pool.start([doomed = std::move(*folder)]() mutable { doomed = FolderNode(); });
}

} // namespace

AppState::AppState(WorkQueues &queues, QObject *parent)
    : QObject(parent)
    , m_workQueues(queues)
    , m_folderHistory(std::make_unique<FolderHistory>())
    , m_folderScanner(std::make_unique<FolderScanner>(queues))
    , m_imageLoader(std::make_unique<ImageLoader>(queues))
    , m_starRatingStore(std::make_unique<StarRatingStore>(queues))
    , m_cullingMarks(
          std::make_unique<CullingMarkStore>(CullingMarkStore::defaultFilePath(), queues))
    , m_xmpRatingSync(std::make_unique<XmpRatingSync>(*m_starRatingStore, *m_cullingMarks,
                                                      queues.fileOperations(), QString()))
    , m_viewerSettings(QString())
    , m_list([this](const QString &path) { return m_starRatingStore->rating(path); },
             m_folderScanner->executor(),
             [this](const QString &path) { return m_cullingMarks->mark(path); },
             [this](const QString &path) { return m_shootingData->find(path); })
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
    , m_cullingMarks(std::make_unique<CullingMarkStore>(
          QFileInfo(ratingsFile).path() + QStringLiteral("/culling-marks.json"), queues))
    , m_xmpRatingSync(std::make_unique<XmpRatingSync>(*m_starRatingStore, *m_cullingMarks,
                                                      queues.fileOperations(), settingsFile))
    , m_settingsFile(settingsFile)
    , m_viewerSettings(settingsFile)
    , m_list([this](const QString &path) { return m_starRatingStore->rating(path); },
             m_folderScanner->executor(),
             [this](const QString &path) { return m_cullingMarks->mark(path); },
             [this](const QString &path) { return m_shootingData->find(path); })
{
    connectServices();
}

AppState::~AppState() = default;

void AppState::connectServices()
{
    m_undoHistory = std::make_unique<UndoHistory>(*m_starRatingStore, *m_cullingMarks);
    m_shootingData = std::make_unique<ShootingDataIndex>(
        ShootingDataCache::filePathBeside(m_starRatingStore->filePath()),
        m_workQueues.shootingData(), m_workQueues.background());
    m_list.setSortOrder(SortOrder::load(m_settingsFile));
    connect(m_shootingData.get(), &ShootingDataIndex::completed, this, [this] {
        notify(m_list.shootingDataChanged());
        Q_EMIT shootingDataCompleted();
    });
    m_session = std::make_unique<FolderSession>(*this, m_folderScanner->executor(),
                                                m_folderScanner->countExecutor());
    m_compare = new CompareSession(*this);
    connect(m_starRatingStore.get(), &StarRatingStore::ratingChanged, this,
            [this](const QString &path, int oldRating, int newRating) {
                notify(m_list.ratingChanged(path, oldRating, newRating));
            });
    connect(m_starRatingStore.get(), &StarRatingStore::saveFailed, this,
            [this](const QString &reason) {
                setStatusMessage(QStringLiteral("无法保存评分：") + reason);
            });
    connect(m_starRatingStore.get(), &StarRatingStore::ratingsRemoved, this,
            [this] { notify(m_list.ratingsReplaced()); });
    connect(m_cullingMarks.get(), &CullingMarkStore::saveFailed, this,
            [this](const QString &reason) {
                setStatusMessage(QStringLiteral("无法保存旗标和颜色标签：") + reason);
            });
    connect(m_cullingMarks.get(), &CullingMarkStore::markChanged, this,
            [this](const QString &path) { notify(m_list.marksChanged({path})); });
    connect(m_cullingMarks.get(), &CullingMarkStore::marksChanged, this,
            [this](const QStringList &paths) { notify(m_list.marksChanged(paths)); });
}

void AppState::notify(const ImageListPipeline::Changes &changes)
{
    if (changes.rejects)
        Q_EMIT rejectedPathsChanged();
    if (changes.ratingCounts)
        Q_EMIT ratingsChanged();
    if (changes.images)
        Q_EMIT imagesChanged();
    if (changes.filtered) {
        // New images are the folder session's to place the viewer on.
        if (!changes.images)
            keepViewerInList();
        Q_EMIT filteredImagesChanged();
    }
}

void AppState::keepViewerInList()
{
    if (!m_isViewerActive || !m_selectedImage)
        return;
    const QList<ImageItem> &list = filteredImages();
    if (list.isEmpty()) {
        setViewerActive(false);
        return;
    }
    const qsizetype position = list.indexOf(*m_selectedImage);
    const int index =
        position >= 0 ? int(position) : std::min(m_currentIndex, int(list.size()) - 1);
    setCurrentIndex(index);
    setSelectedImage(list[index]);
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
    notify(m_list.setImages(images));
}

void AppState::applyImages(const QList<ImageItem> &images, QHash<QString, int> imagesPerPath)
{
    notify(m_list.setImages(images, std::move(imagesPerPath)));
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
    if (starFilter() == filter)
        return;
    const ImageListPipeline::Changes changes = m_list.setStarFilter(filter);
    Q_EMIT starFilterChanged(filter);
    notify(changes);
}

void AppState::setFormatFilter(std::optional<FormatCategory> filter)
{
    if (formatFilter() == filter)
        return;
    const ImageListPipeline::Changes changes = m_list.setFormatFilter(filter);
    Q_EMIT formatFilterChanged();
    notify(changes);
}

void AppState::setFlagFilter(FlagFilter filter)
{
    if (flagFilter() == filter)
        return;
    const ImageListPipeline::Changes changes = m_list.setFlagFilter(filter);
    Q_EMIT flagFilterChanged(filter);
    notify(changes);
}

void AppState::setLabelFilter(std::optional<ColourLabel> label)
{
    if (labelFilter() == label)
        return;
    const ImageListPipeline::Changes changes = m_list.setLabelFilter(label);
    Q_EMIT labelFilterChanged();
    notify(changes);
}

void AppState::setShootingFilter(ShootingField field, const std::optional<QString> &value)
{
    if (shootingFilter(field) == value)
        return;
    const ImageListPipeline::Changes changes = m_list.setShootingFilter(field, value);
    Q_EMIT shootingFilterChanged();
    notify(changes);
}

void AppState::clearFilters()
{
    setStarFilter(0);
    setFormatFilter(std::nullopt);
    setFlagFilter(FlagFilter::all);
    setLabelFilter(std::nullopt);
    setShootingFilter(ShootingField::camera, std::nullopt);
    setShootingFilter(ShootingField::lens, std::nullopt);
}

bool AppState::isShootingDataComplete() const
{
    return m_shootingData->isComplete();
}

void AppState::setSortOrder(const SortOrder &order)
{
    if (sortOrder() == order)
        return;
    const ImageListPipeline::Changes changes = m_list.setSortOrder(order);
    order.save(m_settingsFile);
    Q_EMIT sortOrderChanged();
    notify(changes);
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

void AppState::beginFileWork(const QString &message)
{
    m_fileWorkMessage = message;
    if (++m_fileWorks == 1)
        Q_EMIT movingFilesChanged(true);
}

void AppState::endFileWork()
{
    Q_ASSERT(m_fileWorks > 0);
    if (--m_fileWorks == 0)
        Q_EMIT movingFilesChanged(false);
}

// ---- Derived lists --------------------------------------------------------

QList<ImageItem> AppState::selectedImages() const
{
    QList<ImageItem> selected;
    if (m_selectedImageIDs.isEmpty())
        return selected;
    for (const ImageItem &item : images()) {
        if (m_selectedImageIDs.contains(item.id()))
            selected << item;
    }
    return selected;
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
    ids.reserve(filteredImages().size());
    for (const ImageItem &item : filteredImages())
        ids.insert(item.id());
    setSelectedImageIDs(ids);
}

void AppState::clearSelection()
{
    setSelectedImageIDs({});
}

// ---- Folders --------------------------------------------------------------

QFuture<void> AppState::openFolder(const QUrl &url, bool includeSubfolders)
{
    return m_session->open(url, includeSubfolders);
}

QFuture<void> AppState::refreshFolder(const FolderNode &node)
{
    return m_session->refresh(node);
}

qsizetype AppState::imagesOnlyInSubfolders() const
{
    return m_session->imagesOnlyInSubfolders();
}

QString AppState::subfolderImagesText(qsizetype count)
{
    return FolderSession::subfolderImagesText(count);
}

// ---- Viewer and ratings ---------------------------------------------------

void AppState::selectImage(int index)
{
    if (index < 0 || index >= filteredImages().size())
        return;
    setCurrentIndex(index);
    setSelectedImage(filteredImages()[index]);
    setViewerActive(true);
}

void AppState::nextImage()
{
    if (m_currentIndex < filteredImages().size() - 1)
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
    const int before = this->rating(item);
    const int after = before == rating ? 0 : std::clamp(rating, 0, 5);
    m_starRatingStore->setRating(after, item.path());
    setStatusMessage(after < 1 ? QStringLiteral("已取消标记")
                               : QStringLiteral("已标记 ") + QString::number(after) +
                                     QStringLiteral(" 星"));
    UndoStep step;
    step.description =
        after < 1 ? QStringLiteral("清除评分") : QStringLiteral("评分 %1 星").arg(after);
    step.ratingsBefore.insert(item.path(), before);
    step.ratingsAfter.insert(item.path(), this->rating(item));
    m_undoHistory->record(step);
    // The store's change signal has refiltered the list, and notify() kept
    // the viewer on an image the list still shows.
}

void AppState::setFlag(CullingFlag flag, const QList<ImageItem> &items)
{
    if (items.isEmpty())
        return;
    QStringList paths;
    paths.reserve(items.size());
    QList<CullingMark> before;
    before.reserve(items.size());
    for (const ImageItem &item : items) {
        paths << item.path();
        before << mark(item);
    }
    m_cullingMarks->setFlags(paths, flag);
    QString description;
    switch (flag) {
    case CullingFlag::pick:
        description = QStringLiteral("标记为留用");
        break;
    case CullingFlag::reject:
        description = QStringLiteral("标记为排除");
        break;
    case CullingFlag::none:
        description = QStringLiteral("清除旗标");
        break;
    }
    setStatusMessage(QStringLiteral("已") + description);
    recordMarkChange(description, paths, before);
}

void AppState::setLabel(ColourLabel label, const QList<ImageItem> &items)
{
    if (items.isEmpty())
        return;
    QStringList paths;
    paths.reserve(items.size());
    QList<CullingMark> before;
    before.reserve(items.size());
    bool allHaveIt = true;
    for (const ImageItem &item : items) {
        paths << item.path();
        before << mark(item);
        allHaveIt = allHaveIt && before.last().label == label;
    }
    const ColourLabel applied = allHaveIt ? ColourLabel::none : label;
    m_cullingMarks->setLabels(paths, applied);
    const QString description = applied == ColourLabel::none
                                    ? QStringLiteral("清除颜色标签")
                                    : QStringLiteral("标记为") + labelText(applied);
    setStatusMessage(QStringLiteral("已") + description);
    recordMarkChange(description, paths, before);
}

void AppState::recordMarkChange(const QString &description, const QStringList &paths,
                                const QList<CullingMark> &before)
{
    UndoStep step;
    step.description = UndoStep::forCount(description, paths.size());
    for (qsizetype i = 0; i < paths.size(); ++i) {
        step.marksBefore.insert(paths[i], before[i]);
        step.marksAfter.insert(paths[i], m_cullingMarks->mark(paths[i]));
    }
    m_undoHistory->record(step);
}

void AppState::undo()
{
    if (isMovingFiles())
        return;
    if (m_undoHistory->undoMovesFiles())
        FileMoveFlow(*this, m_workQueues.fileOperations()).undo();
    else if (const std::optional<QString> description = m_undoHistory->undo())
        setStatusMessage(QStringLiteral("已撤销：") + *description);
}

void AppState::redo()
{
    if (isMovingFiles())
        return;
    if (m_undoHistory->redoMovesFiles())
        FileMoveFlow(*this, m_workQueues.fileOperations()).redo();
    else if (const std::optional<QString> description = m_undoHistory->redo())
        setStatusMessage(QStringLiteral("已重做：") + *description);
}

QFuture<void> AppState::moveToTrash(const QList<ImageItem> &items)
{
    stepViewerOff(items);
    return FileMoveFlow(*this, m_workQueues.fileOperations()).moveToTrash(items);
}

QFuture<void> AppState::reloadFolder()
{
    return m_session->reload();
}

void AppState::stepViewerOff(const QList<ImageItem> &leaving)
{
    if (!m_isViewerActive || !m_selectedImage || !leaving.contains(*m_selectedImage))
        return;
    const QSet<ImageItem> gone(leaving.cbegin(), leaving.cend());
    const QList<ImageItem> &list = filteredImages();
    const int size = int(list.size());
    for (int step : {1, -1}) {
        for (int i = m_currentIndex + step; i >= 0 && i < size; i += step) {
            if (!gone.contains(list[i])) {
                selectImage(i);
                return;
            }
        }
    }
    setViewerActive(false);
}

bool AppState::markByKey(int key, const QString &text, const ImageItem &item)
{
    switch (key) {
    case Qt::Key_P:
        setFlag(CullingFlag::pick, {item});
        return true;
    case Qt::Key_X:
        setFlag(CullingFlag::reject, {item});
        return true;
    case Qt::Key_U:
        setFlag(CullingFlag::none, {item});
        return true;
    default:
        break;
    }
    static const QString labelKeys = QStringLiteral("6789");
    const qsizetype digit = text.size() == 1 ? labelKeys.indexOf(text) : -1;
    if (digit < 0)
        return false;
    setLabel(ColourLabel(int(ColourLabel::red) + int(digit)), {item});
    return true;
}

QString AppState::labelText(ColourLabel label)
{
    switch (label) {
    case ColourLabel::red:
        return QStringLiteral("红色");
    case ColourLabel::yellow:
        return QStringLiteral("黄色");
    case ColourLabel::green:
        return QStringLiteral("绿色");
    case ColourLabel::blue:
        return QStringLiteral("蓝色");
    case ColourLabel::purple:
        return QStringLiteral("紫色");
    case ColourLabel::none:
        break;
    }
    return QString();
}
