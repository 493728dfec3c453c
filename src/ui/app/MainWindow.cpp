#include "app/MainWindow.h"

#include "app/DetailArea.h"
#include "app/ImportFlow.h"
#include "app/LoadingOverlay.h"
#include "app/SettingsDialog.h"
#include "app/SheetVeil.h"
#include "app/StatusBarView.h"
#include "app/ToastController.h"
#include "app/ToastView.h"
#include "app/ViewerKeyHandler.h"
#include "app/WidgetImportDialogs.h"
#include "browse/SidebarView.h"
#include "browse/ThumbnailGridView.h"
#include "browse/ThumbnailListView.h"
#include "common/FocusAreaDisplay.h"
#include "common/Theme.h"
#include "compare/ComparePane.h"
#include "compare/CompareView.h"
#include "model/SettingsFile.h"
#include "state/AppState.h"
#include "viewer/ImageViewerView.h"
#include "viewer/ViewerStatusBar.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>
#include <utility>

namespace {

// A borderless symbol button of the sidebar's toolbar.
QToolButton *makeToolbarButton(QWidget *parent, const QString &objectName, const QString &toolTip,
                               const QString &symbol)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setToolTip(toolTip);
    button->setIcon(Theme::symbolIcon(symbol, Theme::secondaryText(), 16));
    button->setIconSize(QSize(16, 16));
    button->setFixedSize(28, 28);
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

const QString placementKey = QStringLiteral("window/geometry");

} // namespace

MainWindow::MainWindow(AppState &state, std::unique_ptr<ImportDialogs> dialogs, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
    , m_importFlow(new ImportFlow(
          state, dialogs ? std::move(dialogs) : std::make_unique<WidgetImportDialogs>(this), this))
{
    setWindowTitle(QStringLiteral("Kelvane"));
    resize(1200, 800);
    setFocusPolicy(Qt::StrongFocus);

    auto *splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setChildrenCollapsible(false);
    splitter->setHandleWidth(1);
    splitter->setStyleSheet(QStringLiteral("QSplitter::handle { background: %1; }")
                                .arg(Theme::separator().name(QColor::HexArgb)));
    m_sidebarColumn = makeSidebarColumn();
    splitter->addWidget(m_sidebarColumn);
    m_detailArea = new DetailArea(state, splitter);
    splitter->addWidget(m_detailArea);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({sidebarIdealWidth, width() - sidebarIdealWidth});

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);

    // Back to front: status bar, loading overlay, toast.
    m_statusBar = new StatusBarView(state, this);
    m_loadingOverlay = new LoadingOverlay(state, this);
    m_toastView = new ToastView(this);
    m_toastController = new ToastController(state, m_toastView);
    m_statusBar->raise();
    m_loadingOverlay->raise();
    m_toastView->raise();
    m_sheetVeil = new SheetVeil(this);

    keepStatusBarClearOfContent();

    m_keyHandler = new ViewerKeyHandler(state, this);
    connectPageKeys();
    connect(m_detailArea, &DetailArea::importRequested, m_importFlow, &ImportFlow::importFolder);
    addWindowShortcuts();
    restorePlacement();
    // A quit that does not pass through closing the window (a signal, the session).
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (isVisible()) {
            leavePhotoFullScreen(); // the next start opens on the grid
            savePlacement();
        }
    });
}

MainWindow::~MainWindow() = default;

void MainWindow::keepStatusBarClearOfContent()
{
    m_detailArea->gridView()->listView().setBottomInset(m_statusBar->footprint());
    const auto followPage = [this] {
        const bool viewer = m_detailArea->currentPage() == DetailArea::Page::viewer;
        const bool compare = m_detailArea->currentPage() == DetailArea::Page::compare;
        m_statusBar->setBottomInset(
            viewer    ? m_detailArea->viewerView()->statusBar()->sizeHint().height()
            : compare ? ComparePane::footerHeight
                      : 0);
    };
    connect(m_detailArea, &QStackedWidget::currentChanged, this, followPage);
    followPage();
}

