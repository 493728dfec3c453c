#pragma once

#include "model/ImageItem.h"
#include "viewing/ShownPicture.h"

#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class AppState;
class FileRevealer;
class FocusAreaDisplay;
class FocusPointCache;
class NeighbourPrefetchCache;
class QLabel;
class QMenu;
class QMessageBox;
class QPushButton;
class RawDecodeControl;
class RoundSymbolButton;
class ShownImageLoader;
class ShownPicture;
class ViewerStatusBar;
class WorkQueues;
class ZoomableImageView;

// The single-image screen over black: the zoomable picture, the loading and
// error columns, the status bar, the back button, the previous/next arrows,
// the "边框水印" export button and, for RAW files, the control that replaces
// the quick preview with a full development.
//
// It follows AppState::selectedImage while AppState::isViewerActive and shows
// what its ShownPicture has (which loads, develops and prefetches off the UI
// thread, the newest request winning). Keys are left to the window: nothing
// here takes keyboard focus.
//
// The focus areas, once asked for, stay on for every photo shown until asked
// off; each photo's areas are read off the UI thread when it is shown.
class ImageViewerView : public QWidget
{
    Q_OBJECT

public:
    // Asks whether to export a decoded RAW (the "提示" alert) and calls
    // `answer` with true for "继续", false for "取消". May answer later.
    using RawExportConfirmation =
        std::function<void(QWidget *parent, std::function<void(bool)> answer)>;

    // Decodes and renditions run on the pools of `queues`.
    ImageViewerView(AppState &appState, WorkQueues &queues, QWidget *parent = nullptr);
    ~ImageViewerView() override;

    // Screen state.
    const std::optional<ImageItem> &item() const { return m_picture->item(); }
    const QImage &displayImage() const { return m_picture->image(); }
    // Until the full picture is there; a stand-in may show meanwhile.
    bool isLoading() const { return m_picture->isLoading(); }
    // Whether a picture (full or stand-in) is on screen.
    bool showsPicture() const;
    bool isDecodingRAW() const { return m_picture->isDeveloping(); }
    bool isRawDecoded() const { return m_picture->state() == ShownPicture::State::developed; }
    std::optional<QString> errorMessage() const;
    bool isFrameExportShown() const { return m_showFrameExport; }

    // Parts, for the window's layout and for tests.
    ZoomableImageView *zoomableView() const { return m_zoomView; }
    ViewerStatusBar *statusBar() const { return m_statusBar; }
    RawDecodeControl *rawControl() const { return m_rawControl; }
    QPushButton *exportButton() const { return m_exportButton; }
    // "对比": compare with the next photo (CompareSession::openFromViewer).
    QPushButton *compareButton() const { return m_compareButton; }
    RoundSymbolButton *backButton() const { return m_backButton; }
    RoundSymbolButton *previousButton() const { return m_previousButton; }
    RoundSymbolButton *nextButton() const { return m_nextButton; }
    QWidget *loadingColumn() const { return m_loadingColumn; }
    QWidget *errorColumn() const { return m_errorColumn; }
    ShownPicture &shownPicture() const { return *m_picture; }
    FocusAreaDisplay &focusAreas() const { return *m_focusAreas; }
    NeighbourPrefetchCache &prefetchCache() const;
    const ShownImageLoader &shownImageLoader() const;

    void setFileRevealer(std::unique_ptr<FileRevealer> revealer);
    void setRawExportConfirmation(RawExportConfirmation confirmation);
    // The "提示" alert as the default confirmation shows it (window-modal).
    static QMessageBox *createRawExportAlert(QWidget *parent);

    // "在访达中显示", "复制图片", "显示对焦点" and a list of the keys; null
    // while no picture is on screen.
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
    // Z: fitted <-> 100 %, at the pointer, else at the focus point when it is
    // known, else at the middle.
    void toggleActualPixels();
    // A: the focus areas over the picture, or "没有对焦点信息" in the status
    // line when the photo has none.
    void toggleFocusAreas();
    // The window tells whether it is full screen now.
    void setFullScreenShown(bool fullScreen);

Q_SIGNALS:
    // Open the export editor for `item` with `sourceImage` (the picture on
    // screen: the full decode when a RAW was decoded). AppState's
    // isSheetPresented is true from now until frameExportClosed().
    void exportRequested(const ImageItem &item, const QImage &sourceImage);
    // A load or decode finished for an image no longer shown and was dropped.
    void staleResultDiscarded();
    // The full-screen button: the window decides.
    void fullScreenToggleRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void followSelection();
    // The shown image and its neighbours in the filtered list.
    QList<ImageItem> neighbourhood(const ImageItem &shown) const;
    void setShowFrameExport(bool shown);

    void updateScreen();
    void updateNavigation();
    void updateRating();
    void layoutOverlays();

    AppState &m_appState;

    ShownPicture *m_picture;
    bool m_showFrameExport = false;
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
    QPushButton *m_compareButton;
    RawDecodeControl *m_rawControl;
    FocusPointCache *m_focusPoints;
    FocusAreaDisplay *m_focusAreas;
};
