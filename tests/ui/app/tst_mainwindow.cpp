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
#include "app/ViewerKeyHandler.h"
#include "browse/FolderTreeView.h"
#include "browse/HistoryListView.h"
#include "browse/SelectionActionBar.h"
#include "browse/SidebarView.h"
#include "browse/ThumbnailGridView.h"
#include "browse/ThumbnailListView.h"
#include "editor/FrameExportView.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"
#include "viewer/ImageViewerView.h"
#include "viewer/ViewerStatusBar.h"

#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using TestFiles::makeDir;
using TestFiles::touch;
using Choice = ImportDialogs::SubfolderChoice;

namespace {

// Answers the import questions as a test scripted them and records what was asked.
class ScriptedDialogs : public ImportDialogs
{
public:
    std::optional<QUrl> folder;
    Choice answer = Choice::cancel;
    QStringList askedNames;

    std::optional<QUrl> chooseFolder() override { return folder; }
    Choice askIncludeSubfolders(const QString &folderName) override
    {
        askedNames << folderName;
        return answer;
    }
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void startsWithTheWelcomeView();
    void gearButtonOpensTheSettings();
    void ctrlWAndCtrlQCloseAndThePlacementComesBack_data();
    void ctrlWAndCtrlQCloseAndThePlacementComesBack();
    void sheetsDimTheWindowBehindThem();
    void detailPageFollowsTheState();

    void importWithoutSubfoldersOpensWithoutAsking();
    void importWithOnlyAHiddenSubfolderDoesNotAsk();
    void subfolderAnswersOpenWithOrWithoutSubfolders_data();
    void subfolderAnswersOpenWithOrWithoutSubfolders();
    void cancelKeepsThePreviousFolder();
    void folderWithImagesOnlyInSubfoldersOffersThem();
    void cancelledFolderChoiceChangesNothing();
    void subfolderCheckOnBadInput();
    void unreadableFolderHasNoSubfolders();
    void subfolderPromptButtonsAndEscape();

    void keysAreIgnoredWhileTheGridShows();
    void arrowsAndEscapeDriveTheViewer();
    void digitsRateTheShownImage();
    void keysAreIgnoredWhileASheetIsOpen();
    void keysOfAModalDialogStayWithIt();

    void statusBarHidesWhileLoading();
    void statusBarStaysClearOfTilesAndTheViewerBar();
    void loadingOverlaySwallowsClicks();

    void toastClearsItselfAfterItsTime();
    void newToastTextRestartsTheTimer();
    void sameToastTextDoesNotRestartTheTimer();
    void toastClearedElsewhereHidesAtOnce();
    void toastLiesAboveTheLoadingOverlay();
    void toastWhoseTextChangesWhileSlidingInEndsCentred();

    void batchExportOpensTheEditorAsASheet();
    void editorFitsBesideTheSidebarAtAnyWindowSize_data();
    void editorFitsBesideTheSidebarAtAnyWindowSize();
    void viewerExportOpensTheEditorForTheShownImage();

private:
    QString path(const QString &relative) const { return m_dir.path() + '/' + relative; }
    void importFolder(const QString &folder, Choice answer = Choice::cancel);
    void openInViewer(int index);
    QStringList imageNames() const;

