#include "browse/ThumbnailGridView.h"

#include "browse/ArchiveBusyVeil.h"
#include "browse/FilterMenuBar.h"
#include "browse/SelectionActionBar.h"
#include "browse/StarFilterBar.h"
#include "browse/ThumbnailListModel.h"
#include "browse/ThumbnailListView.h"
#include "common/FileRevealer.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"
#include "state/ArchiveFlow.h"

#include <QFrame>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QFrame *horizontalDivider(QWidget *parent)
{
    auto *divider = new QFrame(parent);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setFixedHeight(1);
    QPalette palette = divider->palette();
    palette.setColor(QPalette::WindowText, QColor(128, 128, 128, 77));
    divider->setPalette(palette);
    return divider;
}

} // namespace

ThumbnailGridView::ThumbnailGridView(AppState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
    , m_model(new ThumbnailListModel(state, this))
    , m_filterBar(new StarFilterBar(state, this))
    , m_menuBar(new FilterMenuBar(state, this))
    , m_selectionBar(new SelectionActionBar(state, this))
    , m_view(new ThumbnailListView(state, *m_model, this))
    , m_busyVeil(new ArchiveBusyVeil(m_view, this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_filterBar);
    layout->addWidget(m_menuBar);
    layout->addWidget(m_selectionBar);
    layout->addWidget(horizontalDivider(this));
    layout->addWidget(m_view, 1);

    connect(m_filterBar, &StarFilterBar::archiveByRatingRequested, this,
            &ThumbnailGridView::archiveByRating);
    connect(m_filterBar, &StarFilterBar::archiveRejectsRequested, this,
            &ThumbnailGridView::presentArchive);
    connect(m_selectionBar, &SelectionActionBar::batchArchiveRequested, this,
            &ThumbnailGridView::archiveSelection);
    connect(m_selectionBar, &SelectionActionBar::batchExportRequested, this,
            [this] { Q_EMIT batchExportRequested(m_state.selectedImages()); });
    connect(&state, &AppState::viewerActiveChanged, this, [this](bool active) {
        if (active)
            return;
        m_returnOnShow = true;
        if (isVisible())
            QTimer::singleShot(0, this, &ThumbnailGridView::returnToLastViewedImage);
    });
    connect(&state, &AppState::movingFilesChanged, this, &ThumbnailGridView::showMovingFiles);
    showMovingFiles(state.isMovingFiles());
}

void ThumbnailGridView::showMovingFiles(bool moving)
{
    // The bars stay readable but cannot start a second archive or an export
    // of files on the move; the veil keeps clicks off the tiles.
    m_filterBar->setEnabled(!moving);
    m_menuBar->setEnabled(!moving);
    m_selectionBar->setEnabled(!moving);
    m_busyVeil->setMessage(m_state.fileWorkMessage());
    m_busyVeil->setVisible(moving);
    if (moving)
        m_busyVeil->raise();
}

ThumbnailGridView::~ThumbnailGridView() = default;

void ThumbnailGridView::setFileRevealer(std::unique_ptr<FileRevealer> revealer)
{
    m_view->setFileRevealer(std::move(revealer));
}

void ThumbnailGridView::setArchiveFolderChooser(ArchiveConfirmView::FolderChooser chooser)
{
    m_folderChooser = std::move(chooser);
}

void ThumbnailGridView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Only the first appearance and the return from the viewer go back to the
    // last viewed image; a window restored from the dock keeps where it was.
    if (!m_returnOnShow)
        return;
    // After the layout of this pass, so the tile has its place.
    QTimer::singleShot(0, this, &ThumbnailGridView::returnToLastViewedImage);
}

void ThumbnailGridView::returnToLastViewedImage()
{
    m_returnOnShow = false;
    if (const std::optional<ImageItem> &last = m_state.selectedImage())
        m_view->centreOnImage(last->id());
}

void ThumbnailGridView::archiveByRating()
{
    const std::optional<FolderNode> &folder = m_state.currentFolder();
    const int stars = m_state.starFilter();
    if (!folder || stars < 1)
        return;
    ArchiveItem plan;
    plan.targetPath = folder->path() + QStringLiteral("/归档-%1星").arg(stars);
    plan.description = QStringLiteral("%1星图片").arg(stars);
    plan.images = m_state.filteredImages();
    presentArchive(plan);
}

void ThumbnailGridView::archiveSelection()
{
    const std::optional<FolderNode> &folder = m_state.currentFolder();
    if (!folder)
        return;
    ArchiveItem plan;
    plan.targetPath = folder->path() + QStringLiteral("/批量归档");
    plan.description = QStringLiteral("选中的图片");
    plan.images = m_state.selectedImages();
    presentArchive(plan);
}

void ThumbnailGridView::presentArchive(const ArchiveItem &plan)
{
    if (m_state.isMovingFiles())
        return; // one archive at a time
    if (m_archiveSheet)
        m_archiveSheet->close();
    m_archiveItem = plan;
    auto *sheet =
        new ArchiveConfirmView(plan.targetPath, plan.description, plan.images.size(), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    if (m_folderChooser)
        sheet->setFolderChooser(m_folderChooser);
    const QUuid planId = plan.id;
    connect(sheet, &ArchiveConfirmView::confirmed, this, [this, planId](const QString &folder) {
        if (!m_archiveItem || m_archiveItem->id != planId)
            return;
        const QList<ImageItem> images = m_archiveItem->images;
        m_archiveItem.reset();
        performArchive(images, folder).then(this, [this] { Q_EMIT archiveFinished(); });
    });
    connect(sheet, &QDialog::finished, this, [this, planId] {
        if (m_archiveItem && m_archiveItem->id == planId)
            m_archiveItem.reset();
    });
    m_archiveSheet = sheet;
    sheet->open();
}

QFuture<void> ThumbnailGridView::performArchive(const QList<ImageItem> &images,
                                                const QString &folder)
{
    return ArchiveFlow(m_state, m_state.workQueues().fileOperations()).run(images, folder);
}
