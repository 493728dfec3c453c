#pragma once

#include "model/CullingMarkStore.h"
#include "model/FolderHistory.h"
#include "model/FolderNode.h"
#include "model/FolderScanner.h"
#include "model/ImageItem.h"
#include "model/StarRatingStore.h"
#include "state/ImageListPipeline.h"
#include "state/ShootingDataIndex.h"
#include "state/UndoHistory.h"
#include "state/ViewerSettings.h"
#include "state/XmpRatingSync.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QSet>
#include <QUrl>
#include <QUuid>
#include <memory>
#include <optional>

class CompareSession;
class FolderSession;
class ImageLoader;
class WorkQueues;

// The single source of truth of the running application: the open folder tree,
// its images, the filters, the selection, the image in the viewer and the two
// feedback texts. Lives on the UI thread; every setter notifies only when the
// value really changes (items and nodes compare by id). Owns the long-lived
// services: scanner, thumbnail loader, rating store and folder history.
//
// The derived lists (filteredImages, availableFormats, availableStarRatings,
// selectedImages) always equal a fresh computation from the state, but are kept
// up to date when their inputs change instead of being rebuilt on every read:
// a grid of 100,000 images reads them per painted cell. The steps from images
// to filteredImages are ImageListPipeline's; opening and refreshing folders is
// FolderSession's.
class AppState : public QObject
{
    Q_OBJECT

public:
    using FormatCategory = ImageItem::FormatCategory;
    using ShootingField = ImageListPipeline::ShootingField;

    // The stores use their default locations. Work off the UI thread runs on
    // `queues`, which outlive the state.
    explicit AppState(WorkQueues &queues, QObject *parent = nullptr);
    // Stores at explicit places; for tests and tools.
    AppState(WorkQueues &queues, const QString &ratingsFile, const QString &settingsFile,
             QObject *parent = nullptr);
    ~AppState() override;

    // Services.
    WorkQueues &workQueues() { return m_workQueues; }
    FolderHistory &folderHistory() { return *m_folderHistory; }
    FolderScanner &folderScanner() { return *m_folderScanner; }
    ImageLoader &imageLoader() { return *m_imageLoader; }
    StarRatingStore &starRatingStore() { return *m_starRatingStore; }
    const StarRatingStore &starRatingStore() const { return *m_starRatingStore; }
    XmpRatingSync &xmpRatingSync() { return *m_xmpRatingSync; }
    // Flags and colour labels, in the file beside the ratings.
    CullingMarkStore &cullingMarks() { return *m_cullingMarks; }
    const CullingMarkStore &cullingMarks() const { return *m_cullingMarks; }
    // Ratings, flags and labels given since the start, to take back.
    UndoHistory &undoHistory() { return *m_undoHistory; }
    ViewerSettings &viewerSettings() { return m_viewerSettings; }
    const ViewerSettings &viewerSettings() const { return m_viewerSettings; }
    // The shooting data of the images, read in the background after each
    // open and refresh; cached beside the ratings.
    ShootingDataIndex &shootingData() { return *m_shootingData; }
    const ShootingDataIndex &shootingData() const { return *m_shootingData; }
    // Two to four photos side by side, while open.
    CompareSession &compare() { return *m_compare; }
    const CompareSession &compare() const { return *m_compare; }
    // The INI file the settings live in; empty: the application's own.
    const QString &settingsFile() const { return m_settingsFile; }