    QTemporaryDir m_dir;
    WorkQueues m_queues;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<MainWindow> m_window;
    ScriptedDialogs *m_dialogs = nullptr;
};

void TestMainWindow::init()
{
    m_dir = QTemporaryDir();
    QVERIFY(m_dir.isValid());
    m_state = std::make_unique<AppState>(m_queues, m_dir.path() + "/ratings.json",
                                         m_dir.path() + "/settings.ini");
    auto dialogs = std::make_unique<ScriptedDialogs>();
    m_dialogs = dialogs.get();
    m_window = std::make_unique<MainWindow>(*m_state, std::move(dialogs));
}

void TestMainWindow::cleanup()
{
    m_window.reset();
    m_state.reset();
}

void TestMainWindow::importFolder(const QString &folder, Choice answer)
{
    m_dialogs->folder = QUrl::fromLocalFile(folder);
    m_dialogs->answer = answer;
    m_window->importFlow().importFolder();
}

void TestMainWindow::openInViewer(int index)
{
    touch(m_dir.path(), ("three/a1.jpg"));
    touch(m_dir.path(), ("three/a2.jpg"));
    touch(m_dir.path(), ("three/a3.jpg"));
    importFolder(path("three"));
    QTRY_COMPARE(m_state->images().size(), 3);
    m_state->selectImage(index);
    QVERIFY(m_state->isViewerActive());
}

// The editor the window opened, once it is on screen.
static FrameExportView *openEditor(QWidget *window)
{
    FrameExportView *editor = nullptr;
    const bool shown = QTest::qWaitFor([&] {
        editor = window->findChild<FrameExportView *>();
        return editor && editor->isVisible();
    });
    return shown ? editor : nullptr;
}

// Every image of the grid selected and exported with the selection bar.
static FrameExportView *openBatchEditor(MainWindow *window, AppState &state)
{
    state.selectAllVisible();
    QPushButton *button = window->detailArea()->gridView()->selectionBar().exportButton();
    if (!QTest::qWaitFor([button] { return button->isVisible(); }))
        return nullptr;
    QTest::mouseClick(button, Qt::LeftButton);
    return openEditor(window);
}

void TestMainWindow::batchExportOpensTheEditorAsASheet()
{
    QVERIFY(QDir().mkpath(path("b")));
    for (const char *name : {"b/1.jpg", "b/2.jpg", "b/3.jpg"}) {
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QVERIFY(image.save(path(name)));
    }
    importFolder(path("b"));
    QTRY_COMPARE(m_state->images().size(), 3);
    m_window->show();
    FrameExportView *editor = openBatchEditor(m_window.get(), *m_state);
    QVERIFY(editor);
    QCOMPARE(editor->titleText(), QStringLiteral("批量边框水印（3 张）"));
    QVERIFY(m_state->isSheetPresented());
    QTRY_VERIFY(m_window->sheetVeil()->isVisible());
    QTest::keyClick(editor, Qt::Key_Escape);
    QTRY_VERIFY(!m_state->isSheetPresented());
    QTRY_VERIFY(!m_window->findChild<FrameExportView *>()); // deleted on close
}

void TestMainWindow::editorFitsBesideTheSidebarAtAnyWindowSize_data()
{
    QTest::addColumn<QSize>("windowSize");
    QTest::newRow("default") << QSize(1200, 800);
    QTest::newRow("smallest") << QSize();
}

void TestMainWindow::editorFitsBesideTheSidebarAtAnyWindowSize()
{
    QFETCH(QSize, windowSize);
    touch(m_dir.path(), "s/1.jpg");
    touch(m_dir.path(), "s/2.jpg");
    importFolder(path("s"));
    QTRY_COMPARE(m_state->images().size(), 2);
    m_window->resize(windowSize.isValid() ? windowSize : m_window->minimumSizeHint());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    FrameExportView *editor = openBatchEditor(m_window.get(), *m_state);
    QVERIFY(editor);

    const QRect detail(m_window->detailArea()->mapToGlobal(QPoint(0, 0)),
                       m_window->detailArea()->size());
    QVERIFY2(detail.contains(editor->frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                      .arg(editor->x())
                                                                      .arg(editor->y())
                                                                      .arg(editor->width())
                                                                      .arg(editor->height())));
    // Whatever is cut from its minimum size is reached by scrolling.
    QWidget *content = editor->scrollArea()->widget();
    QVERIFY(content->width() >= FrameExportView::minimumContentSize.width());
    QVERIFY(content->height() >= FrameExportView::minimumContentSize.height());
    const QSize shown = editor->scrollArea()->viewport()->size();
    QCOMPARE(editor->scrollArea()->horizontalScrollBar()->maximum(),
             std::max(0, content->width() - shown.width()));
    QCOMPARE(editor->scrollArea()->verticalScrollBar()->maximum(),
             std::max(0, content->height() - shown.height()));
    editor->reject();
    QTRY_VERIFY(!m_state->isSheetPresented());
}

void TestMainWindow::viewerExportOpensTheEditorForTheShownImage()
{
    QImage image(120, 80, QImage::Format_RGB32);
    image.fill(Qt::darkMagenta);
    QVERIFY(QDir().mkpath(path("one")));
    QVERIFY(image.save(path("one/photo.jpg")));
    importFolder(path("one"));
    QTRY_COMPARE(m_state->images().size(), 1);
    m_window->show();
    m_state->selectImage(0);
    auto *viewer = m_window->detailArea()->viewerView();
    QTRY_VERIFY(viewer->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!viewer->displayImage().isNull(), 10000);
    viewer->requestFrameExport();
    FrameExportView *editor = openEditor(m_window.get());
    QVERIFY(editor);
    QCOMPARE(editor->titleText(), QStringLiteral("边框水印"));
    QVERIFY(m_state->isSheetPresented());
    // Keys belong to the sheet while it is open.
    QTest::keyClick(m_window.get(), Qt::Key_Escape);
    QVERIFY(m_state->isViewerActive());
    editor->reject();
    QTRY_VERIFY(!m_state->isSheetPresented());
    QVERIFY(m_state->isViewerActive());
}

QStringList TestMainWindow::imageNames() const
{
    QStringList names;
    for (const ImageItem &image : m_state->images())
        names << image.filename();
    return names;
}

void TestMainWindow::startsWithTheWelcomeView()
{
    QCOMPARE(m_window->size(), QSize(1200, 800));
    QCOMPARE(m_window->detailArea()->currentPage(), DetailArea::Page::welcome);
    QVERIFY(m_window->statusBarView()->isHidden());
    QVERIFY(m_window->loadingOverlay()->isHidden());
    QVERIFY(m_window->toastView()->isHidden());
    QCOMPARE(m_window->importButton()->toolTip(), QStringLiteral("导入文件夹"));
}

void TestMainWindow::gearButtonOpensTheSettings()
{
    QCOMPARE(m_window->settingsButton()->toolTip(), QStringLiteral("设置"));
    m_window->show();
    QTest::mouseClick(m_window->settingsButton(), Qt::LeftButton);
    SettingsDialog *dialog = nullptr;
    QTRY_VERIFY((dialog = m_window->findChild<SettingsDialog *>()) && dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("设置"));
    QCheckBox *box = dialog->xmpSyncCheckBox();
    QCOMPARE(box->text(), QStringLiteral("将评分同步到 XMP 附属文件"));
    QVERIFY(!box->isChecked());
    box->click();
    QVERIFY(m_state->xmpRatingSync().isEnabled());
    box->click();
    QVERIFY(!m_state->xmpRatingSync().isEnabled());
    dialog->reject();
    QTRY_VERIFY(!m_window->findChild<SettingsDialog *>());
}

void TestMainWindow::ctrlWAndCtrlQCloseAndThePlacementComesBack_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Ctrl+W") << int(Qt::Key_W);
    QTest::newRow("Ctrl+Q") << int(Qt::Key_Q);
}

