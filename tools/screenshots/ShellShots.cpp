// The main window: welcome, an open folder with the sidebar, the loading
// overlay, a toast and the sub-folder question.
#include "ScreenshotScene.h"
#include "app/DetailArea.h"
#include "app/MainWindow.h"
#include "app/SettingsDialog.h"
#include "app/SubfolderPromptDialog.h"
#include "app/WidgetImportDialogs.h"
#include "browse/FolderTreeView.h"
#include "browse/SelectionActionBar.h"
#include "browse/SidebarView.h"
#include "browse/ThumbnailGridView.h"
#include "editor/FrameExportView.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFuture>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>
#include <memory>

namespace {

// A state with its own stores in the scratch folder, and its window.
struct Shell
{
    explicit Shell(const ScreenshotContext &context, const QString &name)
        : state(queues, context.scratchDir + QStringLiteral("/%1-ratings.json").arg(name),
                context.scratchDir + QStringLiteral("/%1-settings.ini").arg(name))
        , window(state)
    {
        window.show();
    }

    void open(const ScreenshotContext &context)
    {
        // Earlier folders for the history, opened first so the sample is the newest.
        for (const QString &earlier :
             {QStringLiteral("2023 秋季 京都"), QStringLiteral("Portraits")}) {
            const QString path = context.scratchDir + QLatin1Char('/') + earlier;
            QDir().mkpath(path);
            state.folderHistory().add(QUrl::fromLocalFile(path));
        }
        QFuture<void> done = state.openFolder(QUrl::fromLocalFile(context.sampleFolder), true);
        while (!done.isFinished())
            context.settle(20);
        window.sidebarView()->folderTreeView()->expandAll();
        context.settle(100);
    }

    WorkQueues queues;
    AppState state;
    MainWindow window;
};

} // namespace

KELVANE_SCREENSHOT_SCENE("shell-welcome")
{
    Shell shell(context, QStringLiteral("welcome"));
    context.settle(200);
    context.save(&shell.window, QStringLiteral("shell-welcome"));
}

KELVANE_SCREENSHOT_SCENE("shell-folder-open")
{
    Shell shell(context, QStringLiteral("folder"));
    shell.open(context);
    context.save(&shell.window, QStringLiteral("shell-folder-open"));
}

KELVANE_SCREENSHOT_SCENE("shell-loading")
{
    Shell shell(context, QStringLiteral("loading"));
    shell.open(context);
    shell.state.setLoading(true);
    shell.state.setStatusMessage(QStringLiteral("正在扫描文件夹..."));
    context.settle(300);
    context.save(&shell.window, QStringLiteral("shell-loading"));
}

KELVANE_SCREENSHOT_SCENE("shell-toast")
{
    Shell shell(context, QStringLiteral("toast"));
    shell.open(context);
    shell.state.setToastMessage(QStringLiteral("已套壳 12 / 12 张"));
    context.settle(500); // past the 0.3 s slide-in
    context.save(&shell.window, QStringLiteral("shell-toast"));
}

KELVANE_SCREENSHOT_SCENE("shell-toast-over-loading")
{
    Shell shell(context, QStringLiteral("toast-over-loading"));
    shell.open(context);
    shell.state.setLoading(true);
    shell.state.setToastMessage(QStringLiteral("已归档 3 张图片到「归档-3星」"));
    shell.state.setStatusMessage(QStringLiteral("正在刷新..."));
    context.settle(500); // past the 0.3 s slide-in
    context.save(&shell.window, QStringLiteral("shell-toast-over-loading"));
}

KELVANE_SCREENSHOT_SCENE("shell-subfolder-alert")
{
    SubfolderPromptDialog dialog(QStringLiteral("Sample Photos"));
    dialog.show();
    context.settle(200);
    context.save(&dialog, QStringLiteral("shell-subfolder-alert"));
}

KELVANE_SCREENSHOT_SCENE("shell-settings-dialog")
{
    Shell shell(context, QStringLiteral("settings"));
    SettingsDialog dialog(shell.state.xmpRatingSync(), shell.state.viewerSettings(), &shell.window);
    dialog.show();
    context.settle(200);
    context.save(&dialog, QStringLiteral("shell-settings-dialog"));
}

KELVANE_SCREENSHOT_SCENE("shell-folder-dialog")
{
    // The import's folder dialog, with Qt's own texts (columns, "Computer",
    // the look-in list) in Chinese like the rest.
    Shell shell(context, QStringLiteral("dialog"));
    const std::unique_ptr<QFileDialog> dialog =
        WidgetImportDialogs::makeFolderDialog(&shell.window);
    dialog->setDirectory(context.sampleFolder);
    dialog->setViewMode(QFileDialog::Detail);
    dialog->show();
    context.settle(400);
    context.save(dialog.get(), QStringLiteral("shell-folder-dialog"));
}

KELVANE_SCREENSHOT_SCENE("shell-only-subfolders")
{
    // "仅当前文件夹" on a folder whose photos all sit in its sub-folders.
    Shell shell(context, QStringLiteral("only-subfolders"));
    const QString trip = context.scratchDir + QStringLiteral("/旅行 2024");
    const QDir evening(context.sampleFolder + QStringLiteral("/day10/evening"));
    for (const QString &day : {QStringLiteral("/day 1/"), QStringLiteral("/day 2/")}) {
        QDir().mkpath(trip + day);
        for (const QString &name : evening.entryList(QDir::Files))
            QFile::copy(evening.filePath(name), trip + day + name);
    }
    QFuture<void> done = shell.state.openFolder(QUrl::fromLocalFile(trip), false);
    while (!done.isFinished())
        context.settle(20);
    context.settle(200);
    context.save(&shell.window, QStringLiteral("shell-only-subfolders"));
}

// The batch editor as it lies over the window (the two windows drawn as the
// screen shows them), at the default size and at the smallest window.
KELVANE_SCREENSHOT_SCENE("shell-editor-sheet")
{
    for (const bool smallest : {false, true}) {
        Shell shell(context, QStringLiteral("editor-sheet"));
        shell.window.move(0, 0);
        if (smallest)
            shell.window.resize(shell.window.minimumSizeHint());
        shell.open(context);
        shell.state.selectAllVisible();
        context.settle(100);
        shell.window.detailArea()->gridView()->selectionBar().exportButton()->click();
        context.settle(1500);
        auto *editor = shell.window.findChild<FrameExportView *>();
        if (!editor)
            continue;
        QPixmap screen = shell.window.grab();
        {
            QPainter painter(&screen);
            painter.drawPixmap(editor->pos() - shell.window.pos(), editor->grab());
        }
        context.save(screen.toImage(), smallest ? QStringLiteral("shell-editor-sheet-smallest")
                                                : QStringLiteral("shell-editor-sheet"));
        editor->reject();
        context.settle(100);
    }
}
