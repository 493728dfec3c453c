#pragma once

#include "browse/ArchiveConfirmView.h"
#include "model/ImageItem.h"
#include "state/ArchiveItem.h"

#include <QFuture>
#include <QList>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>

class AppState;
class ArchiveBusyVeil;
class FileRevealer;
class SelectionActionBar;
class FilterMenuBar;
class StarFilterBar;
class ThumbnailListModel;
class ThumbnailListView;

// The browsing screen shown while a folder is open and the viewer is not:
// the filter bar, the selection bar (while images are selected) and the grid
// of AppState::filteredImages. It presents the archive confirmation itself and
// asks its host to present the batch export editor.
class ThumbnailGridView : public QWidget
{
    Q_OBJECT

public:
    explicit ThumbnailGridView(AppState &state, QWidget *parent = nullptr);
    ~ThumbnailGridView() override;

    StarFilterBar &filterBar() const { return *m_filterBar; }
    FilterMenuBar &filterMenuBar() const { return *m_menuBar; }
    SelectionActionBar &selectionBar() const { return *m_selectionBar; }
    ThumbnailListView &listView() const { return *m_view; }
    ThumbnailListModel &model() const { return *m_model; }

    // The pending archive plan while its confirmation sheet is open.
    const std::optional<ArchiveItem> &archiveItem() const { return m_archiveItem; }
    ArchiveConfirmView *archiveSheet() const { return m_archiveSheet; }

    // Seams for tests and tools.
    void setFileRevealer(std::unique_ptr<FileRevealer> revealer);
    void setArchiveFolderChooser(ArchiveConfirmView::FolderChooser chooser);

    // Shown over the tiles while an archive moves files (AppState::isMovingFiles).
    ArchiveBusyVeil &busyVeil() const { return *m_busyVeil; }

    // Opens the confirmation sheet for `plan` (what "归档", "归档排除的照片" and
    // "批量归档" do);
    // nothing while an archive runs.
    void presentArchive(const ArchiveItem &plan);
    // Moves `images` into `folder`, then reports and rescans; see ArchiveFlow.
    QFuture<void> performArchive(const QList<ImageItem> &images, const QString &folder);

Q_SIGNALS:
    // "批量边框水印": the host presents the batch export editor for `items` (the
    // selected images, hidden ones included) and keeps
    // AppState::isSheetPresented true while it is open.
    void batchExportRequested(const QList<ImageItem> &items);
    // An archive confirmed in the sheet has moved its files and the folder has
    // been rescanned (or the destination could not be created).
    void archiveFinished();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void archiveByRating();
    void archiveSelection();
    void returnToLastViewedImage();
    void showMovingFiles(bool moving);

    AppState &m_state;
    ThumbnailListModel *m_model;
    StarFilterBar *m_filterBar;
    FilterMenuBar *m_menuBar;
    SelectionActionBar *m_selectionBar;
    ThumbnailListView *m_view;
    ArchiveBusyVeil *m_busyVeil;
    // The next showing returns to the last viewed image: the first one, and
    // the one after the viewer closes.
    bool m_returnOnShow = true;
    std::optional<ArchiveItem> m_archiveItem;
    QPointer<ArchiveConfirmView> m_archiveSheet;
    ArchiveConfirmView::FolderChooser m_folderChooser;
};