void TestMainWindow::ctrlWAndCtrlQCloseAndThePlacementComesBack()
{
    QFETCH(int, key);
    const QRect placed(40, 30, 720, 520);
    m_window->setGeometry(placed);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QTest::keyClick(m_window.get(), Qt::Key(key), Qt::ControlModifier);
    QTRY_VERIFY(!m_window->isVisible());

    auto next = std::make_unique<MainWindow>(*m_state);
    QCOMPARE(next->geometry(), placed);
    next->showMaximized();
    QTRY_VERIFY(next->isMaximized());
    QVERIFY(next->close());
    next = std::make_unique<MainWindow>(*m_state);
    next->show();
    QVERIFY(next->isMaximized());
    next->showNormal();
    QTRY_COMPARE(next->geometry(), placed);
}

void TestMainWindow::sheetsDimTheWindowBehindThem()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QWidget *veil = m_window->sheetVeil();
    QVERIFY(veil->isHidden());
    QTest::mouseClick(m_window->settingsButton(), Qt::LeftButton);
    SettingsDialog *dialog = nullptr;
    QTRY_VERIFY((dialog = m_window->findChild<SettingsDialog *>()) && dialog->isVisible());
    QTRY_VERIFY(veil->isVisible());
    QCOMPARE(veil->geometry(), m_window->rect());
    QCOMPARE(m_window->childAt(m_window->rect().center()), veil); // above everything
    // Without a window manager's title bar the dialog still says what it is.
    const QList<QLabel *> labels = dialog->findChildren<QLabel *>();
    QVERIFY(std::any_of(labels.cbegin(), labels.cend(),
                        [](QLabel *label) { return label->text() == QStringLiteral("设置"); }));
    dialog->reject();
    QTRY_VERIFY(veil->isHidden());
}

