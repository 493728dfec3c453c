#include "BrowseFixtures.h"
#include "FileSystemFixtures.h"
#include "TestFiles.h"
#include "app/DetailArea.h"
#include "app/ImportFlow.h"
#include "app/LoadingOverlay.h"
#include "app/MainWindow.h"
#include "app/SettingsDialog.h"
#include "app/SheetVeil.h"
#include "app/StatusBarView.h"
#include "app/SubfolderPromptDialog.h"
#include "app/ToastController.h"
#include "app/ToastView.h"
#include "browse/ArchiveBusyVeil.h"
#include "browse/HistoryListView.h"
#include "browse/SelectionActionBar.h"
#include "browse/SidebarView.h"
#include "browse/ThumbnailGridView.h"
#include "browse/ThumbnailListView.h"
#include "common/FocusAreaDisplay.h"
#include "common/ZoomableImageView.h"
#include "compare/ComparePane.h"
#include "compare/CompareView.h"
#include "compare/CompareZoomView.h"
#include "editor/FrameExportView.h"
#include "state/CompareSession.h"
#include "state/ViewerSettings.h"
#include "viewer/ImageViewerView.h"
#include "viewer/RoundSymbolButton.h"
#include "viewer/ViewerStatusBar.h"

#include <QCheckBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace std::chrono_literals;
using BrowseFixtures::writeImage;
using TestFiles::makeDir;
using TestFiles::touch;
using Choice = ImportDialogs::SubfolderChoice;
using Page = DetailArea::Page;

namespace {

// Answers the import questions as a test scripted them and records what was asked.
struct ScriptedDialogs : ImportDialogs
{
    std::optional<QUrl> folder;
    Choice answer = Choice::cancel;
    QStringList askedNames;
    std::optional<QUrl> chooseFolder() override { return folder; }
    Choice askIncludeSubfolders(const QString &name) override { return askedNames << name, answer; }
};

// What keeps the viewer's keys from it.
enum class KeyBlocker { none, grid, folderOpenedFromTheViewer, sheet, modalDialog };

} // namespace

Q_DECLARE_METATYPE(KeyBlocker)

class TestMainWindow : public QObject
{
    Q_OBJECT

    WorkQueues m_queues;
    QTemporaryDir m_dir;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<MainWindow> m_window;
    ScriptedDialogs *m_dialogs = nullptr;

    QString path(const QString &relative) const { return m_dir.path() + '/' + relative; }
    void importFolder(const QString &folder, Choice answer = Choice::cancel)
    {
        m_dialogs->folder = QUrl::fromLocalFile(folder);
        m_dialogs->answer = answer;
        m_window->importFlow().importFolder();
    }
    void openSecondOfThreeInViewer()
    {
        for (const char *name : {"three/a1.jpg", "three/a2.jpg", "three/a3.jpg"})
            writeImage(m_dir.path(), name);
        importFolder(path("three"));
        QTRY_COMPARE(m_state->images().size(), 3);
        m_state->selectImage(1);
        QVERIFY(m_state->isViewerActive());
    }
    void showWindow()
    {
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    QStringList imageNames() const { return BrowseFixtures::filenames(m_state->images()); }

private Q_SLOTS:
    void init()
    {
        m_dir = QTemporaryDir();
        QVERIFY(m_dir.isValid());
        m_state = BrowseFixtures::makeState(m_queues, m_dir.path());
        auto dialogs = std::make_unique<ScriptedDialogs>();
        m_dialogs = dialogs.get();
        m_window = std::make_unique<MainWindow>(*m_state, std::move(dialogs));
    }
    void cleanup() { m_window.reset(), m_state.reset(); }

    void startsOnTheWelcomeViewAndTheGearOpensASheet()
    {
        QCOMPARE(m_window->detailArea()->currentPage(), Page::welcome);
        m_window->importFlow().importFolder(); // no folder chosen: nothing happens
        QVERIFY(m_dialogs->askedNames.isEmpty() && !m_state->isLoading() &&
                !m_state->currentFolder());
        showWindow();
        QWidget *veil = m_window->sheetVeil();
        QTest::mouseClick(m_window->settingsButton(), Qt::LeftButton);
        SettingsDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = m_window->findChild<SettingsDialog *>()) && dialog->isVisible());
        QTRY_COMPARE(m_window->childAt(m_window->rect().center()), veil); // shown above all