void MainWindow::connectPageKeys()
{
    ImageViewerView *viewer = m_detailArea->viewerView();
    connect(m_keyHandler, &ViewerKeyHandler::fullScreenRequested, this,
            &MainWindow::setFullScreenShown);
    connect(viewer, &ImageViewerView::fullScreenToggleRequested, this,
            [this] { setFullScreenShown(!m_photoFullScreen); });
    CompareView *compare = m_detailArea->compareView();
    connect(m_keyHandler, &ViewerKeyHandler::actualPixelsToggleRequested, this,
            [this, viewer, compare] {
                if (m_detailArea->currentPage() == DetailArea::Page::viewer)
                    viewer->toggleActualPixels();
                else if (m_detailArea->currentPage() == DetailArea::Page::compare)
                    compare->toggleActualPixels();
            });
    connect(m_keyHandler, &ViewerKeyHandler::focusAreasToggleRequested, this,
            [this, viewer, compare] {
                if (m_detailArea->currentPage() == DetailArea::Page::viewer)
                    viewer->toggleFocusAreas();
                else if (m_detailArea->currentPage() == DetailArea::Page::compare)
                    compare->setFocusAreasShown(!compare->focusAreasShown());
            });
    connect(m_detailArea, &QStackedWidget::currentChanged, this, [this, viewer, compare] {
        // Back on the grid the sidebar is wanted again.
        if (m_photoFullScreen && !DetailArea::canBeFullScreen(m_detailArea->currentPage()))
            setFullScreenShown(false);
        // The focus areas stay asked for between the viewer and compare.
        if (m_detailArea->currentPage() == DetailArea::Page::compare)
            compare->setFocusAreasShown(viewer->focusAreas().isShown());
        else if (m_detailArea->currentPage() == DetailArea::Page::viewer &&
                 viewer->focusAreas().isShown() != compare->focusAreasShown())
            viewer->toggleFocusAreas();
    });
}

void MainWindow::setFullScreenShown(bool fullScreen)
{
    if (fullScreen) {
        if (m_photoFullScreen || !DetailArea::canBeFullScreen(m_detailArea->currentPage()))
            return;
        m_photoFullScreen = true;
        m_maximizedBeforeFullScreen = isMaximized();
        showChrome(false);
        showFullScreen();
        return;
    }
    // Also a full screen the window manager made: F asks to leave it.
    const bool wasPhotoFullScreen = std::exchange(m_photoFullScreen, false);
    showChrome(true);
    if (!isFullScreen())
        return;
    if (wasPhotoFullScreen && m_maximizedBeforeFullScreen)
        showMaximized();
    else
        showNormal();
}

void MainWindow::leavePhotoFullScreen()
{
    if (m_photoFullScreen)
        setFullScreenShown(false);
}

void MainWindow::showChrome(bool shown)
{
    m_sidebarColumn->setVisible(shown);
    m_statusBar->setSuppressed(!shown);
    m_detailArea->viewerView()->setFullScreenShown(!shown);
}

void MainWindow::addWindowShortcuts()
{
    auto *closeWindow = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this);
    connect(closeWindow, &QShortcut::activated, this, &QWidget::close);
    auto *quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(quit, &QShortcut::activated, this, [this] {
        if (close())
            QCoreApplication::quit();
    });
}