void TestMainWindow::detailPageFollowsTheState()
{
    using Page = DetailArea::Page;
    touch(m_dir.path(), ("p/a.jpg"));
    importFolder(path("p"));
    QTRY_COMPARE(m_window->detailArea()->currentPage(), Page::grid);
    QCOMPARE(m_state->images().size(), 1);

    m_state->selectImage(0);
    QCOMPARE(m_window->detailArea()->currentPage(), Page::viewer);
    // The viewer needs an image as well as the flag.
    m_state->setSelectedImage(std::nullopt);
    QCOMPARE(m_window->detailArea()->currentPage(), Page::grid);
    QCOMPARE(DetailArea::pageFor(*m_state), Page::grid);
}

void TestMainWindow::importWithoutSubfoldersOpensWithoutAsking()
{
    touch(m_dir.path(), ("flat/a.jpg"));
    touch(m_dir.path(), ("flat/b.png"));
    touch(m_dir.path(), ("flat/notes.txt"));
    QSignalSpy loading(m_state.get(), &AppState::loadingChanged);
    importFolder(path("flat"), Choice::includeSubfolders);
    QVERIFY(m_dialogs->askedNames.isEmpty());
    QVERIFY(!loading.isEmpty());
    QCOMPARE(loading.first().first().toBool(), true);
    QTRY_VERIFY(!m_state->isLoading());
    QCOMPARE(m_state->currentFolder()->path(), path("flat"));
    QCOMPARE(imageNames(), QStringList({"a.jpg", "b.png"}));
    QCOMPARE(m_state->statusMessage(), QStringLiteral("共 2 张图片"));
    QVERIFY(m_window->statusBarView()->isVisibleTo(m_window.get()));
    QCOMPARE(m_window->statusBarView()->message(), QStringLiteral("共 2 张图片"));
}

void TestMainWindow::importWithOnlyAHiddenSubfolderDoesNotAsk()
{
    touch(m_dir.path(), ("hidden/a.jpg"));
    touch(m_dir.path(), ("hidden/.cache/b.jpg"));
    QVERIFY(!ImportFlow::checkForSubfolders(QUrl::fromLocalFile(path("hidden"))));
    importFolder(path("hidden"), Choice::includeSubfolders);
    QVERIFY(m_dialogs->askedNames.isEmpty());
    QTRY_VERIFY(m_state->currentFolder().has_value());
    QCOMPARE(imageNames(), QStringList({"a.jpg"}));
}

void TestMainWindow::subfolderAnswersOpenWithOrWithoutSubfolders_data()
{
    QTest::addColumn<Choice>("answer");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("包含子文件夹") << Choice::includeSubfolders << QStringList({"a.jpg", "b.jpg"});
    QTest::newRow("仅当前文件夹") << Choice::currentFolderOnly << QStringList({"a.jpg"});
}

void TestMainWindow::subfolderAnswersOpenWithOrWithoutSubfolders()
{
    QFETCH(Choice, answer);
    QFETCH(QStringList, expected);
    touch(m_dir.path(), ("trip/a.jpg"));
    touch(m_dir.path(), ("trip/day 2/b.jpg"));
    makeDir(m_dir.path(), ("trip/empty"));

    importFolder(path("trip"), answer);
    QCOMPARE(m_dialogs->askedNames, QStringList({"trip"}));
    QTRY_VERIFY(m_state->currentFolder().has_value());
    QTRY_VERIFY(!m_state->isLoading());
    QCOMPARE(imageNames(), expected);
    // The open answers leave the pending folder as it was.
    QCOMPARE(m_window->importFlow().pendingFolderURL(), QUrl::fromLocalFile(path("trip")));
}

void TestMainWindow::cancelKeepsThePreviousFolder()
{
    touch(m_dir.path(), ("first/a.jpg"));
    importFolder(path("first"));
    QTRY_VERIFY(m_state->currentFolder().has_value());
    const QUuid firstRoot = m_state->currentFolder()->id;

    touch(m_dir.path(), ("second/b.jpg"));
    touch(m_dir.path(), ("second/sub/c.jpg"));
    importFolder(path("second"), Choice::cancel);
    QCOMPARE(m_dialogs->askedNames, QStringList({"second"}));
    QVERIFY(!m_state->isLoading());
    QCOMPARE(m_state->currentFolder()->id, firstRoot);
    QCOMPARE(imageNames(), QStringList({"a.jpg"}));
    QCOMPARE(m_state->folderHistory().folders().size(), 1);
    QVERIFY(!m_window->importFlow().pendingFolderURL().has_value());
}

