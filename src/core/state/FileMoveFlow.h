#pragma once

#include "model/ImageItem.h"
#include "model/MovedPhoto.h"
#include "state/UndoStep.h"

#include <QFuture>
#include <QList>

class AppState;
class QThreadPool;

// Moves to the Trash, and the undo and redo of every action that moved
// files (an archive, a move to the Trash), as the user sees them: the file
// work on the file-operation queue (behind the sidecar writes posted
// before, as the archive's), then on the UI thread the ratings and marks
// follow the files, the undo history learns what really moved, the status
// line or a toast says so, and the open folder is reloaded keeping filters,
// selection and viewer. AppState::isMovingFiles is true meanwhile.
//
// UI thread only. The object may go once a call has returned; the work it
// started keeps going and its future finishes after the reload.
class FileMoveFlow
{
public:
    FileMoveFlow(AppState &state, QThreadPool &fileOperations);

    QFuture<void> moveToTrash(const QList<ImageItem> &items);
    // The history's next undo (redo), which must be one that moves files.
    QFuture<void> undo();
    QFuture<void> redo();

    // What a step that moved files did, for the status line: "移到废纸篓
    // （3 张）", "归档到「精选」".
    static QString describe(const UndoStep &step);

private:
    enum class Way { away, back };
    struct Moved
    {
        QList<MovedPhoto> moved;
        qsizetype stayed = 0;
        QString error; // why the first one stayed (a trash's reason)
    };

    static Moved trash(const QStringList &photos);
    // `step` with only the photos of `moved` (what an undo or redo managed).
    static UndoStep withMoves(const UndoStep &step, const QList<MovedPhoto> &moved);

    // Starts `work` (returning Moved) and, when it is done, runs `report`
    // with its outcome after the ratings and marks followed it `way`; the
    // status text `report` returns (if any) shows once the folder is reloaded.
    template <typename Work, typename Report>
    QFuture<void> run(const QString &busyMessage, const QStringList &paths, Way way, Work work,
                      Report report);

    AppState &m_state;
    QThreadPool &m_fileOperations;
};
