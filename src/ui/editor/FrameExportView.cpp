#include "editor/FrameExportView.h"

#include "common/BusyIndicator.h"
#include "editor/ColorPanelCoordinator.h"
#include "editor/EditorStyle.h"
#include "editor/FrameSettingsPanel.h"
#include "editor/PreviewPane.h"
#include "editor/SegmentedControl.h"
#include "editor/SharedColorPanel.h"
#include "editor/WatermarkSettingsPanel.h"
#include "export/FrameExportModel.h"
#include "export/FrameExporter.h"
#include "export/LogoCatalogue.h"
#include "export/PreviewScheduler.h"
#include "imaging/ImageLoadResult.h"
#include "imaging/RAWProcessor.h"
#include "model/BackgroundTask.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

QFrame *divider(Qt::Orientation orientation, QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(orientation == Qt::Horizontal ? QFrame::HLine : QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setStyleSheet(QStringLiteral("color:#d8d8dc;"));
    return line;
}

QStringList modeLabels()
{
    QStringList labels;
    for (EditMode mode : EditModes::all)
        labels << EditModes::label(mode);
    return labels;
}

} // namespace

FrameExportView::FrameExportView(AppState &state, QWidget *parent)
    : FrameExportView(state, LogoCatalogue(), parent)
{}

FrameExportView::FrameExportView(AppState &state, const LogoCatalogue &catalogue, QWidget *parent)
    : QDialog(parent)
    , m_state(state)
    , m_rawProcessor(std::make_unique<RAWProcessor>(state.workQueues()))
    , m_model(new FrameExportModel(catalogue, this))
    , m_scheduler(new PreviewScheduler(*m_model, state.workQueues().background(), this))
    , m_exporter(new FrameExporter(*m_model, state, *m_rawProcessor, this))
    , m_coordinator(new ColorPanelCoordinator(this))
{
    setWindowTitle(QStringLiteral("边框水印"));
    // Window-modal, so the shared colour panel (a window of its own) stays usable.
    setWindowModality(Qt::WindowModal);
    setMaximumHeight(maximumContentHeight);
    resize(preferredSize);

    // The panes keep their minimum size; a smaller editor scrolls them
    // rather than cutting them off.
    m_scrollArea = new QScrollArea(this);
    m_scrollArea->setObjectName(QStringLiteral("editorScrollArea"));
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    auto *content = new QWidget(m_scrollArea);
    content->setMinimumSize(minimumContentSize);
    content->setMaximumHeight(maximumContentHeight);
    auto *panes = new QHBoxLayout(content);
    panes->setContentsMargins(0, 0, 0, 0);
    panes->setSpacing(0);
    m_preview = new PreviewPane(content);
    panes->addWidget(m_preview, 1);
    panes->addWidget(divider(Qt::Vertical, content));
    panes->addWidget(makeSettingsPane(content));
    m_scrollArea->setWidget(content);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(m_scrollArea);

    connect(m_preview, &PreviewPane::imageBoundChanged, m_scheduler,
            &PreviewScheduler::setPreviewBound);
    connect(m_model, &FrameExportModel::previewImageChanged, this,
            [this] { m_preview->setPreviewImage(m_model->previewImage()); });
    connect(m_model, &FrameExportModel::initialLoadingChanged, m_preview, &PreviewPane::setLoading);
    connect(m_model, &FrameExportModel::editModeChanged, this, &FrameExportView::showEditMode);
    connect(m_model, &FrameExportModel::exportingChanged, this, &FrameExportView::showExportState);
    connect(m_model, &FrameExportModel::exportMessageChanged, this,
            &FrameExportView::showExportState);
    connect(m_model, &FrameExportModel::sourceImageChanged, this,
            &FrameExportView::showExportState);
    connect(m_exporter, &FrameExporter::finished, this, [this](bool closeEditor) {
        if (closeEditor)
            accept();
    });
    m_preview->setLoading(true);
    showEditMode();
    showExportState();
}

FrameExportView::~FrameExportView()
{
    detach();
}