void TestMainWindow::cancelledFolderChoiceChangesNothing()
{
    m_dialogs->folder.reset();
    m_window->importFlow().importFolder();
    QVERIFY(m_dialogs->askedNames.isEmpty());
    QVERIFY(!m_state->isLoading());
    QVERIFY(!m_state->currentFolder().has_value());
    QVERIFY(m_state->statusMessage().isEmpty());
}

void TestMainWindow::subfolderCheckOnBadInput()
{
    const QString file = touch(m_dir.path(), ("plain.jpg"));
    QVERIFY(!ImportFlow::checkForSubfolders(QUrl::fromLocalFile(file)));
    QVERIFY(!ImportFlow::checkForSubfolders(QUrl::fromLocalFile(path("missing"))));
    makeDir(m_dir.path(), ("nested/inner"));
    QVERIFY(ImportFlow::checkForSubfolders(QUrl::fromLocalFile(path("nested"))));
    QCOMPARE(ImportFlow::folderName(QUrl::fromLocalFile(path("nested") + '/')),
             QStringLiteral("nested"));
}

void TestMainWindow::unreadableFolderHasNoSubfolders()
{
    makeDir(m_dir.path(), ("locked/inner"));
    QFile::setPermissions(path("locked"), QFileDevice::WriteOwner);
    bool asked = false;
    bool hasSubfolders = true;
    {
        const PermissionChecksOnThisThread asAUser;
        asked = asAUser.isActive();
        hasSubfolders = ImportFlow::checkForSubfolders(QUrl::fromLocalFile(path("locked")));
    }
    QFile::setPermissions(path("locked"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!asked)
        QSKIP("Cannot set root's permission overrides aside: the folder stays readable");
    QVERIFY(!hasSubfolders);
}

void TestMainWindow::subfolderPromptButtonsAndEscape()
{
    QCOMPARE(SubfolderPromptDialog::message(QStringLiteral("旅行")),
             QStringLiteral("是否同时导入「旅行」中的子文件夹？"));
    {
        SubfolderPromptDialog dialog(QStringLiteral("旅行"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("导入子文件夹"));
        QStringList texts;
        for (QPushButton *button : dialog.findChildren<QPushButton *>())
            texts << button->text();
        QCOMPARE(texts, QStringList({"包含子文件夹", "仅当前文件夹", "取消"}));
        dialog.open();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.choice(), Choice::cancel);
    }
    const QList<std::pair<QString, Choice>> buttons{{"包含子文件夹", Choice::includeSubfolders},
                                                    {"仅当前文件夹", Choice::currentFolderOnly},
                                                    {"取消", Choice::cancel}};
    for (const auto &[text, choice] : buttons) {
        SubfolderPromptDialog dialog(QStringLiteral("旅行"));
        dialog.open();
        for (QPushButton *button : dialog.findChildren<QPushButton *>()) {
            if (button->text() == text)
                button->click();
        }
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.choice(), choice);
    }
}

void TestMainWindow::keysAreIgnoredWhileTheGridShows()
{
    openInViewer(1);
    m_state->setViewerActive(false);
    m_state->setStatusMessage(QStringLiteral("unchanged"));
    QWidget *tree = m_window->sidebarView()->folderTreeView();
    for (int key : {Qt::Key_Right, Qt::Key_Left, Qt::Key_Escape, Qt::Key_3})
        QTest::keyClick(tree, Qt::Key(key));
    QCOMPARE(m_state->currentIndex(), 1);
    QVERIFY(!m_state->isViewerActive());
    QCOMPARE(m_state->rating(m_state->images().at(1)), 0);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("unchanged"));
    QVERIFY(!ViewerKeyHandler::handleKey(*m_state, Qt::Key_Right, QString()));

    // A folder opened from the viewer shows the grid; the keys stay with it.
    m_state->selectImage(1);
    touch(m_dir.path(), "other/b1.jpg");
    touch(m_dir.path(), "other/b2.jpg");
    importFolder(path("other"));
    QTRY_COMPARE(m_window->detailArea()->currentPage(), DetailArea::Page::grid);
    QTRY_VERIFY(!m_state->isLoading());
    for (int key : {Qt::Key_Right, Qt::Key_Left, Qt::Key_3})
        QTest::keyClick(tree, Qt::Key(key));
    QCOMPARE(m_window->detailArea()->currentPage(), DetailArea::Page::grid);
    QVERIFY(!m_state->selectedImage());
    QCOMPARE(m_state->currentIndex(), 1);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("共 2 张图片"));
}

