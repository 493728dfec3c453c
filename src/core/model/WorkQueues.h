#pragma once

#include <QThreadPool>

// The thread pools of the running application, created once by whoever
// builds the application (or a test) and handed to the objects that run work
// off the UI thread. Nothing else makes a pool of its own for these kinds of
// work, so the number of threads competing for the cores stays known.
//
// The destructor waits for every job posted to them.
class WorkQueues
{
public:
    WorkQueues();
    ~WorkQueues();
    WorkQueues(const WorkQueues &) = delete;
    WorkQueues &operator=(const WorkQueues &) = delete;

    // Picture decodes and resampling: one thread per core.
    QThreadPool &decode() { return m_decode; }
    // File operations that must not overlap or reorder (ratings and sidecar
    // writes, archive moves): one thread, jobs run in the order posted.
    QThreadPool &fileOperations() { return m_fileOperations; }
    // Everything else that may take a while (scans, counts, exports,
    // previews).
    QThreadPool &background() { return m_background; }

private:
    QThreadPool m_decode;
    QThreadPool m_fileOperations;
    QThreadPool m_background;
};
