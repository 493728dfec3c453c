#pragma once

#include "model/DecodeFailureMemory.h"

#include <QThreadPool>

// The thread pools of the running application, created once by whoever
// builds the application (or a test) and handed to the objects that run work
// off the UI thread. Nothing else makes a pool of its own for these kinds of
// work, so the number of threads competing for the cores stays known. Each
// pool exists for one reason, given at its accessor; a pool said to run one
// job at a time stays so, and its users rely on that.
//
// It also holds what every decode of the run shares: the files known to fail.
//
// The destructor waits for every job posted to them: destroy it after every
// object that posts work here.
class WorkQueues
{
public:
    WorkQueues();
    ~WorkQueues();
    WorkQueues(const WorkQueues &) = delete;
    WorkQueues &operator=(const WorkQueues &) = delete;

    // Thumbnail decodes and resampling: one thread per core.
    QThreadPool &decode() { return m_decode; }
    // The quick reduced decode of a picture being shown, made beside its full
    // decode: two threads of its own, so that it never queues behind a grid
    // full of thumbnails (it is what the user waits for).
    QThreadPool &standIns() { return m_standIns; }
    // Lets go of the worker threads of full-size processors that were
    // destroyed while a job ran, off the UI thread. One thread: a retired
    // worker runs at most its current job, so each wait is short.
    QThreadPool &processorRetirement() { return m_processorRetirement; }
    // File operations that must not overlap or reorder (sidecar writes,
    // archive moves): one thread, jobs run in the order posted.
    QThreadPool &fileOperations() { return m_fileOperations; }
    // Saves of the application's own stores (the ratings file): one thread,
    // in order, apart from fileOperations() so that a rating given during a
    // long archive move or a sidecar rewrite of a whole folder is on disk
    // within moments, not after them.
    QThreadPool &storeWrites() { return m_storeWrites; }
    // Screen-sized renditions of the picture being shown (fitting, zooming),
    // one at a time: never queued behind a grid full of thumbnails.
    QThreadPool &renditions() { return m_renditions; }
    // Folder scans, one at a time in the order asked (a refresh never
    // overtakes the open before it). The items a scan allocated are freed
    // here too, between scans, which keeps the next scan from contending
    // with the free for one malloc arena.
    QThreadPool &folderScans() { return m_folderScans; }
    // Counts of the images below a folder that nothing waits for, one at a
    // time, apart from the scans so that a long count never holds up the
    // next scan.
    QThreadPool &folderCounts() { return m_folderCounts; }
    // Reading the shooting data of an open folder's photos (ShootingDataIndex):
    // one thread per core, which the index runs at a lowered priority, so it
    // is a pool of its own.
    QThreadPool &shootingData() { return m_shootingData; }
    // Everything else that may take a while (exports, previews).
    QThreadPool &background() { return m_background; }

    // The files that failed to decode in this run, consulted by every decode
    // the application makes.
    DecodeFailureMemory &decodeFailures() { return m_decodeFailures; }

private:
    DecodeFailureMemory m_decodeFailures; // first: outlives the jobs below
    QThreadPool m_decode;
    QThreadPool m_standIns;
    QThreadPool m_processorRetirement;
    QThreadPool m_fileOperations;
    QThreadPool m_storeWrites;
    QThreadPool m_renditions;
    QThreadPool m_folderScans;
    QThreadPool m_folderCounts;
    QThreadPool m_shootingData;
    QThreadPool m_background;
};