void TestMainWindow::arrowsAndEscapeDriveTheViewer()
{
    openInViewer(0);
    // Keys reach the handler whichever child of the window has focus.
    QWidget *target = m_window->sidebarView()->historyListView()->listView();

    QTest::keyClick(target, Qt::Key_Left);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("已是第一张"));
    QCOMPARE(m_state->currentIndex(), 0);

    QTest::keyClick(target, Qt::Key_Right);
    QTest::keyClick(target, Qt::Key_Right);
    QCOMPARE(m_state->currentIndex(), 2);
    QCOMPARE(m_state->selectedImage()->filename(), QStringLiteral("a3.jpg"));
    QTest::keyClick(target, Qt::Key_Right);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("已是最后一张"));
    QCOMPARE(m_state->currentIndex(), 2);

    QTest::keyClick(m_window.get(), Qt::Key_Left);
    QCOMPARE(m_state->currentIndex(), 1);

    QTest::keyClick(target, Qt::Key_Escape);
    QVERIFY(!m_state->isViewerActive());
    QVERIFY(m_state->selectedImage().has_value());
    QCOMPARE(m_window->detailArea()->currentPage(), DetailArea::Page::grid);
}

void TestMainWindow::digitsRateTheShownImage()
{
    openInViewer(1);
    const ImageItem shown = *m_state->selectedImage();
    QWidget *target = m_window.get();

    QTest::keyClick(target, Qt::Key_3);
    QCOMPARE(m_state->rating(shown), 3);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("已标记 3 星"));
    QTest::keyClick(target, Qt::Key_3);
    QCOMPARE(m_state->rating(shown), 0);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("已取消标记"));

    QTest::keyClick(target, Qt::Key_5);
    QCOMPARE(m_state->rating(shown), 5);
    for (int key : {Qt::Key_6, Qt::Key_0, Qt::Key_A})
        QTest::keyClick(target, Qt::Key(key));
    QCOMPARE(m_state->rating(shown), 5);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("已标记 5 星"));
    // Only the shown image is rated.
    QCOMPARE(m_state->rating(m_state->images().at(0)), 0);
    QCOMPARE(m_state->rating(m_state->images().at(2)), 0);
}

void TestMainWindow::keysAreIgnoredWhileASheetIsOpen()
{
    openInViewer(1);
    m_state->setSheetPresented(true);
    m_state->setStatusMessage(QStringLiteral("unchanged"));
    for (int key : {Qt::Key_Right, Qt::Key_Left, Qt::Key_Escape, Qt::Key_2})
        QTest::keyClick(m_window.get(), Qt::Key(key));
    QCOMPARE(m_state->currentIndex(), 1);
    QVERIFY(m_state->isViewerActive());
    QCOMPARE(m_state->rating(*m_state->selectedImage()), 0);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("unchanged"));
}

void TestMainWindow::keysOfAModalDialogStayWithIt()
{
    openInViewer(1);
    QDialog dialog(m_window.get());
    dialog.setModal(true);
    dialog.open();
    QTest::keyClick(&dialog, Qt::Key_Right);
    QTest::keyClick(&dialog, Qt::Key_4);
    QCOMPARE(m_state->currentIndex(), 1);
    QCOMPARE(m_state->rating(*m_state->selectedImage()), 0);
    // Escape closes the dialog, not the viewer.
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QVERIFY(m_state->isViewerActive());
}

