#include "state/FileMoveFlow.h"

#include "model/BackgroundTask.h"
#include "state/AppState.h"
#include "state/ArchiveMover.h"
#include "state/PhotoMoveBack.h"
#include "state/PhotoTrash.h"

#include <QFileInfo>
#include <QPromise>
#include <QThreadPool>
#include <memory>

namespace {

using File = MovedPhoto::File;
using Side = QString MovedPhoto::File::*;

// The photos' paths on one side of their moves (&File::from or &File::to).
QStringList photos(const QList<MovedPhoto> &moved, Side side)
{
    QStringList paths;
    paths.reserve(moved.size());
    for (const MovedPhoto &photo : moved)
        paths << photo.photo.*side;
    return paths;
}

// Every photo path the work touches, on both sides.
QStringList pathsOf(const QList<MovedPhoto> &moved)
{
    return photos(moved, &MovedPhoto::File::from) + photos(moved, &MovedPhoto::File::to);
}

QString trashReport(qsizetype trashed, qsizetype stayed, const QString &error)
{
    if (stayed == 0)
        return QStringLiteral("已移到废纸篓 %1 张，按 Ctrl+Z 撤销").arg(trashed);
    const QString reason = error.isEmpty() ? QString() : QStringLiteral("：") + error;
    if (trashed == 0)
        return QStringLiteral("无法移到废纸篓") + reason;
    return QStringLiteral("已移到废纸篓 %1 张，%2 张无法移到废纸篓").arg(trashed).arg(stayed) +
           reason;
}

} // namespace

FileMoveFlow::FileMoveFlow(AppState &state, QThreadPool &fileOperations)
    : m_state(state)
    , m_fileOperations(fileOperations)
{}

FileMoveFlow::Moved FileMoveFlow::trash(const QStringList &photos)
{
    const PhotoTrash::Outcome trashed = PhotoTrash::moveToTrash(photos);
    return {trashed.trashed, trashed.stayed.size(), trashed.error};
}

UndoStep FileMoveFlow::withMoves(const UndoStep &step, const QList<MovedPhoto> &moved)
{
    UndoStep part = step;
    part.movedPhotos = moved;
    part.description = describe(part);
    return part;
}

QString FileMoveFlow::describe(const UndoStep &step)
{
    const qsizetype count = step.movedPhotos.size();
    if (step.fileAction == UndoStep::FileAction::trash)
        return UndoStep::forCount(QStringLiteral("移到废纸篓"), count);
    return UndoStep::forCount(
        QStringLiteral("归档到「%1」").arg(QFileInfo(step.archiveFolder).fileName()), count);
}

template <typename Work, typename Report>
QFuture<void> FileMoveFlow::run(const QString &busyMessage, const QStringList &paths, Way way,
                                Work work, Report report)
{
    AppState &state = m_state;
    auto done = std::make_shared<QPromise<void>>();
    done->start();
    const QString openRoot = state.currentFolder() ? state.currentFolder()->path() : QString();
    // A clean-up of a folder opened meanwhile must not take the files on
    // their way for deleted ones.
    state.starRatingStore().holdPaths(paths);
    state.cullingMarks().holdPaths(paths);
    state.beginFileWork(busyMessage);
    const auto finish = [&state, done, paths] {
        state.starRatingStore().releasePaths(paths);
        state.cullingMarks().releasePaths(paths);
        state.endFileWork();
        done->finish();
    };
    const auto reloadIfStillOpen = [&state, openRoot, finish](const QString &status) {
        const auto report = [&state, status, finish] {
            if (!status.isEmpty())
                state.setStatusMessage(status);
            finish();
        };
        const std::optional<FolderNode> &open = state.currentFolder();
        if (!open || open->path() != openRoot)
            report();
        else
            state.reloadFolder().then(&state, report);
    };
    // What the sidecars hold now, unless a write into them failed.
    QHash<QString, int> ratingsBefore;
    for (const QString &path : paths)
        ratingsBefore.insert(path, state.starRatingStore().rating(path));
    BackgroundTask::run(
        &m_fileOperations, &state, std::move(work),
        [&state, way, ratingsBefore, report, reloadIfStillOpen](const Moved &outcome) {
            const QList<MovedPhoto> &moved = outcome.moved;
            const bool away = way == Way::away;
            const QStringList from = photos(moved, away ? &File::from : &File::to);
            const QStringList to = photos(moved, away ? &File::to : &File::from);
            // Ratings, flags and labels follow their files, into the Trash too,
            // so that an undo brings them back with the file.
            state.starRatingStore().moveRatings(from, to);
            state.cullingMarks().moveMarks(from, to);
            state.xmpRatingSync().followMovedFiles(from, to, ratingsBefore);
            reloadIfStillOpen(report(outcome));
        },
        [&state, reloadIfStillOpen] {
            // Some files may have moved before the error: show the folder as it is now.
            state.setToastMessage(QStringLiteral("移动文件时出错"));
            reloadIfStillOpen(QString());
        });
    return done->future();
}

QFuture<void> FileMoveFlow::moveToTrash(const QList<ImageItem> &items)
{
    QStringList sources;
    sources.reserve(items.size());
    for (const ImageItem &item : items)
        sources << item.path();
    AppState &state = m_state;
    return run(
        QStringLiteral("正在移到废纸篓..."), sources, Way::away,
        [sources] { return trash(sources); },
        [&state](const Moved &outcome) {
            UndoStep step;
            step.fileAction = UndoStep::FileAction::trash;
            step.movedPhotos = outcome.moved;
            step.description = describe(step);
            state.undoHistory().record(step);
            state.setToastMessage(trashReport(outcome.moved.size(), outcome.stayed, outcome.error));
            return QString();
        });
}

QFuture<void> FileMoveFlow::undo()
{
    AppState &state = m_state;
    const UndoStep step = state.undoHistory().takeFileUndo();
    return run(
        QStringLiteral("正在撤销..."), pathsOf(step.movedPhotos), Way::back,
        [moved = step.movedPhotos] {
            const PhotoMoveBack::Outcome back = PhotoMoveBack::moveBack(moved);
            return Moved{back.returned, back.stayed.size(), {}};
        },
        [&state, step](const Moved &outcome) {
            state.undoHistory().recordUndone(withMoves(step, outcome.moved));
            if (outcome.stayed > 0)
                state.setToastMessage(QStringLiteral("%1 张无法恢复").arg(outcome.stayed));
            return QStringLiteral("已撤销：") + step.description;
        });
}

QFuture<void> FileMoveFlow::redo()
{
    AppState &state = m_state;
    const UndoStep step = state.undoHistory().takeFileRedo();
    const QStringList sources = photos(step.movedPhotos, &File::from);
    return run(
        QStringLiteral("正在重做..."), sources, Way::away,
        [sources, step] {
            if (step.fileAction == UndoStep::FileAction::trash)
                return trash(sources);
            const ArchiveMover::Outcome archived =
                ArchiveMover::moveFiles(sources, step.archiveFolder);
            return Moved{archived.moved, sources.size() - archived.moved.size(),
                         archived.folderError};
        },
        [&state, step](const Moved &outcome) {
            state.undoHistory().recordRedone(withMoves(step, outcome.moved));
            if (outcome.stayed > 0)
                state.setToastMessage(QStringLiteral("%1 张无法重做").arg(outcome.stayed));
            return QStringLiteral("已重做：") + step.description;
        });
}
