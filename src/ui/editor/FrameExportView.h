#pragma once

#include "export/EditMode.h"
#include "model/ImageItem.h"

#include <QDialog>
#include <QImage>
#include <QList>
#include <QSize>
#include <memory>

class AppState;
class ColorPanelCoordinator;
class FrameExporter;
class FrameExportModel;
class FrameSettingsPanel;
class LogoCatalogue;
class PreviewPane;
class PreviewScheduler;
class QLabel;
class QPushButton;
class QScrollArea;
class QWidget;
class RAWProcessor;
class SegmentedControl;
class WatermarkSettingsPanel;

// The frame and watermark export editor: a modal dialog with a live preview
// on the left and the settings on the right. Opened for one decoded image
// (from the viewer) or for several images (from the grid's selection):
//
//     auto *editor = new FrameExportView(state, window);
//     editor->setAttribute(Qt::WA_DeleteOnClose);
//     editor->init(items);           // or init(item, decodedImage)
//     editor->open();
//
// While it is shown, AppState::isSheetPresented is true. It closes itself
// after a successful export; while an export runs it cannot be closed.
class FrameExportView : public QDialog
{
    Q_OBJECT

public:
    using EditMode = ::EditMode;

    // The panes' own size limits; the editor itself may be smaller than the
    // minimum (on a small window or screen) and then scrolls.
    static constexpr QSize minimumContentSize{900, 640};
    static constexpr int maximumContentHeight = 780;
    static constexpr QSize preferredSize{1120, 720};

    FrameExportView(AppState &state, QWidget *parent = nullptr);
    // With an explicit logo folder (tests, tools).
    FrameExportView(AppState &state, const LogoCatalogue &catalogue, QWidget *parent = nullptr);
    ~FrameExportView() override;

    // Single mode: `sourceImage` is the decoded picture of `item`; it is both
    // previewed and exported.
    void init(const ImageItem &item, const QImage &sourceImage);
    // Batch mode (at least one item): the first item is loaded for the preview.
    void init(const QList<ImageItem> &items);

    FrameExportModel &model() { return *m_model; }
    PreviewScheduler &previewScheduler() { return *m_scheduler; }
    ColorPanelCoordinator &colorCoordinator() { return *m_coordinator; }
    FrameExporter &exporter() { return *m_exporter; }
    // The decoder that loads the batch's pictures (one job at a time).
    RAWProcessor &rawProcessor() { return *m_rawProcessor; }

    // Window texts, exposed for tests and screenshots.
    QString titleText() const;
    QString exportButtonText() const;
    QPushButton *exportButton() const { return m_exportButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }
    QLabel *messageLabel() const { return m_message; }
    PreviewPane *previewPane() const { return m_preview; }

    // Sizes and places the editor inside `area` (global coordinates, such as
    // the part of the window it is about), a little in from its edges and
    // within the screen: its preferred size where that fits, else all of it.
    void placeWithin(const QRect &area);
    QScrollArea *scrollArea() const { return m_scrollArea; }

    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    static constexpr int areaMargin = 12;

    QWidget *makeSettingsPane(QWidget *parent);
    QWidget *makeBottomBar(QWidget *parent);
    void startInitialPreview();
    void endInitialLoadingWithNextPreview();
    void showEditMode();
    void showExportState();
    void detach();

    AppState &m_state;
    std::unique_ptr<RAWProcessor> m_rawProcessor;
    FrameExportModel *m_model;
    PreviewScheduler *m_scheduler;
    FrameExporter *m_exporter;
    ColorPanelCoordinator *m_coordinator;

    QScrollArea *m_scrollArea = nullptr;
    PreviewPane *m_preview = nullptr;
    QLabel *m_title = nullptr;
    SegmentedControl *m_modeSwitch = nullptr;
    FrameSettingsPanel *m_frameSettings = nullptr;
    QWidget *m_watermarkHeading = nullptr;
    WatermarkSettingsPanel *m_watermarkSettings = nullptr;
    QLabel *m_message = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QPushButton *m_exportButton = nullptr;
    QWidget *m_progressRow = nullptr;
    QLabel *m_progressText = nullptr;
    bool m_detached = false;
};
