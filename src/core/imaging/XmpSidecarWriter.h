#pragma once

#include "model/CullingMark.h"
#include "model/SidecarIndex.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <array>
#include <functional>
#include <optional>

// Writes xmp:Rating (and xmp:Label) into the XMP sidecars of photos so that
// other programs see ratings, rejects (-1) and colour labels made here. Each sidecar that exists
// (IMG_0001.CR2.xmp, IMG_0001.xmp, in any case) is updated keeping every other property it holds,
// MicrosoftPhoto:Rating kept in step where present; when none exists, one is created under the name
// the programs reading that kind of photo look for (SidecarIndex::newSidecarFor). A sidecar is
// replaced atomically (temporary file + rename), never left half written, and never over a change
// another program made after we read it; photos are never touched.
//
// writeRating returns at once: writes run on the file-operation queue it is
// given (one thread, jobs in order), one after another, between the other
// file work posted there. Ratings posted for a file before its write started are coalesced
// into the last one, so a write never puts back an older value. The
// destructor waits for the queue.
class XmpSidecarWriter : public QObject
{
    Q_OBJECT

public:
    // What one write puts into a photo's sidecars; a part left empty stays
    // as the sidecar holds it.
    struct Values
    {
        std::optional<int> rating;        // -1 (rejected) .. 5
        std::optional<ColourLabel> label; // none removes xmp:Label
        // A photo found gone is no failure: nothing is written and nothing
        // reported (marks of files that vanished or moved).
        bool skipIfGone = false;
        // Later parts replace earlier ones.
        void mergeLater(const Values &later);
    };

    explicit XmpSidecarWriter(QThreadPool &fileOperations, QObject *parent = nullptr);
    ~XmpSidecarWriter() override;

    // UI thread. 0 writes 0: cleared here stays cleared everywhere.
    void writeRating(const QString &imagePath, int rating);
    // UI thread. Coalesced with the values posted for the photo before.
    void writeValues(const QString &imagePath, const Values &values);
    // Blocks until every write (and other job) posted to the queue so far
    // has finished.
    void waitForDone();
    // Photos whose posted write has not finished yet: their sidecars may
    // still hold an older rating. Any thread.
    QSet<QString> unfinishedWrites() const;
    // The queue: work started on it runs after every write posted before
    // and before every write posted later.
    QThreadPool *pool() { return &m_fileOperations; }

    // The blocking write itself; any thread. On failure returns false and the
    // reason in `error` (may be null); every sidecar not yet written stays as it was. A
    // sidecar that is no regular file, or too large, is a failure and left
    // alone. A photo that is gone (archived, deleted) gets no sidecar, and
    // that is a failure: nothing was written.
    static bool writeRatingNow(const QString &imagePath, int rating, QString *error);
    static bool writeValuesNow(const QString &imagePath, const Values &values, QString *error);

    // Called on the writing thread between reading a sidecar and replacing
    // it, where another program's write may fall; tests play one there.
    // Empty for none; set it while no write runs.
    static void setBeforeReplace(std::function<void(const QString &sidecarPath)> hook);

Q_SIGNALS:
    // Emitted on the writer's thread; connect with the receiver's context.
    // Also for a photo skipped as gone (Values::skipIfGone).
    void written(const QString &imagePath);
    void writeFailed(const QString &imagePath, const QString &reason);

private:
    // A folder's device, inode and modification time (s, ns); all 0 when
    // it cannot be read. Any change of its entries changes the time.
    using FolderStamp = std::array<qint64, 4>;
    struct ListedFolder
    {
        SidecarIndex index;
        FolderStamp stamp; // when listed, or after our last write there
    };
    // Folder -> its index, kept while writes follow one another and the
    // folder's stamp stays as we left it.
    using FolderIndexes = QHash<QString, ListedFolder>;

    void writePending(const QString &imagePath);
    // writeRatingNow with the folder indexes of the current run of writes;
    // a folder not among them, or changed since, is listed (the first time
    // also swept of our stale temporaries); a sidecar created is added.
    static bool writeValuesNow(const QString &imagePath, const Values &values,
                               FolderIndexes *folders, QString *error);
    static bool writeSidecars(const QString &imagePath, const Values &values, SidecarIndex *index,
                              QString *error);
    static FolderStamp stampOf(const QString &folder);
    static ListedFolder *listedFolder(const QString &folder, FolderIndexes *folders,
                                      QString *error);

    mutable QMutex m_mutex;
    QHash<QString, Values> m_pending; // guarded by m_mutex
    QHash<QString, int> m_unfinished; // writes posted per photo; guarded by m_mutex
    FolderIndexes m_drainFolders;     // writer thread only; emptied when no write is pending
    QThreadPool &m_fileOperations;
};
