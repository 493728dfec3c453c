#pragma once

#include <QThreadPool>

// A pool of its own for work that must never queue behind Qt's global pool,
// whose threads the state, the editor and the thumbnails also take.
class DedicatedThreadPool : public QThreadPool
{
public:
    explicit DedicatedThreadPool(int threads) { setMaxThreadCount(threads); }
};
