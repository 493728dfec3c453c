#pragma once

#include "app/ImportDialogs.h"

#include <QWidget>
#include <memory>

class AppState;
class DetailArea;

class ImportFlow;
class LoadingOverlay;
class QToolButton;
class SheetVeil;
class SidebarView;
class StatusBarView;
class ToastController;
class ToastView;
class ViewerKeyHandler;

// The application's one window: the sidebar column with the import button
// above it, the detail area, and over them the status bar, the loading
// overlay and the toast. The viewer's keys work whichever child has focus;
// Ctrl+W closes the window and Ctrl+Q quits. The window comes back where and
// as large as it was left.
//
// Full screen is for the photo pages only: the window fills the screen with
// the sidebar column and the status line hidden, so the page has it all (the
// viewer keeps its own bar: the name and stars are what a culler reads). It
// ends with F, F11 or Escape, and when any other page comes to the front.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int sidebarMinimumWidth = 180;
    static constexpr int sidebarIdealWidth = 220;
    static constexpr int sidebarMaximumWidth = 320;

    // Without `dialogs`, the import asks through modal dialogs over this window.
    explicit MainWindow(AppState &state, std::unique_ptr<ImportDialogs> dialogs = nullptr,
                        QWidget *parent = nullptr);
    ~MainWindow() override;

    ImportFlow &importFlow() const { return *m_importFlow; }
    DetailArea *detailArea() const { return m_detailArea; }
    SidebarView *sidebarView() const { return m_sidebar; }
    QToolButton *importButton() const { return m_importButton; }
    QToolButton *settingsButton() const { return m_settingsButton; }
    QToolButton *undoButton() const { return m_undoButton; }
    QToolButton *redoButton() const { return m_redoButton; }
    StatusBarView *statusBarView() const { return m_statusBar; }
    LoadingOverlay *loadingOverlay() const { return m_loadingOverlay; }
    ToastView *toastView() const { return m_toastView; }
    ToastController *toastController() const { return m_toastController; }
    SheetVeil *sheetVeil() const { return m_sheetVeil; }
    QWidget *sidebarColumn() const { return m_sidebarColumn; }

    // Entering is ignored while the page in front cannot be full screen;
    // leaving also ends a full screen the window manager made.
    void setFullScreenShown(bool fullScreen);
    bool isFullScreenShown() const { return m_photoFullScreen; }

protected:
    bool event(QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void addWindowShortcuts();
    // Ctrl+Z, Ctrl+Shift+Z and Ctrl+Y in every screen, and the toolbar's
    // undo and redo buttons.
    void addUndoControls(QLayout &toolbar, QWidget *column);
    void updateUndoButtons();
    bool canTakeBack() const;
    // The status line never lies over the grid's tiles or the viewer's bar.
    void keepStatusBarClearOfContent();
    // Size, position and maximised state, kept in the application's settings.
    void restorePlacement();
    void savePlacement() const;
    void showSettings();
    QWidget *makeSidebarColumn();
    void connectPageKeys();
    // The sidebar column and the status line.
    void showChrome(bool shown);
    void leavePhotoFullScreen();

    AppState &m_state;
    ImportFlow *m_importFlow;
    QWidget *m_sidebarColumn = nullptr;
    SidebarView *m_sidebar = nullptr;
    QToolButton *m_importButton = nullptr;
    QToolButton *m_settingsButton = nullptr;
    QToolButton *m_undoButton = nullptr;
    QToolButton *m_redoButton = nullptr;
    DetailArea *m_detailArea = nullptr;
    StatusBarView *m_statusBar = nullptr;
    LoadingOverlay *m_loadingOverlay = nullptr;
    ToastView *m_toastView = nullptr;
    ToastController *m_toastController = nullptr;
    ViewerKeyHandler *m_keyHandler = nullptr;
    SheetVeil *m_sheetVeil = nullptr;
    // Full screen entered for a photo page (not one the window manager made).
    bool m_photoFullScreen = false;
    bool m_maximizedBeforeFullScreen = false;
};
