#pragma once

#include <QList>
#include <QStackedWidget>

class QImage;

class AppState;
class CompareView;
class FrameExportView;
class ImageItem;
class ImageViewerView;
class ThumbnailGridView;
class WelcomeView;

// The right-hand column: the compare screen while compare is open, else the
// viewer while it is active and an image is chosen, else the welcome view
// while no folder is open, else the thumbnail grid.
class DetailArea : public QStackedWidget
{
    Q_OBJECT

public:
    enum class Page { welcome, grid, viewer, compare };

    explicit DetailArea(AppState &state, QWidget *parent = nullptr);

    static Page pageFor(const AppState &state);
    // The pages that may fill the screen (F): the window leaves full screen
    // when another page comes to the front.
    static bool canBeFullScreen(Page page);
    Page currentPage() const;

    WelcomeView *welcomeView() const { return m_welcome; }
    ThumbnailGridView *gridView() const { return m_grid; }
    ImageViewerView *viewerView() const { return m_viewer; }
    CompareView *compareView() const { return m_compare; }

Q_SIGNALS:
    void importRequested();

private:
    void showPageForState();
    // The frame and watermark editor as a sheet over the window.
    void openBatchExport(const QList<ImageItem> &items);
    void openSingleExport(const ImageItem &item, const QImage &sourceImage);
    void placeOverThisArea(FrameExportView &editor) const;

    AppState &m_state;
    WelcomeView *m_welcome;
    ThumbnailGridView *m_grid;
    ImageViewerView *m_viewer;
    CompareView *m_compare;
};
