#include "state/ArchiveFlow.h"

#include "model/BackgroundTask.h"
#include "state/AppState.h"
#include "state/ArchiveMover.h"
#include "state/FileMoveFlow.h"

#include <QDir>
#include <QFileInfo>
#include <QPromise>
#include <QThreadPool>
#include <memory>

ArchiveFlow::ArchiveFlow(AppState &state, QThreadPool &fileOperations)
    : m_state(state)
    , m_fileOperations(fileOperations)
{}

QFuture<void> ArchiveFlow::run(const QList<ImageItem> &images, const QString &folder)
{
    AppState &state = m_state;
    auto done = std::make_shared<QPromise<void>>();
    done->start();
    if (state.isMovingFiles()) {
        done->finish();
        return done->future();
    }
    QStringList sources;
    sources.reserve(images.size());
    // What the moving sidecars hold, unless a write into them failed.
    QHash<QString, int> ratingsBefore;
    for (const ImageItem &item : images) {
        sources << item.path();
        ratingsBefore.insert(item.path(), state.starRatingStore().rating(item.path()));
    }
    const QString target = QDir::cleanPath(folder);
    const QString openRoot = state.currentFolder() ? state.currentFolder()->path() : QString();
    // A clean-up of a folder opened meanwhile must not take the photos that
    // have already left for deleted ones.
    state.starRatingStore().holdPaths(sources);
    state.cullingMarks().holdPaths(sources);
    state.beginFileWork(QStringLiteral("正在归档..."));
    const auto finish = [&state, done, sources] {
        state.starRatingStore().releasePaths(sources);
        state.cullingMarks().releasePaths(sources);
        state.endFileWork();
        done->finish();
    };
    // Another folder opened meanwhile keeps its own filters and selection.
    const auto rescanIfStillOpen = [&state, openRoot, finish] {
        const std::optional<FolderNode> &open = state.currentFolder();
        if (!open || open->path() != openRoot) {
            finish();
            return;
        }
        state.setStarFilter(0);
        state.clearSelection();
        // The rescan finishes on this thread too, so attaching here cannot race it.
        state.refreshFolder(*open).then(&state, finish);
    };
    BackgroundTask::run(
        &m_fileOperations, &state,
        [sources, target, openRoot] { return ArchiveMover::moveFiles(sources, target, openRoot); },
        [&state, target, ratingsBefore, finish,
         rescanIfStillOpen](const ArchiveMover::Outcome &outcome) {
            if (!outcome.folderReady) {
                state.setToastMessage(outcome.openFolderGone
                                          ? QStringLiteral("文件夹已不存在，无法归档")
                                          : QStringLiteral("创建文件夹失败：") +
                                                outcome.folderError);
                finish();
                return;
            }
            // Ratings, flags and labels follow their files to their new place.
            state.starRatingStore().moveRatings(outcome.movedSources, outcome.destinations);
            state.cullingMarks().moveMarks(outcome.movedSources, outcome.destinations);
            state.xmpRatingSync().followMovedFiles(outcome.movedSources, outcome.destinations,
                                                   ratingsBefore);
            UndoStep step;
            step.fileAction = UndoStep::FileAction::archive;
            step.archiveFolder = target;
            step.movedPhotos = outcome.moved;
            step.description = FileMoveFlow::describe(step);
            state.undoHistory().record(step);
            state.setToastMessage(QStringLiteral("已归档 %1 张图片到「%2」")
                                      .arg(outcome.movedSources.size())
                                      .arg(QFileInfo(target).fileName()));
            rescanIfStillOpen();
        },
        [&state, rescanIfStillOpen] {
            // Some files may have moved before the error: show the folder as it is now.
            state.setToastMessage(QStringLiteral("归档时出错"));
            rescanIfStillOpen();
        });
    return done->future();
}