    // Observable state.
    const std::optional<FolderNode> &currentFolder() const { return m_currentFolder; }
    const QList<ImageItem> &images() const { return m_list.images(); }
    const std::optional<ImageItem> &selectedImage() const { return m_selectedImage; }
    bool isViewerActive() const { return m_isViewerActive; }
    int currentIndex() const { return m_currentIndex; }
    bool isLoading() const { return m_isLoading; }
    const QString &statusMessage() const { return m_statusMessage; }
    const std::optional<QUrl> &selectedFolderURL() const { return m_selectedFolderURL; }
    int starFilter() const { return m_list.starFilter(); }
    std::optional<FormatCategory> formatFilter() const { return m_list.formatFilter(); }
    FlagFilter flagFilter() const { return m_list.flagFilter(); }
    // No value: every label; ColourLabel::none: the images without one.
    std::optional<ColourLabel> labelFilter() const { return m_list.labelFilter(); }
    // No value: every camera (lens); an empty text: the images naming none.
    const std::optional<QString> &shootingFilter(ShootingField field) const
    {
        return m_list.shootingFilter(field);
    }
    // Whether the shooting data of every image is read: until then the
    // camera and lens filters and the time orders have nothing to go by.
    bool isShootingDataComplete() const;
    // Kept in the settings across runs.
    const SortOrder &sortOrder() const { return m_list.sortOrder(); }
    bool isSheetPresented() const { return m_isSheetPresented; }
    const std::optional<QString> &toastMessage() const { return m_toastMessage; }
    const QSet<QUuid> &selectedImageIDs() const { return m_selectedImageIDs; }
    // Files are being moved: an archive, a move to the Trash, or the undo or
    // redo of one (ArchiveFlow, FileMoveFlow). fileWorkMessage() says which
    // ("正在归档...").
    bool isMovingFiles() const { return m_fileWorks > 0; }
    const QString &fileWorkMessage() const { return m_fileWorkMessage; }
    // The paths of the rejected images, whatever the filters show.
    const QSet<QString> &rejectedPaths() const { return m_list.rejectedPaths(); }
    // After a folder opened without its sub-folders showed no image of its
    // own: the number of images below it (else 0). Set before the status
    // line says so with subfolderImagesText().
    qsizetype imagesOnlyInSubfolders() const;
    static QString subfolderImagesText(qsizetype count);

    void setCurrentFolder(const std::optional<FolderNode> &folder);
    void setImages(const QList<ImageItem> &images);
    void setSelectedImage(const std::optional<ImageItem> &image);
    void setViewerActive(bool active);
    void setCurrentIndex(int index);
    void setLoading(bool loading);
    void setStatusMessage(const QString &message);
    void setSelectedFolderURL(const std::optional<QUrl> &url);
    void setStarFilter(int filter);
    void setFormatFilter(std::optional<FormatCategory> filter);
    void setFlagFilter(FlagFilter filter);
    void setLabelFilter(std::optional<ColourLabel> label);
    void setShootingFilter(ShootingField field, const std::optional<QString> &value);
    // Every filter back to showing all images (the sort stays).
    void clearFilters();
    void setSortOrder(const SortOrder &order);
    void setSheetPresented(bool presented);
    void setToastMessage(const std::optional<QString> &message);
    void setSelectedImageIDs(const QSet<QUuid> &ids);
    // Every begin is matched by one end; works may overlap (a Delete pressed
    // again in the viewer while the previous photo is still on its way).
    void beginFileWork(const QString &message);
    void endFileWork();

    // Derived lists.
    const QList<ImageItem> &filteredImages() const { return m_list.filteredImages(); }
    QList<FormatCategory> availableFormats() const { return m_list.availableFormats(); }
    QList<int> availableStarRatings() const { return m_list.availableStarRatings(); }
    QList<ImageListPipeline::ValueCount> shootingValues(ShootingField field) const
    {
        return m_list.shootingValues(field);
    }
    QList<ImageItem> selectedImages() const;

    // The rating of an item: its stored value, 0 when none.
    int rating(const ImageItem &item) const { return m_starRatingStore->rating(item.path()); }

    // Selection.
    void toggleSelection(const QUuid &id);
    void selectAllVisible();
    void clearSelection();

    // Folders. Both run the scan off the UI thread and apply the result when it
    // arrives; the returned future finishes then. Overlapping calls are not
    // prevented: the last one to finish decides the final state. A folder that
    // cannot be listed, or a scan that fails, leaves the open folder as it was
    // and says so in the status line.
    QFuture<void> openFolder(const QUrl &url, bool includeSubfolders);
    QFuture<void> refreshFolder(const FolderNode &node);

    // Viewer and ratings.
    void selectImage(int index);
    void nextImage();
    void previousImage(); // the window's Left key: stops at the first image
    void updateRating(int rating, const ImageItem &item);

    // Flags and colour labels, one store batch per call. A label every item
    // already has is cleared instead (the same key again takes it off).
    CullingMark mark(const ImageItem &item) const { return m_cullingMarks->mark(item.path()); }
    void setFlag(CullingFlag flag, const QList<ImageItem> &items);
    void setLabel(ColourLabel label, const QList<ImageItem> &items);
    // The marking keys of the viewer and compare for `item`: P picks, X
    // rejects, U clears the flag, 6 to 9 put or take off red, yellow, green
    // and blue. True when `key`/`text` is one of them.
    bool markByKey(int key, const QString &text, const ImageItem &item);
    // "红色" ... "紫色"; empty for none.
    static QString labelText(ColourLabel label);

