#pragma once

#include "imaging/ViewPicture.h"
#include "model/ImageItem.h"

#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class AppState;
class FileRevealer;
class NeighbourPrefetchCache;
class QLabel;
class QMenu;
class QMessageBox;
class QPushButton;
class RawDecodeControl;
class RoundSymbolButton;
class ShownImageLoader;
class ViewerStatusBar;
class ZoomableImageView;

// The single-image screen over black: the zoomable picture, the loading and
// error columns, the status bar, the back button, the previous/next arrows,
// the "边框水印" export button and, for RAW files, the control that replaces
// the quick preview with a full development.
//
// It follows AppState::selectedImage while AppState::isViewerActive, starting
// over whenever the item changes. Loads and decodes run off the UI thread,
// bounded by the loader (newest request wins); a result that arrives after the
// user has moved to another image is discarded. Keys are left to the window: nothing here takes
// keyboard focus.
class ImageViewerView : public QWidget
{
    Q_OBJECT

public:
    // Asks whether to export a decoded RAW (the "提示" alert) and calls
    // `answer` with true for "继续", false for "取消". May answer later.
    using RawExportConfirmation =
        std::function<void(QWidget *parent, std::function<void(bool)> answer)>;

    explicit ImageViewerView(AppState &appState, QWidget *parent = nullptr);
    ~ImageViewerView() override;

    // Screen state.
    const std::optional<ImageItem> &item() const { return m_item; }
    const QImage &displayImage() const { return m_displayImage; }
    // Until the full picture is there; a stand-in may show meanwhile.
    bool isLoading() const { return m_isLoading; }
    // Whether a picture (full or stand-in) is on screen.
    bool showsPicture() const { return !m_displayImage.isNull() || m_standIn.isStandIn(); }
    bool isDecodingRAW() const { return m_isDecodingRAW; }
    bool isRawDecoded() const { return m_rawDecoded; }
    const std::optional<QString> &errorMessage() const { return m_errorMessage; }
    bool isFrameExportShown() const { return m_showFrameExport; }

    // Parts, for the window's layout and for tests.
    ZoomableImageView *zoomableView() const { return m_zoomView; }
    ViewerStatusBar *statusBar() const { return m_statusBar; }
    RawDecodeControl *rawControl() const { return m_rawControl; }
    QPushButton *exportButton() const { return m_exportButton; }
    RoundSymbolButton *backButton() const { return m_backButton; }
    RoundSymbolButton *previousButton() const { return m_previousButton; }
    RoundSymbolButton *nextButton() const { return m_nextButton; }
    QWidget *loadingColumn() const { return m_loadingColumn; }
    QWidget *errorColumn() const { return m_errorColumn; }
    NeighbourPrefetchCache &prefetchCache() const { return *m_prefetch; }
    const ShownImageLoader &shownImageLoader() const { return *m_loader; }

    void setFileRevealer(std::unique_ptr<FileRevealer> revealer);
    void setRawExportConfirmation(RawExportConfirmation confirmation);
    // The "提示" alert as the default confirmation shows it (window-modal).
    static QMessageBox *createRawExportAlert(QWidget *parent);

    // "在访达中显示" and "复制图片"; null while no picture is on screen.
    QMenu *createContextMenu(QWidget *parent);

public Q_SLOTS:
    void goBack();
    void showPrevious();
    void showNext();
    // The "边框水印" action: asks first when the picture is a full RAW decode.
    void requestFrameExport();
    void decodeRAW();
    void revealInFileManager();
    void copyImage();
    // The window calls this when the export editor it opened has closed.
    void frameExportClosed();

Q_SIGNALS:
    // Open the export editor for `item` with `sourceImage` (the picture on
    // screen: the full decode when a RAW was decoded). AppState's
    // isSheetPresented is true from now until frameExportClosed().
    void exportRequested(const ImageItem &item, const QImage &sourceImage);
    // A load or decode finished for an image no longer shown and was dropped.
    void staleResultDiscarded();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void followSelection();
    void showItem(const ImageItem &item);
    void release();
    void load();
    QSize viewPixels() const;
    void connectLoader();
    bool isStale(quint64 generation);
    void finishLoad(quint64 generation, const QImage &image);
    void failLoad(quint64 generation, const QString &message);
    void finishDecode(quint64 generation, const QImage &image);
    void failDecode(quint64 generation, const QString &message);
    // The shown image and its neighbours in the filtered list.
    QList<ImageItem> neighbourhood() const;
    void prefetchNeighbours();
    void setShowFrameExport(bool shown);

    void updateScreen();
    void updateNavigation();
    void updateRating();
    void layoutOverlays();

    AppState &m_appState;

    // Screen state.
    std::optional<ImageItem> m_item;
    QImage m_displayImage;
    ViewPicture m_standIn;    // shown while the full picture decodes
    QImage m_fittedRendition; // of a prefetched picture, made ahead
    bool m_isLoading = false;
    bool m_isDecodingRAW = false;
    bool m_rawDecoded = false;
    std::optional<QString> m_errorMessage;
    bool m_showFrameExport = false;
    // Bumped whenever the item changes: results tagged with an older value
    // belong to an image no longer shown.
    quint64 m_generation = 0;
    // Waiting for the prefetch of this item instead of loading it twice.
    bool m_awaitingPrefetch = false;

    ShownImageLoader *m_loader;
    NeighbourPrefetchCache *m_prefetch;
    std::unique_ptr<FileRevealer> m_revealer;
    RawExportConfirmation m_confirmRawExport;

    ZoomableImageView *m_zoomView;
    QWidget *m_loadingColumn;
    QWidget *m_errorColumn;
    QLabel *m_errorText;
    ViewerStatusBar *m_statusBar;
    RoundSymbolButton *m_backButton;
    RoundSymbolButton *m_previousButton;
    RoundSymbolButton *m_nextButton;
    QWidget *m_actionRow;
    QPushButton *m_exportButton;
    RawDecodeControl *m_rawControl;
};