void FrameExportView::placeWithin(const QRect &area)
{
    QRect room = area;
    if (const QScreen *shown = QGuiApplication::screenAt(area.center()))
        room &= shown->availableGeometry();
    room.adjust(areaMargin, areaMargin, -areaMargin, -areaMargin);
    const QSize size = preferredSize.boundedTo(room.size()).expandedTo(QSize(1, 1));
    resize(size);
    move(room.center().x() - size.width() / 2, room.center().y() - size.height() / 2);
}

QWidget *FrameExportView::makeSettingsPane(QWidget *parent)
{
    auto *pane = new QWidget(parent);
    pane->setFixedWidth(340);
    auto *column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_title = new QLabel(pane);
    m_title->setFont(EditorStyle::headline());
    m_title->setContentsMargins(16, 16, 16, 8);
    // As tall as its text from the start (the text comes with init()), never
    // squeezed: the settings below scroll instead.
    m_title->setFixedHeight(QFontMetrics(m_title->font()).height() + 16 + 8);
    column->addWidget(m_title);

    m_modeSwitch = new SegmentedControl(modeLabels(), pane);
    auto *modeBox = new QWidget(pane);
    auto *modeLayout = new QVBoxLayout(modeBox);
    modeLayout->setContentsMargins(16, 0, 16, 12);
    modeLayout->addWidget(m_modeSwitch);
    modeBox->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    column->addWidget(modeBox);
    connect(m_modeSwitch, &SegmentedControl::currentIndexChanged, this,
            [this](int index) { m_model->setEditMode(EditModes::all[index]); });

    auto *scroll = new QScrollArea(pane);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto *settings = new QWidget(scroll);
    auto *settingsColumn = new QVBoxLayout(settings);
    settingsColumn->setContentsMargins(16, 0, 16, 16);
    settingsColumn->setSpacing(16);
    m_frameSettings = new FrameSettingsPanel(*m_model, *m_coordinator, settings);
    settingsColumn->addWidget(m_frameSettings);

    m_watermarkHeading = new QWidget(settings);
    auto *headingLayout = new QVBoxLayout(m_watermarkHeading);
    headingLayout->setContentsMargins(0, 0, 0, 0);
    headingLayout->setSpacing(16);
    headingLayout->addWidget(divider(Qt::Horizontal, m_watermarkHeading));
    auto *heading = new QLabel(QStringLiteral("水印"), m_watermarkHeading);
    heading->setFont(EditorStyle::calloutMedium());
    headingLayout->addWidget(heading);
    settingsColumn->addWidget(m_watermarkHeading);

    m_watermarkSettings = new WatermarkSettingsPanel(*m_model, *m_coordinator, settings);
    settingsColumn->addWidget(m_watermarkSettings);
    settingsColumn->addStretch();
    scroll->setWidget(settings);
    column->addWidget(scroll, 1);

    column->addWidget(divider(Qt::Horizontal, pane));
    column->addWidget(makeBottomBar(pane));
    return pane;
}

QWidget *FrameExportView::makeBottomBar(QWidget *parent)
{
    auto *bar = new QWidget(parent);
    auto *column = new QVBoxLayout(bar);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(8);

    m_message = new QLabel(bar);
    m_message->setFont(EditorStyle::callout());
    m_message->setWordWrap(true);
    column->addWidget(m_message);

    auto *row = new QHBoxLayout;
    m_cancelButton = new QPushButton(QStringLiteral("取消"), bar);
    m_cancelButton->setAutoDefault(false);
    row->addWidget(m_cancelButton);
    row->addStretch();

    m_progressRow = new QWidget(bar);
    auto *progressLayout = new QHBoxLayout(m_progressRow);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    progressLayout->setSpacing(6);
    auto *progressSpinner = new BusyIndicator(16, m_progressRow);
    progressSpinner->setColor(QColor(0x6e, 0x6e, 0x73));
    progressLayout->addWidget(progressSpinner);
    m_progressText = new QLabel(m_progressRow);
    m_progressText->setFont(EditorStyle::callout());
    progressLayout->addWidget(m_progressText);
    row->addWidget(m_progressRow);

    m_exportButton = new QPushButton(bar);
    m_exportButton->setDefault(true);
    m_exportButton->setMinimumWidth(96);
    row->addWidget(m_exportButton);
    column->addLayout(row);

    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_exportButton, &QPushButton::clicked, m_exporter, &FrameExporter::startExport);
    return bar;
}