void TestMainWindow::statusBarHidesWhileLoading()
{
    StatusBarView *statusBar = m_window->statusBarView();
    LoadingOverlay *overlay = m_window->loadingOverlay();
    m_state->setStatusMessage(QStringLiteral("已是最后一张"));
    QVERIFY(statusBar->isVisibleTo(m_window.get()));
    QCOMPARE(statusBar->message(), QStringLiteral("已是最后一张"));

    m_state->setLoading(true);
    m_state->setStatusMessage(QStringLiteral("正在扫描文件夹..."));
    QVERIFY(statusBar->isHidden());
    QVERIFY(overlay->isVisibleTo(m_window.get()));
    QCOMPARE(overlay->message(), QStringLiteral("正在扫描文件夹..."));
    QCOMPARE(overlay->geometry(), m_window->rect());

    m_state->setLoading(false);
    QVERIFY(overlay->isHidden());
    QVERIFY(statusBar->isVisibleTo(m_window.get()));

    m_state->setStatusMessage(QString());
    QVERIFY(statusBar->isHidden());
}

void TestMainWindow::loadingOverlaySwallowsClicks()
{
    // A history entry whose click would write the status line.
    makeDir(m_dir.path(), ("gone"));
    m_state->folderHistory().add(QUrl::fromLocalFile(path("gone")));
    QVERIFY(QDir(path("gone")).removeRecursively());

    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QListView *list = m_window->sidebarView()->historyListView()->listView();
    const QPoint rowCentre = list->visualRect(list->model()->index(0, 0)).center();
    const QPoint inWindow = list->viewport()->mapTo(m_window.get(), rowCentre);

    m_state->setLoading(true);
    QWidget *hit = m_window->childAt(inWindow);
    QVERIFY(hit == m_window->loadingOverlay() || m_window->loadingOverlay()->isAncestorOf(hit));
    QTest::mouseClick(m_window->windowHandle(), Qt::LeftButton, {}, inWindow);
    QVERIFY(m_state->statusMessage().isEmpty());

    // The same click reaches the row once the scan is over.
    m_state->setLoading(false);
    QTest::mouseClick(m_window->windowHandle(), Qt::LeftButton, {}, inWindow);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("文件夹不存在: gone"));
}

void TestMainWindow::statusBarStaysClearOfTilesAndTheViewerBar()
{
    for (int i = 0; i < 40; ++i)
        touch(m_dir.path(), QStringLiteral("many/IMG_%1.jpg").arg(i, 4, 10, QChar('0')));
    touch(m_dir.path(), "many/ZZ_" + QString(70, QChar('x')) + ".jpg"); // a long name, last
    importFolder(path("many"));
    QTRY_COMPARE(m_state->images().size(), 41);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    StatusBarView *pill = m_window->statusBarView();
    QTRY_VERIFY(pill->isVisible());
    const auto inWindow = [this](QWidget *widget) {
        return QRect(widget->mapTo(m_window.get(), QPoint(0, 0)), widget->size());
    };
    ThumbnailListView &tiles = m_window->detailArea()->gridView()->listView();
    tiles.scrollToBottom();
    QVERIFY(!inWindow(tiles.viewport()).intersects(pill->geometry()));

    m_state->selectImage(40);
    QTRY_COMPARE(m_window->detailArea()->currentPage(), DetailArea::Page::viewer);
    QTRY_VERIFY(pill->isVisible());
    ViewerStatusBar *bar = m_window->detailArea()->viewerView()->statusBar();
    QTRY_VERIFY(bar->isVisible());
    QVERIFY(!inWindow(bar).intersects(pill->geometry()));
    QTest::keyClick(m_window.get(), Qt::Key_Escape);
    QTRY_VERIFY(!inWindow(tiles.viewport()).intersects(pill->geometry()));
}

void TestMainWindow::folderWithImagesOnlyInSubfoldersOffersThem()
{
    touch(m_dir.path(), "trip/day 1/a.jpg");
    touch(m_dir.path(), "trip/day 2/b.jpg");
    touch(m_dir.path(), "trip/day 2/c.jpg");
    importFolder(path("trip"), Choice::currentFolderOnly);
    QTRY_COMPARE(m_state->statusMessage(), QStringLiteral("此文件夹没有图片，子文件夹中有 3 张"));
    QVERIFY(m_state->images().isEmpty());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    StatusBarView *pill = m_window->statusBarView();
    QTRY_VERIFY(pill->isVisible());
    QVERIFY(!pill->linkRect().isEmpty());
    QVERIFY(pill->rect().contains(pill->linkRect()));
    QTest::mouseClick(pill, Qt::LeftButton, {}, pill->linkRect().center());
    QTRY_COMPARE(m_state->images().size(), 3);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("共 3 张图片"));
    QVERIFY(pill->linkRect().isEmpty());
}