        dialog->xmpSyncCheckBox()->click();
        QVERIFY(m_state->xmpRatingSync().isEnabled());
        QVERIFY(!dialog->autoAdvanceCheckBox()->isChecked());
        dialog->autoAdvanceCheckBox()->click();
        QVERIFY(m_state->viewerSettings().autoAdvance());
        QVERIFY(ViewerSettings(path("settings.ini")).autoAdvance()); // kept for the next run
        dialog->reject();
        QTRY_VERIFY(veil->isHidden() && !m_window->findChild<SettingsDialog *>());
    }

    void ctrlWAndCtrlQCloseAndThePlacementComesBack()
    {
        const QRect placed(40, 30, 720, 520);
        m_window->setGeometry(placed);
        showWindow();
        QTest::keyClick(m_window.get(), Qt::Key_W, Qt::ControlModifier);
        QTRY_VERIFY(!m_window->isVisible());

        auto next = std::make_unique<MainWindow>(*m_state);
        QCOMPARE(next->geometry(), placed);
        next->showMaximized();
        QTRY_VERIFY(next->isMaximized() && next->isActiveWindow());
        QTest::keyClick(next.get(), Qt::Key_Q, Qt::ControlModifier);
        QTRY_VERIFY(!next->isVisible());
        next = std::make_unique<MainWindow>(*m_state);
        next->show();
        QVERIFY(next->isMaximized());
        next->showNormal();
        QTRY_COMPARE(next->geometry(), placed);
    }
    void subfolderAnswers_data()
    {
        QTest::addColumn<Choice>("answer");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("包含子文件夹")
            << Choice::includeSubfolders << QStringList({"a.jpg", "b.jpg"});
        QTest::newRow("仅当前文件夹") << Choice::currentFolderOnly << QStringList({"a.jpg"});
        QTest::newRow("取消 keeps the open folder") << Choice::cancel << QStringList({"first.jpg"});
    }
    void subfolderAnswers()
    {
        QFETCH(Choice, answer);
        QFETCH(QStringList, expected);
        // Neither a hidden sub-folder nor other files ask or count.
        for (const char *name : {"first/first.jpg", "first/notes.txt", "first/.cache/c.jpg"})
            touch(m_dir.path(), name);
        importFolder(path("first"), Choice::includeSubfolders);
        QVERIFY(m_dialogs->askedNames.isEmpty());
        QTRY_VERIFY(m_state->currentFolder().has_value() && !m_state->isLoading());
        QCOMPARE(imageNames(), QStringList({"first.jpg"}));
        for (const char *name : {"trip/a.jpg", "trip/day 2/b.jpg"})
            touch(m_dir.path(), name);
        makeDir(m_dir.path(), "trip/empty");

        importFolder(path("trip"), answer);
        QCOMPARE(m_dialogs->askedNames, QStringList({"trip"}));
        QTRY_VERIFY(!m_state->isLoading());
        QCOMPARE(imageNames(), expected);
        // The open answers leave the pending folder as it was; a cancel forgets it.
        QCOMPARE(m_window->importFlow().pendingFolderURL(),
                 answer == Choice::cancel ? std::nullopt
                                          : std::optional(QUrl::fromLocalFile(path("trip"))));
    }

    void subfolderCheckAndPromptCancel()
    {
        touch(m_dir.path(), "plain.jpg");
        makeDir(m_dir.path(), "nested/inner");
        touch(m_dir.path(), "hidden/.cache/b.jpg");
        makeDir(m_dir.path(), "locked/inner");
        QFile::setPermissions(path("locked"), QFileDevice::WriteOwner);
        QStringList found;
        {
            const PermissionChecksOnThisThread asAUser;
            for (const char *target : {"nested", "hidden", "plain.jpg", "missing", "locked"}) {
                if (ImportFlow::checkForSubfolders(QUrl::fromLocalFile(path(target))))
                    found << target;
            }
            if (!asAUser.isActive())
                found.removeAll("locked"); // root's overrides stay: the folder is readable
        }
        QFile::setPermissions(path("locked"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner);
        QCOMPARE(found, QStringList{"nested"});

        // The prompt's two open answers are clicked by tst_launch through a real hand-over.
        const QString name = ImportFlow::folderName(QUrl::fromLocalFile(path("旅行") + '/'));
        QCOMPARE(name, QStringLiteral("旅行"));
        SubfolderPromptDialog dialog(name);
        dialog.open();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible() && dialog.choice() == Choice::cancel);
    }

    // Keys reach the state from any focused child, but only with a viewer in front.
    void keysReachOnlyAViewerInFront_data()
    {
        QTest::addColumn<KeyBlocker>("blocker");
        QTest::newRow("nothing") << KeyBlocker::none;
        QTest::newRow("the grid shows") << KeyBlocker::grid;
        QTest::newRow("a folder opened from the viewer") << KeyBlocker::folderOpenedFromTheViewer;
        QTest::newRow("a sheet is open") << KeyBlocker::sheet;
        QTest::newRow("a modal dialog is open") << KeyBlocker::modalDialog;
    }
    void keysReachOnlyAViewerInFront()
    {
        QFETCH(KeyBlocker, blocker);
        openSecondOfThreeInViewer();
        const ImageItem shown = m_state->images().at(1);
        m_state->starRatingStore().setRating(4, shown.path());
        QWidget *target = m_window->sidebarView()->historyListView()->listView();
        QDialog dialog(m_window.get());
        switch (blocker) {
        case KeyBlocker::none:
            break;
        case KeyBlocker::grid:
            m_state->setViewerActive(false);
            break;
        case KeyBlocker::folderOpenedFromTheViewer:
            touch(m_dir.path(), "other/b1.jpg");
            importFolder(path("other"));
            QTRY_VERIFY(!m_state->isLoading());
            // The viewer needs an image as well as the flag.
            QVERIFY(m_state->isViewerActive() && !m_state->selectedImage());
            QCOMPARE(m_window->detailArea()->currentPage(), Page::grid);
            break;
        case KeyBlocker::sheet:
            m_state->setSheetPresented(true);
            break;
        case KeyBlocker::modalDialog:
            dialog.setModal(true);
            dialog.open();
            target = &dialog;
            break;
        }
        const bool blocked = blocker != KeyBlocker::none;
        const Page page = m_window->detailArea()->currentPage();
        const bool viewerActive = m_state->isViewerActive();
        QTest::keyClick(target, Qt::Key_Right);
        QTest::keyClick(target, Qt::Key_Right);
        QCOMPARE(m_state->currentIndex(), blocked ? 1 : 2);
        QTest::keyClick(blocked ? target : m_window.get(), Qt::Key_Left);
        QCOMPARE(m_state->currentIndex(), 1);
        for (int key : {Qt::Key_3, Qt::Key_6, Qt::Key_B})
            QTest::keyClick(target, Qt::Key(key));
        QCOMPARE(m_state->rating(shown), blocked ? 4 : 3);
        QTest::keyClick(target, Qt::Key_0);
        QCOMPARE(m_state->rating(shown), blocked ? 4 : 0);
        QTest::keyClick(target, Qt::Key_P);
        QCOMPARE(m_state->mark(shown).flag, blocked ? CullingFlag::none : CullingFlag::pick);
        QTest::keyClick(target, Qt::Key_Escape);
        QCOMPARE(m_window->detailArea()->currentPage(), blocked ? page : Page::grid);
        QCOMPARE(m_state->isViewerActive(), blocked && viewerActive);
        QVERIFY(!dialog.isVisible()); // Escape closed the dialog, not the viewer
    }

    // A rating, flag or label by key moves on when the setting says so, never past the last
    // image; the star control's clicks never move.
    void autoAdvanceAfterRatingKeys_data()
    {
        QTest::addColumn<bool>("autoAdvance");
        QTest::newRow("off") << false;
        QTest::newRow("on") << true;
    }
    void autoAdvanceAfterRatingKeys()
    {
        QFETCH(bool, autoAdvance);
        m_state->viewerSettings().setAutoAdvance(autoAdvance);
        openSecondOfThreeInViewer();
        const QList<ImageItem> images = m_state->images();
        // Unrated only: the rated image leaves the list, the viewer has moved on already.
        m_state->setStarFilter(-1);
        m_state->selectImage(0);
        QTest::keyClick(m_window.get(), Qt::Key_4);
        QCOMPARE(m_state->selectedImage(), std::optional(images[1]));
        m_state->setStarFilter(0);
        QTRY_COMPARE(m_state->filteredImages().size(), 3);
        m_state->selectImage(1);
        QTest::keyClick(m_window.get(), Qt::Key_2);
        QCOMPARE(m_state->rating(images[1]), 2);
        QCOMPARE(m_state->currentIndex(), autoAdvance ? 2 : 1);
        QTest::keyClick(m_window.get(), Qt::Key_5);
        QCOMPARE(m_state->rating(images[autoAdvance ? 2 : 1]), 5);
        QCOMPARE(m_state->currentIndex(), autoAdvance ? 2 : 1); // the last stays
        QCOMPARE(m_state->statusMessage(), QStringLiteral("已标记 5 星"));
        Q_EMIT m_window->detailArea()->viewerView()->statusBar()->ratingChosen(1);
        QCOMPARE(m_state->currentIndex(), autoAdvance ? 2 : 1);
        // Flags and labels by key move on like ratings.
        m_state->selectImage(0);
        QTest::keyClick(m_window.get(), Qt::Key_X);
        QCOMPARE(m_state->mark(images[0]).flag, CullingFlag::reject);
        QCOMPARE(m_state->currentIndex(), autoAdvance ? 1 : 0);
    }

    // Ctrl+Z and Ctrl+Shift+Z / Ctrl+Y in the grid and the viewer, and the
    // toolbar's buttons, disabled while nothing is to be taken back or a sheet is up.
    void undoAndRedoByKeyAndButton()
    {
        openSecondOfThreeInViewer();
        showWindow();
        const ImageItem shown = *m_state->selectedImage();
        QVERIFY(!m_window->undoButton()->isEnabled() && !m_window->redoButton()->isEnabled());
        QTest::keyClick(m_window.get(), Qt::Key_3);
        QTest::keyClick(m_window.get(), Qt::Key_P);
        QVERIFY(m_window->undoButton()->isEnabled());
        QTest::keyClick(m_window.get(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(m_state->mark(shown).flag, CullingFlag::none);
        QCOMPARE(m_state->statusMessage(), QStringLiteral("已撤销：标记为留用"));
        QCOMPARE(m_window->detailArea()->currentPage(), Page::viewer); // not a loupe key
        m_state->setViewerActive(false);
        QTRY_COMPARE(m_window->detailArea()->currentPage(), Page::grid);
        QTest::keyClick(m_window.get(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(m_state->rating(shown), 0);
        QVERIFY(!m_window->undoButton()->isEnabled() && m_window->redoButton()->isEnabled());
        QTest::keyClick(m_window.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(m_state->rating(shown), 3);
        QTest::keyClick(m_window.get(), Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(m_state->mark(shown).flag, CullingFlag::pick);
        QCOMPARE(m_state->statusMessage(), QStringLiteral("已重做：标记为留用"));
        m_window->undoButton()->click();
        QCOMPARE(m_state->mark(shown).flag, CullingFlag::none);
        m_state->setSheetPresented(true);
        QVERIFY(!m_window->undoButton()->isEnabled() && !m_window->redoButton()->isEnabled());
        QTest::keyClick(m_window.get(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(m_state->rating(shown), 3);
    }

    // Delete in the viewer, compare and the grid, the menus' entries, and
    // Ctrl+Z bringing the photos back; the Trash is a temporary one.
    void deleteMovesToTheTrashInEveryScreen()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(path("data")));
        const auto restoreDataHome = qScopeGuard([] { qunsetenv("XDG_DATA_HOME"); });
        for (const char *name : {"five/a0.jpg", "five/a1.jpg", "five/a2.jpg", "five/a3.jpg",
                                 "five/a4.jpg"})
            writeImage(m_dir.path(), name);
        importFolder(path("five"));
        QTRY_COMPARE(m_state->images().size(), 5);
        m_state->selectImage(2);
        showWindow();
        const auto waitForFiles = [this] { QTRY_VERIFY(!m_state->isMovingFiles()); };
        const auto trashed = [this] {
            return QDir(path("data/Trash/files")).entryList(QDir::Files);
        };

        QTest::keyClick(m_window.get(), Qt::Key_Delete);
        QCOMPARE(m_state->selectedImage()->filename(), QStringLiteral("a3.jpg")); // at once
        waitForFiles();
        QCOMPARE(trashed(), QStringList{"a2.jpg"});
        QCOMPARE(imageNames(), (QStringList{"a0.jpg", "a1.jpg", "a3.jpg", "a4.jpg"}));
        QCOMPARE(m_window->detailArea()->currentPage(), Page::viewer);
        QCOMPARE(m_state->selectedImage()->filename(), QStringLiteral("a3.jpg"));
        std::unique_ptr<QMenu> viewerMenu(
            m_window->detailArea()->viewerView()->createContextMenu(nullptr));
        QVERIFY(std::ranges::any_of(viewerMenu->actions(), [](const QAction *action) {
            return action->text() == QStringLiteral("移到废纸篓");
        }));

        // Compare: Delete takes the candidate, the next photo comes in.
        QTest::keyClick(m_window.get(), Qt::Key_C);
        QCOMPARE(m_window->detailArea()->currentPage(), Page::compare);
        m_state->compare().setActivePane(1); // a4
        QTest::keyClick(m_window.get(), Qt::Key_Delete);
        waitForFiles();
        QCOMPARE(trashed(), (QStringList{"a2.jpg", "a4.jpg"}));
        QCOMPARE(BrowseFixtures::filenames(m_state->compare().items()),
                 (QStringList{"a3.jpg", "a1.jpg"}));
        QTest::keyClick(m_window.get(), Qt::Key_Escape);
        QTest::keyClick(m_window.get(), Qt::Key_Escape);
        QTRY_COMPARE(m_window->detailArea()->currentPage(), Page::grid);

        // The grid: Delete takes the selection, under a veil saying so.
        QTest::keyClick(m_window.get(), Qt::Key_Delete); // nothing selected: nothing happens
        QVERIFY(!m_state->isMovingFiles());
        for (const char *name : {"a0.jpg", "a1.jpg"})
            m_state->toggleSelection(BrowseFixtures::item(*m_state, name).id());
        QTest::keyClick(m_window.get(), Qt::Key_Delete);
        QVERIFY(m_state->isMovingFiles());
        QCOMPARE(m_window->detailArea()->gridView()->busyVeil().message(),
                 QStringLiteral("正在移到废纸篓..."));
        waitForFiles();
        QCOMPARE(imageNames(), QStringList{"a3.jpg"});
        QCOMPARE(m_state->toastMessage().value_or(QString()),
                 QStringLiteral("已移到废纸篓 2 张，按 Ctrl+Z 撤销"));

        QTest::keyClick(m_window.get(), Qt::Key_Z, Qt::ControlModifier);
        waitForFiles();
        QCOMPARE(imageNames(), (QStringList{"a0.jpg", "a1.jpg", "a3.jpg"}));
        QCOMPARE(m_state->statusMessage(), QStringLiteral("已撤销：移到废纸篓（2 张）"));
        // The selection bar's button does what Delete does.
        m_state->toggleSelection(BrowseFixtures::item(*m_state, "a3.jpg").id());
        auto *bar = m_window->findChild<SelectionActionBar *>();
        const QList<QPushButton *> buttons = bar->findChildren<QPushButton *>();
        const auto trashButton =
            std::ranges::find(buttons, QStringLiteral("移到废纸篓"), &QPushButton::text);
        QVERIFY(trashButton != buttons.end());
        QTest::mouseClick(*trashButton, Qt::LeftButton);
        waitForFiles();
        QCOMPARE(imageNames(), (QStringList{"a0.jpg", "a1.jpg"}));
    }

    // F and F11 fill the screen with the photo; Escape leaves full screen
    // first, and leaving the viewer in any way leaves it too.
    void fullScreenKeysAndEscapeOrder_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("F") << int(Qt::Key_F);
        QTest::newRow("F11") << int(Qt::Key_F11);
    }
    void fullScreenKeysAndEscapeOrder()
    {
        QFETCH(int, key);
        openSecondOfThreeInViewer();
        showWindow();
        ImageViewerView *viewer = m_window->detailArea()->viewerView();
        const auto chromeShown = [this] {
            return m_window->sidebarColumn()->isVisible() && m_window->importButton()->isVisible();
        };
        QVERIFY(chromeShown());
        m_state->setStatusMessage(QStringLiteral("已标记 3 星"));
        QTest::keyClick(m_window.get(), Qt::Key(key));
        QVERIFY(m_window->isFullScreen() && !chromeShown());
        QVERIFY(!m_window->statusBarView()->isVisible() && viewer->statusBar()->isVisible());
        QVERIFY(viewer->statusBar()->fullScreenButton()->isChecked());
        // The page's keys work in full screen.
        QTRY_VERIFY_WITH_TIMEOUT(viewer->showsPicture() && !viewer->isLoading(), 10000);
        QTest::keyClick(m_window.get(), Qt::Key_Z);
        QVERIFY(!viewer->zoomableView()->isFitted());
        QTest::keyClick(m_window.get(), Qt::Key_A);
        QVERIFY(viewer->focusAreas().isShown());
        QTest::keyClick(m_window.get(), Qt::Key(key));
        QVERIFY(!m_window->isFullScreen() && chromeShown());
        QVERIFY(m_window->statusBarView()->isVisible());

        QTest::keyClick(m_window.get(), Qt::Key(key));
        QTest::keyClick(m_window.get(), Qt::Key_Escape);
        QVERIFY(!m_window->isFullScreen() && chromeShown() && m_state->isViewerActive());
        QTest::keyClick(m_window.get(), Qt::Key_Escape);
        QCOMPARE(m_window->detailArea()->currentPage(), Page::grid);
        QTest::keyClick(m_window.get(), Qt::Key(key)); // not on the grid
        QVERIFY(!m_window->isFullScreen());

        m_state->selectImage(1);
        QTest::mouseClick(viewer->statusBar()->fullScreenButton(), Qt::LeftButton);
        QVERIFY(m_window->isFullScreen());
        QTest::mouseClick(viewer->backButton(), Qt::LeftButton);
        QVERIFY(!m_window->isFullScreen() && chromeShown());
    }

    // Compare opens from the viewer (C, "对比") and from the selection bar,
    // takes the window's keys, and Escape goes back where it was opened.
    void compareOpensFromViewerAndBarAndEscapeGoesBack()
    {
        openSecondOfThreeInViewer();
        showWindow();
        QWidget *target = m_window->sidebarView()->historyListView()->listView();
        DetailArea *area = m_window->detailArea();
        const auto compared = [this] {
            return BrowseFixtures::filenames(m_state->compare().items());
        };
        QTest::keyClick(target, Qt::Key_A); // asked for in the viewer, kept in compare
        QTest::keyClick(target, Qt::Key_C);
        QCOMPARE(area->currentPage(), Page::compare);
        QCOMPARE(compared(), (QStringList{"a2.jpg", "a3.jpg"}));
        // The loupe, focus-area and full-screen keys reach compare too.
        CompareView *compareView = area->compareView();
        QVERIFY(compareView->focusAreasShown());
        QTest::keyClick(target, Qt::Key_F);
        QVERIFY(m_window->isFullScreen());
        QTRY_VERIFY_WITH_TIMEOUT(compareView->panes()[1]->showsPicture(), 10000);
        QTest::keyClick(target, Qt::Key_Z);
        QVERIFY(compareView->panes()[1]->zoomView()->magnification() != 1.0);
        QTest::keyClick(target, Qt::Key_A);
        QVERIFY(!compareView->focusAreasShown());
        QTest::keyClick(target, Qt::Key_Escape);
        QVERIFY(!m_window->isFullScreen());
        QCOMPARE(area->currentPage(), Page::compare);
        QTest::keyClick(target, Qt::Key_Up);
        QCOMPARE(compared(), (QStringList{"a3.jpg", "a2.jpg"}));
        QTest::keyClick(target, Qt::Key_Escape);
        QCOMPARE(area->currentPage(), Page::viewer);
        QVERIFY(!area->viewerView()->focusAreas().isShown());
        QCOMPARE(m_state->selectedImage()->filename(), QStringLiteral("a3.jpg")); // the select
        QTest::mouseClick(area->viewerView()->compareButton(), Qt::LeftButton);
        QCOMPARE(compared(), (QStringList{"a3.jpg", "a2.jpg"})); // the last: with the previous
        QTest::keyClick(target, Qt::Key_Escape);
        QTest::keyClick(target, Qt::Key_Escape);
        QCOMPARE(area->currentPage(), Page::grid);
        QPushButton *button = area->gridView()->selectionBar().compareButton();
        m_state->toggleSelection(m_state->images()[2].id());
        QVERIFY(!button->isEnabled());
        m_state->toggleSelection(m_state->images()[0].id());
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(area->currentPage(), Page::compare);
        QCOMPARE(compared(), (QStringList{"a1.jpg", "a3.jpg"}));
        QTest::keyClick(target, Qt::Key_Escape);
        QCOMPARE(area->currentPage(), Page::grid);
        QCOMPARE(m_state->selectedImageIDs().size(), 2);
    }

    void loadingOverlayAndToast()
    {
        makeDir(m_dir.path(), "gone");
        m_state->folderHistory().add(QUrl::fromLocalFile(path("gone")));
        QVERIFY(QDir(path("gone")).removeRecursively());
        showWindow();
        StatusBarView *statusBar = m_window->statusBarView();
        LoadingOverlay *overlay = m_window->loadingOverlay();

        QListView *list = m_window->sidebarView()->historyListView()->listView();
        const QPoint rowCentre = list->visualRect(list->model()->index(0, 0)).center();
        const QPoint inWindow = list->viewport()->mapTo(m_window.get(), rowCentre);
        m_state->setLoading(true);
        m_state->setStatusMessage(QStringLiteral("正在扫描文件夹..."));
        QVERIFY(statusBar->isHidden() && overlay->isVisible());
        QCOMPARE(overlay->message(), QStringLiteral("正在扫描文件夹..."));
        QWidget *hit = m_window->childAt(inWindow);
        QVERIFY(hit == overlay || overlay->isAncestorOf(hit));
        QTest::mouseClick(m_window->windowHandle(), Qt::LeftButton, {}, inWindow);
        QCOMPARE(m_state->statusMessage(), QStringLiteral("正在扫描文件夹..."));

        // The same click reaches the row once the scan is over.
        m_state->setLoading(false);
        QVERIFY(overlay->isHidden() && statusBar->isVisible());
        QTest::mouseClick(m_window->windowHandle(), Qt::LeftButton, {}, inWindow);
        QCOMPARE(m_state->statusMessage(), QStringLiteral("文件夹不存在: gone"));
        m_state->setStatusMessage(QString());
        QVERIFY(statusBar->isHidden());

        // The toast stays above the overlay and waits anew only for a new text.
        ToastView *toast = m_window->toastView();
        ToastController *controller = m_window->toastController();
        m_state->setLoading(true);
        m_state->setToastMessage(QStringLiteral("短"));
        QTRY_VERIFY(toast->opacity() > 0.1);
        const QString wide = QStringLiteral("已归档 3 张图片到「归档」，一条宽得多的提示");
        m_state->setToastMessage(wide);
        QCOMPARE(toast->message(), wide);
        // The overlay's text changes while it shows; the toast must stay on top.
        m_state->setStatusMessage(QStringLiteral("正在刷新..."));
        m_state->setStatusMessage(QStringLiteral("正在扫描文件夹..."));
        QTRY_COMPARE(toast->opacity(), 1.0);
        const QObjectList &stack = m_window->children();
        QVERIFY(stack.indexOf(toast) > stack.indexOf(m_window->loadingOverlay()));
        const QImage bubble = toast->grab(toast->bubbleRect()).toImage();
        int ink = 0; // the text, dark on the light bubble
        for (int y = 0; y < bubble.height(); ++y)
            for (int x = 0; x < bubble.width(); ++x)
                ink += qGray(bubble.pixel(x, y)) < 100;
        QVERIFY2(ink > 300, qPrintable(QString::number(ink)));
        m_state->setToastMessage(std::nullopt);
        QVERIFY(!controller->isPresented() && controller->remainingTime() == -1);
        QTRY_VERIFY(toast->isHidden());

        const auto shownFor = 300ms;
        controller->setDisplayTime(shownFor);
        m_state->setToastMessage(QStringLiteral("first"));
        QTRY_VERIFY(controller->remainingTime() <= 150);
        QElapsedTimer sinceSecond;
        sinceSecond.start();
        m_state->setToastMessage(QStringLiteral("second"));
        QVERIFY(controller->remainingTime() > 150);
        QTRY_VERIFY(controller->remainingTime() <= 150);
        m_state->setToastMessage(QStringLiteral("second"));
        QVERIFY(controller->remainingTime() <= 150);
        QTRY_VERIFY(!m_state->toastMessage().has_value());
        QVERIFY(sinceSecond.elapsed() >= shownFor.count());
        QTRY_VERIFY(toast->isHidden());
    }

    // Images only in sub-folders: a link offers them. The line keeps clear of tiles and bars.
    void statusLineOffersSubfoldersAndStaysClear()
    {
        for (const char *name : {"trip/day 1/a.jpg", "trip/day 2/b.jpg", "trip/day 2/c.jpg"})
            touch(m_dir.path(), name);
        showWindow();
        importFolder(path("trip"), Choice::currentFolderOnly);
        StatusBarView *pill = m_window->statusBarView();
        QTRY_VERIFY(pill->isVisible() && !pill->linkRect().isEmpty());
        QVERIFY(pill->rect().contains(pill->linkRect()) && m_state->images().isEmpty());
        QTest::mouseClick(pill, Qt::LeftButton, {}, QPoint(2, pill->height() / 2)); // beside it
        QVERIFY(!m_state->isLoading());
        QTest::mouseClick(pill, Qt::LeftButton, {}, pill->linkRect().center());
        QTRY_COMPARE(m_state->images().size(), 3);
        QVERIFY(pill->linkRect().isEmpty());
        for (int i = 0; i < 40; ++i)
            touch(m_dir.path(), QStringLiteral("many/IMG_%1.jpg").arg(i, 4, 10, QChar('0')));
        touch(m_dir.path(), "many/ZZ_" + QString(70, QChar('x')) + ".jpg"); // a long name, last
        importFolder(path("many"));
        QTRY_COMPARE(m_state->images().size(), 41);
        QTRY_VERIFY(pill->isVisible());
        const auto inWindow = [this](QWidget *widget) {
            return QRect(widget->mapTo(m_window.get(), QPoint(0, 0)), widget->size());
        };
        ThumbnailListView &tiles = m_window->detailArea()->gridView()->listView();
        tiles.scrollToBottom();
        QVERIFY(!inWindow(tiles.viewport()).intersects(pill->geometry()));

        m_state->selectImage(40);
        QTRY_COMPARE(m_window->detailArea()->currentPage(), Page::viewer);
        QTRY_VERIFY(pill->isVisible());
        ViewerStatusBar *bar = m_window->detailArea()->viewerView()->statusBar();
        QTRY_VERIFY(bar->isVisible());
        QVERIFY(!inWindow(bar).intersects(pill->geometry()));
        QTest::keyClick(m_window.get(), Qt::Key_Escape);
        QTRY_VERIFY(!inWindow(tiles.viewport()).intersects(pill->geometry()));
    }

    void editorIsASheetBesideTheSidebar_data()
    {
        QTest::addColumn<QSize>("windowSize");
        QTest::addColumn<bool>("fromViewer");
        QTest::newRow("batch, smallest size") << QSize() << false;
        QTest::newRow("the viewer's image") << QSize(1200, 800) << true;
    }
    void editorIsASheetBesideTheSidebar()
    {
        QFETCH(QSize, windowSize);
        QFETCH(bool, fromViewer);
        openSecondOfThreeInViewer();
        m_window->resize(windowSize.isValid() ? windowSize : m_window->minimumSizeHint());
        showWindow();
        if (fromViewer) {
            ImageViewerView *viewer = m_window->detailArea()->viewerView();
            QTRY_VERIFY_WITH_TIMEOUT(!viewer->displayImage().isNull(), 10000);
            viewer->requestFrameExport();
        } else {
            m_state->setViewerActive(false);
            m_state->selectAllVisible();
            QPushButton *button = m_window->detailArea()->gridView()->selectionBar().exportButton();
            QTRY_VERIFY(button->isVisible());
            QTest::mouseClick(button, Qt::LeftButton);
        }
        FrameExportView *editor = nullptr;
        QTRY_VERIFY((editor = m_window->findChild<FrameExportView *>()) && editor->isVisible());
        QCOMPARE(editor->titleText(),
                 fromViewer ? QStringLiteral("边框水印") : QStringLiteral("批量边框水印（3 张）"));
        QVERIFY(m_state->isSheetPresented());
        const QRect detail(m_window->detailArea()->mapToGlobal(QPoint(0, 0)),
                           m_window->detailArea()->size());
        QVERIFY(detail.contains(editor->frameGeometry()));
        // Whatever is cut from its minimum size is reached by scrolling.
        const QSize content = editor->scrollArea()->widget()->size();
        QCOMPARE(content.expandedTo(FrameExportView::minimumContentSize), content);
        const QSize shown = editor->scrollArea()->viewport()->size();
        QCOMPARE(editor->scrollArea()->horizontalScrollBar()->maximum(),
                 std::max(0, content.width() - shown.width()));
        QCOMPARE(editor->scrollArea()->verticalScrollBar()->maximum(),
                 std::max(0, content.height() - shown.height()));
        // Keys belong to the sheet while it is open: Escape closes it, not the viewer.
        QTest::keyClick(editor, Qt::Key_Escape);
        QTRY_VERIFY(!m_state->isSheetPresented());
        QCOMPARE(m_state->isViewerActive(), fromViewer);
        QTRY_VERIFY(!m_window->findChild<FrameExportView *>()); // deleted on close
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
