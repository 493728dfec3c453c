#include "state/PhotoMoveBack.h"

#include "model/FileTrash.h"
#include "model/LocalFileName.h"
#include "state/ArchiveMover.h"

#include <unistd.h>

namespace {

using File = MovedPhoto::File;

bool moveBackFile(const File &file)
{
    if (file.trashInfo.isEmpty())
        return ArchiveMover::moveFileTo(file.to, file.from);
    return FileTrash::restore({file.from, file.to, file.trashInfo}).isEmpty();
}

// Undoes moveBackFile for a file that has just come back, so that a photo
// never stays apart from its sidecars.
void moveAwayAgain(const File &file)
{
    if (file.trashInfo.isEmpty())
        ArchiveMover::moveFileTo(file.from, file.to);
    else
        FileTrash::moveToTrash(file.from);
}

bool moveBackPhoto(const MovedPhoto &moved)
{
    QList<File> returned;
    for (const File &sidecar : moved.sidecars) {
        if (sidecar.copied)
            continue;
        if (!moveBackFile(sidecar))
            break;
        returned << sidecar;
    }
    const qsizetype expected = std::count_if(moved.sidecars.cbegin(), moved.sidecars.cend(),
                                             [](const File &sidecar) { return !sidecar.copied; });
    if (returned.size() == expected && moveBackFile(moved.photo))
        return true;
    for (const File &sidecar : std::as_const(returned))
        moveAwayAgain(sidecar);
    return false;
}

// The original of a copied sidecar never left: an unchanged copy is ours
// alone and goes; one edited since stays.
void dropUnchangedCopies(const MovedPhoto &moved)
{
    for (const File &sidecar : moved.sidecars) {
        if (sidecar.copied && sidecar.isUnchanged())
            ::unlink(LocalFileName::encode(sidecar.to).constData());
    }
}

} // namespace

PhotoMoveBack::Outcome PhotoMoveBack::moveBack(const QList<MovedPhoto> &moved)
{
    Outcome outcome;
    for (const MovedPhoto &photo : moved) {
        if (photo.canGoBack() && moveBackPhoto(photo)) {
            dropUnchangedCopies(photo);
            outcome.returned << photo;
        } else {
            outcome.stayed << photo;
        }
    }
    return outcome;
}