void MainWindow::addUndoControls(QLayout &toolbar, QWidget *column)
{
    m_undoButton =
        makeToolbarButton(column, QStringLiteral("undoToolButton"), QStringLiteral("撤销"),
                          QStringLiteral("arrow.uturn.backward"));
    m_redoButton = makeToolbarButton(column, QStringLiteral("redoToolButton"),
                                     QStringLiteral("重做"), QStringLiteral("arrow.uturn.forward"));
    toolbar.addWidget(m_undoButton);
    toolbar.addWidget(m_redoButton);
    const auto undo = [this] {
        if (canTakeBack())
            m_state.undo();
    };
    const auto redo = [this] {
        if (canTakeBack())
            m_state.redo();
    };
    connect(m_undoButton, &QToolButton::clicked, this, undo);
    connect(m_redoButton, &QToolButton::clicked, this, redo);
    // A focused text field takes these keys for its own text first.
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), this), &QShortcut::activated, this,
            undo);
    for (const QKeySequence &keys :
         {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)})
        connect(new QShortcut(keys, this), &QShortcut::activated, this, redo);

    connect(&m_state.undoHistory(), &UndoHistory::changed, this, &MainWindow::updateUndoButtons);
    connect(&m_state, &AppState::movingFilesChanged, this, &MainWindow::updateUndoButtons);
    connect(&m_state, &AppState::sheetPresentedChanged, this, &MainWindow::updateUndoButtons);
    updateUndoButtons();
}

bool MainWindow::canTakeBack() const
{
    // Not while files move, nor under a sheet that keeps the window's keys.
    return !m_state.isMovingFiles() && !m_state.isSheetPresented();
}

void MainWindow::updateUndoButtons()
{
    m_undoButton->setEnabled(canTakeBack() && m_state.undoHistory().canUndo());
    m_redoButton->setEnabled(canTakeBack() && m_state.undoHistory().canRedo());
}

void MainWindow::restorePlacement()
{
    const QByteArray placement =
        SettingsFile::open(m_state.settingsFile())->value(placementKey).toByteArray();
    if (!placement.isEmpty())
        restoreGeometry(placement);
}

void MainWindow::savePlacement() const
{
    SettingsFile::open(m_state.settingsFile())->setValue(placementKey, saveGeometry());
}

bool MainWindow::event(QEvent *event)
{
    // A modal dialog or sheet over this window opens or closes.
    if (event->type() == QEvent::WindowBlocked || event->type() == QEvent::WindowUnblocked) {
        m_sheetVeil->raise();
        m_sheetVeil->setVisible(event->type() == QEvent::WindowBlocked);
    }
    return QWidget::event(event);
}

void MainWindow::changeEvent(QEvent *event)
{
    // The window manager took the window out of full screen.
    if (event->type() == QEvent::WindowStateChange && m_photoFullScreen && !isFullScreen()) {
        m_photoFullScreen = false;
        showChrome(true);
    }
    QWidget::changeEvent(event);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    leavePhotoFullScreen(); // the next start opens on the grid
    savePlacement();
    QWidget::closeEvent(event);
}

void MainWindow::showSettings()
{
    auto *dialog = new SettingsDialog(m_state.xmpRatingSync(), m_state.viewerSettings(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

QWidget *MainWindow::makeSidebarColumn()
{
    auto *column = new QWidget;
    column->setMinimumWidth(sidebarMinimumWidth);
    column->setMaximumWidth(sidebarMaximumWidth);
    column->setAutoFillBackground(true);
    QPalette palette = column->palette();
    palette.setColor(QPalette::Window, Theme::sidebarBackground());
    column->setPalette(palette);

    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *toolbar = new QHBoxLayout;
    toolbar->setContentsMargins(8, 6, 8, 2);
    addUndoControls(*toolbar, column);
    toolbar->addStretch(1);
    m_importButton = makeToolbarButton(column, QStringLiteral("importToolButton"),
                                       QStringLiteral("导入文件夹"), QStringLiteral("plus"));
    connect(m_importButton, &QToolButton::clicked, m_importFlow, &ImportFlow::importFolder);
    toolbar->addWidget(m_importButton);
    m_settingsButton = makeToolbarButton(column, QStringLiteral("settingsToolButton"),
                                         QStringLiteral("设置"), QStringLiteral("gearshape"));
    connect(m_settingsButton, &QToolButton::clicked, this, &MainWindow::showSettings);
    toolbar->addWidget(m_settingsButton);
    layout->addLayout(toolbar);

    m_sidebar = new SidebarView(m_state, column);
    layout->addWidget(m_sidebar, 1);
    return column;
}