void TestMainWindow::toastClearsItselfAfterItsTime()
{
    ToastView *toast = m_window->toastView();
    QElapsedTimer shown;
    shown.start();
    m_state->setToastMessage(QStringLiteral("已套壳 3 / 3 张"));
    QVERIFY(toast->isVisibleTo(m_window.get()));
    QCOMPARE(toast->message(), QStringLiteral("已套壳 3 / 3 张"));
    // Slides in to 60 below the top edge, fully opaque.
    QTRY_COMPARE(toast->opacity(), 1.0);
    QCOMPARE(toast->mapTo(m_window.get(), toast->bubbleRect().topLeft()).y(),
             ToastController::topOffset);

    QTRY_VERIFY_WITH_TIMEOUT(!m_state->toastMessage().has_value(), 5000);
    QVERIFY(shown.elapsed() >= ToastController::dismissDelayMs);
    QTRY_VERIFY(toast->isHidden());
}

void TestMainWindow::newToastTextRestartsTheTimer()
{
    ToastController *controller = m_window->toastController();
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    m_state->setToastMessage(QStringLiteral("first"));
    QTRY_VERIFY_WITH_TIMEOUT(controller->remainingTime() <= 500, 5000);

    QElapsedTimer sinceSecond;
    sinceSecond.start();
    m_state->setToastMessage(QStringLiteral("second"));
    QVERIFY(controller->remainingTime() > 2000);
    QCOMPARE(m_window->toastView()->message(), QStringLiteral("second"));

    // Past the first text's time, the second stays.
    QTRY_VERIFY_WITH_TIMEOUT(sinceFirst.elapsed() > ToastController::dismissDelayMs + 200, 5000);
    QCOMPARE(m_state->toastMessage(), QStringLiteral("second"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_state->toastMessage().has_value(), 5000);
    QVERIFY(sinceSecond.elapsed() >= ToastController::dismissDelayMs);
}

void TestMainWindow::sameToastTextDoesNotRestartTheTimer()
{
    ToastController *controller = m_window->toastController();
    m_state->setToastMessage(QStringLiteral("same"));
    QTRY_VERIFY_WITH_TIMEOUT(controller->remainingTime() <= 1500, 5000);
    m_state->setToastMessage(QStringLiteral("same"));
    QVERIFY(controller->remainingTime() <= 1500);
}

void TestMainWindow::toastClearedElsewhereHidesAtOnce()
{
    ToastController *controller = m_window->toastController();
    m_state->setToastMessage(QStringLiteral("gone soon"));
    QVERIFY(controller->isPresented());
    m_state->setToastMessage(std::nullopt);
    QVERIFY(!controller->isPresented());
    QCOMPARE(controller->remainingTime(), -1);
    QTRY_VERIFY(m_window->toastView()->isHidden());
}

void TestMainWindow::toastLiesAboveTheLoadingOverlay()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_state->setLoading(true);
    m_state->setToastMessage(QStringLiteral("已归档 3 张图片到「归档」"));
    // The overlay's text changes while it shows; the toast must stay on top.
    m_state->setStatusMessage(QStringLiteral("正在刷新..."));
    m_state->setStatusMessage(QStringLiteral("正在扫描文件夹..."));
    ToastView *toast = m_window->toastView();
    QTRY_COMPARE(toast->opacity(), 1.0);
    // Siblings stack in the order of their parent's children, the last on top.
    const QObjectList &stack = m_window->children();
    QVERIFY(stack.indexOf(toast) > stack.indexOf(m_window->loadingOverlay()));
}

void TestMainWindow::toastWhoseTextChangesWhileSlidingInEndsCentred()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    ToastView *toast = m_window->toastView();
    m_state->setToastMessage(QStringLiteral("短"));
    QTRY_VERIFY(toast->opacity() > 0.1);
    QVERIFY(toast->opacity() < 1.0); // still sliding
    m_state->setToastMessage(QStringLiteral("一条长得多的提示文字，比第一条宽很多很多"));
    QTRY_COMPARE(toast->opacity(), 1.0);
    const int left = toast->x();
    const int right = m_window->width() - (toast->x() + toast->width());
    QVERIFY2(std::abs(left - right) <= 1,
             qPrintable(QStringLiteral("%1 vs %2").arg(left).arg(right)));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
