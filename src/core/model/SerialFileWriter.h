#pragma once

#include <QThreadPool>
#include <functional>

// Runs file writes one after another, in the order they were posted, on a
// thread of its own, so that saving a store never makes the UI thread wait
// for the disk (an fsync can take tens of milliseconds). The destructor waits
// for every posted write.
class SerialFileWriter
{
public:
    SerialFileWriter();
    ~SerialFileWriter();

    void post(std::function<void()> write);
    // Blocks until every write posted so far has finished.
    void waitForDone();
    // The one thread, for file work that has to fall between two writes.
    QThreadPool *pool() { return &m_pool; }

private:
    QThreadPool m_pool; // one thread: writes never overlap or reorder
};
