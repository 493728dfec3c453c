#pragma once

#include "model/FolderNode.h"
#include "model/ImageItem.h"

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <atomic>
#include <memory>

class AppState;
class QThreadPool;

// Opening and refreshing folders for AppState: the scan and the preparation of
// its result off the UI thread, the result applied to the state in one go,
// the clean-up of vanished ratings, the count of images below a folder that
// has none of its own, the import of ratings from sidecars and the reading
// of the images' shooting data, with their status texts. Lives on the UI thread, owned by the state
// it writes to.
class FolderSession : public QObject
{
    Q_OBJECT

public:
    // scans: runs scans one at a time, in order; counts: the counts of images below.
    FolderSession(AppState &state, QThreadPool &scans, QThreadPool &counts);
    ~FolderSession() override;

    // See AppState::openFolder and AppState::refreshFolder.
    QFuture<void> open(const QUrl &url, bool includeSubfolders);
    QFuture<void> refresh(const FolderNode &node);
    // Rescans the folder whose images show, as it was scanned last, keeping
    // the filters;
    // the files still there keep their items, so the selection, the viewer
    // and compare stay on them.
    QFuture<void> reload();

    qsizetype imagesOnlyInSubfolders() const { return m_imagesOnlyInSubfolders; }
    static QString subfolderImagesText(qsizetype count);

private:
    // A scan result made ready off the UI thread, so that applying it there
    // stays short even for 100,000 images.
    struct ScannedFolder
    {
        FolderNode node;
        QList<ImageItem> images; // sorted by file name
        QHash<QString, int> imagesPerPath;
        bool listed = false;      // false: the folder could not be listed at all
        QStringList sidecars{};   // every .xmp file of the tree
        QStringList imagePaths{}; // of `images`, in order
    };

    static ScannedFolder scanAndPrepare(const QUrl &url, bool includeSubfolders);
    // Gives the scanned files that `known` lists their known items (ids), so
    // the selection, the viewer and compare stay on them. Any thread.
    static void keepKnownItems(QList<ImageItem> &scanned, const QList<ImageItem> &known);
    static void collectSidecars(const FolderNode &node, QStringList &sidecars);
    void applyOpened(const QUrl &url, bool includeSubfolders, ScannedFolder scanned);
    void applyRefreshed(const QUuid &target, ScannedFolder scanned);
    void applyReloaded(const QUuid &target, ScannedFolder scanned);
    void clearBrowsingState();
    void reportFailedScan(const QUrl &url, bool unreadable);
    void reportImageCount();
    void reportImportedRatings(qsizetype taken);
    // Starts reading the shooting data of the images just applied.
    void indexShootingData(const QStringList &imagePaths);
    void reportIndexProgress(int done, int total);
    void reportIndexCompleted();
    void writeSidecarsOfRatedImages();
    // For a folder opened without its sub-folders and without images of its
    // own: counts those below on the count thread and shows the hint, if the
    // folder is still the open one. A newer open or refresh stops it.
    void countImagesBelow(const QUrl &url);
    void stopImagesBelowCount();

    AppState &m_state;
    QThreadPool &m_scans;
    QThreadPool &m_counts;
    qsizetype m_imagesOnlyInSubfolders = 0;
    std::shared_ptr<std::atomic_bool> m_stopImagesBelowCount; // of the pending count
    // The index's progress text last shown: the status line is the index's
    // to change only while it shows this or the folder's count.
    QString m_indexStatus;
    bool m_includeSubfolders = true; // how the open folder was scanned last
};