    // Takes back (does again) the newest action of the undo history and says
    // so in the status line ("已撤销：评分 3 星"). One that moved files runs
    // as a file work (FileMoveFlow); none starts while files are moving.
    void undo();
    void redo();

    // Moves `items` with their XMP sidecars to the Trash on the file
    // operation queue (FileMoveFlow); a viewer showing one of them steps to
    // the next photo at once. The future finishes once the folder shows the
    // result; it can be undone.
    QFuture<void> moveToTrash(const QList<ImageItem> &items);
    // Rescans the open folder keeping the filters, and the selection, the
    // viewer and compare on the files that are still there.
    QFuture<void> reloadFolder();

Q_SIGNALS:
    void currentFolderChanged();
    // A tree was stored, also a rebuilt one with the same root id that
    // currentFolderChanged stays silent about: its nodes carry new ids.
    void folderTreeChanged();
    void imagesChanged();
    void selectedImageChanged();
    void viewerActiveChanged(bool active);
    void currentIndexChanged(int index);
    void loadingChanged(bool loading);
    void statusMessageChanged(const QString &message);
    void selectedFolderURLChanged();
    void starFilterChanged(int filter);
    void formatFilterChanged();
    void flagFilterChanged(FlagFilter filter);
    void labelFilterChanged();
    void shootingFilterChanged();
    void sortOrderChanged();
    // The shooting data of every image is read.
    void shootingDataCompleted();
    void sheetPresentedChanged(bool presented);
    void toastMessageChanged();
    void selectedImageIDsChanged();
    void movingFilesChanged(bool moving);
    void filteredImagesChanged();
    // The number of images per rating changed (availableStarRatings may differ).
    void ratingsChanged();
    // A path joined or left rejectedPaths.
    void rejectedPathsChanged();

private:
    friend class FolderSession; // applies a scan's images with their counts per path

    void connectServices();
    void applyImages(const QList<ImageItem> &images, QHash<QString, int> imagesPerPath);
    // Tells the observers what an input of the list changed.
    void notify(const ImageListPipeline::Changes &changes);
    // Keeps the viewer on its image where the new list still shows it, else
    // on the image that took its place.
    void keepViewerInList();
    // Moves the viewer off photos about to leave: to the next photo staying,
    // else the previous one; closes it when none stays.
    void stepViewerOff(const QList<ImageItem> &leaving);
    // Puts the marks of `paths` (as they were before a change) and as they
    // are now into the undo history under `description`.
    void recordMarkChange(const QString &description, const QStringList &paths,
                          const QList<CullingMark> &before);

    WorkQueues &m_workQueues;
    std::unique_ptr<FolderHistory> m_folderHistory;
    std::unique_ptr<FolderScanner> m_folderScanner;
    std::unique_ptr<ImageLoader> m_imageLoader;
    std::unique_ptr<StarRatingStore> m_starRatingStore;
    std::unique_ptr<CullingMarkStore> m_cullingMarks;
    std::unique_ptr<XmpRatingSync> m_xmpRatingSync; // after the store: destroyed first
    std::unique_ptr<UndoHistory> m_undoHistory;
    QString m_settingsFile;
    ViewerSettings m_viewerSettings;
    ImageListPipeline m_list;                          // images, filters and what derives from them
    std::unique_ptr<ShootingDataIndex> m_shootingData; // before the session that drives it
    std::unique_ptr<FolderSession> m_session;
    CompareSession *m_compare = nullptr; // a child

    std::optional<FolderNode> m_currentFolder;
    std::optional<ImageItem> m_selectedImage;
    bool m_isViewerActive = false;
    int m_currentIndex = 0;
    bool m_isLoading = false;
    QString m_statusMessage;
    std::optional<QUrl> m_selectedFolderURL;
    bool m_isSheetPresented = false;
    std::optional<QString> m_toastMessage;
    QSet<QUuid> m_selectedImageIDs;
    int m_fileWorks = 0;
    QString m_fileWorkMessage;
};
