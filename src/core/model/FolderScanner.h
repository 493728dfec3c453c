#pragma once

#include "model/FolderNode.h"

#include <QFuture>
#include <QThreadPool>
#include <QUrl>
#include <atomic>

class WorkQueues;

// Turns a folder on disk into a FolderNode tree of the supported images.
// Scans run one at a time on the application's WorkQueues::folderScans(),
// never on the caller's thread; the result comes back through the future. A scan never fails:
// unreadable folders and entries are simply left out.
class FolderScanner
{
public:
    // `shared` outlives the scanner.
    explicit FolderScanner(WorkQueues &shared);

    QFuture<FolderNode> scan(const QUrl &url, bool includeSubfolders);

    // The scanner's single thread, for callers that run a scan together with
    // work of their own on it (still one job at a time).
    QThreadPool &executor() { return m_scans; }

    // A second single thread for counts that nothing waits for (the images
    // below a folder shown without its sub-folders), so a long count never
    // holds up the next scan.
    QThreadPool &countExecutor() { return m_counts; }

    // The scan itself, synchronous, on the calling thread. Lists one level per
    // folder, skips hidden entries (names starting with a dot) and symbolic
    // links, keeps sub-folders only when they hold an image somewhere below,
    // and sorts them by name in natural order.
    static FolderNode scanFolder(const QUrl &url, bool includeSubfolders);

    // Whether the folder can be opened for listing now (it exists, is a
    // folder and may be read), so a caller can tell an empty folder from
    // one it cannot see into.
    static bool canList(const QUrl &url);

    // The images of the whole tree under `url`, synchronous. The walk checks
    // `stop` before each folder and ends early once it is set (the count is
    // then partial and meant to be dropped).
    static qsizetype countImages(const QUrl &url, const std::atomic_bool &stop);

private:
    QThreadPool &m_scans;  // one thread: one scan at a time
    QThreadPool &m_counts; // one thread: one count at a time
};
