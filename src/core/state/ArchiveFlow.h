#pragma once

#include "model/ImageItem.h"

#include <QFuture>
#include <QList>
#include <QString>

class AppState;
class QThreadPool;

// The archive of the grid as the user sees it: the file work (ArchiveMover)
// on the file-operation queue, then on the UI thread the moved files'
// ratings move with them and the toast reports the result; if the folder
// open at the start is still open, the star filter and the selection are
// reset and it is rescanned.
//
// The moves share `fileOperations` (one thread, jobs in order) with the
// sidecar writes: every rating given before the archive is in the sidecar
// that moves, and none given during it is written beside a photo that has
// left. UI thread only. The object may go once run() has returned; the
// archive it started keeps going.
class ArchiveFlow
{
public:
    ArchiveFlow(AppState &state, QThreadPool &fileOperations);

    // Archives `images` into `folder`. The future finishes after the rescan
    // (or at once after a failure to create the folder, or when the open
    // folder has gone, which change nothing else). AppState::isMovingFiles is
    // true until then; while it is, a second archive is refused (nothing
    // happens).
    QFuture<void> run(const QList<ImageItem> &images, const QString &folder);

private:
    AppState &m_state;
    QThreadPool &m_fileOperations;
};