void FrameExportView::init(const ImageItem &item, const QImage &sourceImage)
{
    m_model->startSingle(item, sourceImage);
    startInitialPreview();
}

void FrameExportView::init(const QList<ImageItem> &items)
{
    m_model->startBatch(items);
    startInitialPreview();
}

void FrameExportView::startInitialPreview()
{
    m_title->setText(titleText());
    m_exportButton->setText(exportButtonText());
    showExportState();
    m_model->setInitialLoading(true);
    if (!m_model->sourceImage().isNull() || m_model->items().isEmpty()) {
        endInitialLoadingWithNextPreview();
        m_scheduler->updatePreview();
        return;
    }
    BackgroundTask::whenFinished(m_rawProcessor->loadImage(m_model->items().first().path()), this,
                                 [this](QFuture<QImage> loaded) {
                                     // On failure the preview stays empty and export disabled.
                                     m_model->setSourceImage(ImageLoadResult::from(loaded).image);
                                     endInitialLoadingWithNextPreview();
                                     m_scheduler->updatePreview();
                                 });
}

void FrameExportView::endInitialLoadingWithNextPreview()
{
    // Connected only once the source is known: a debounced update that ran
    // while the first image was still loading has nothing to show and must
    // not end the loading state.
    connect(
        m_scheduler, &PreviewScheduler::previewUpdated, m_model,
        [this] { m_model->setInitialLoading(false); }, Qt::SingleShotConnection);
}

QString FrameExportView::titleText() const
{
    const qsizetype count = m_model->items().size();
    return count < 2 ? QStringLiteral("边框水印")
                     : QStringLiteral("批量边框水印（%1 张）").arg(count);
}

QString FrameExportView::exportButtonText() const
{
    const qsizetype count = m_model->items().size();
    return count < 2 ? QStringLiteral("导出") : QStringLiteral("应用到 %1 张").arg(count);
}

void FrameExportView::showEditMode()
{
    const EditMode mode = m_model->editMode();
    m_modeSwitch->setCurrentIndex(int(mode));
    m_frameSettings->setVisible(EditModes::appliesFrame(mode));
    m_watermarkHeading->setVisible(mode == EditMode::both);
    m_watermarkSettings->setVisible(EditModes::appliesWatermark(mode));
}

void FrameExportView::showExportState()
{
    const bool exporting = m_model->isExporting();
    const QString &message = m_model->exportMessage();
    m_message->setVisible(!message.isEmpty() && !exporting);
    m_message->setText(message);
    QPalette palette = m_message->palette();
    palette.setColor(QPalette::WindowText, message.contains(QStringLiteral("失败"))
                                               ? EditorStyle::failureText()
                                               : EditorStyle::successText());
    m_message->setPalette(palette);

    m_cancelButton->setEnabled(!exporting);
    m_exportButton->setVisible(!exporting);
    m_exportButton->setEnabled(!m_model->sourceImage().isNull());
    m_progressRow->setVisible(exporting);
    m_progressText->setText(message.isEmpty() ? QStringLiteral("正在导出...") : message);
}

void FrameExportView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        // While the colour panel is up, Escape belongs to the colour choice.
        if (!SharedColorPanel::isPanelVisible())
            reject();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void FrameExportView::closeEvent(QCloseEvent *event)
{
    if (m_model->isExporting()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void FrameExportView::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    m_detached = false;
    m_state.setSheetPresented(true);
}

void FrameExportView::done(int result)
{
    if (m_model->isExporting())
        return; // an export in flight finishes first; it closes the editor itself
    detach();
    QDialog::done(result);
}

void FrameExportView::detach()
{
    if (m_detached)
        return;
    m_detached = true;
    m_scheduler->cancel();
    m_coordinator->detach();
    m_state.setSheetPresented(false);
}
