#pragma once

#include <QFuture>
#include <QImage>
#include <QString>
#include <QThreadPool>
#include <atomic>
#include <memory>

class RawDeveloper;

// Full-size pictures for one screen (the viewer, the export editor). Jobs run
// one at a time on the processor's own worker thread, never on the UI thread;
// the futures fail with ImageLoadError. A job cannot be interrupted once it
// has started. Destroying the processor waits for the running job.
class RAWProcessor
{
public:
    RAWProcessor();
    ~RAWProcessor();
    RAWProcessor(const RAWProcessor &) = delete;
    RAWProcessor &operator=(const RAWProcessor &) = delete;

    // The full picture, or for a camera RAW file its largest stored preview;
    // upright, sRGB.
    QFuture<QImage> loadImage(const QString &path);
    // The RAW file's sensor data developed at full resolution (as-shot white
    // balance, sRGB, 8 bits, upright). Uses the processor's LibRaw context,
    // created at the first decode and reused for every later one.
    QFuture<QImage> decodeRAW(const QString &path);

    // Synchronous loadImage; throws ImageLoadError. Any thread.
    static QImage loadImageSync(const QString &path);

    // How many LibRaw contexts this processor has created (0 or 1).
    int rawContextCount() const { return m_rawContextCount.load(); }

private:
    RawDeveloper &developer(); // worker thread only

    std::unique_ptr<RawDeveloper> m_developer; // touched only by the worker
    std::atomic<int> m_rawContextCount = 0;
    QThreadPool m_pool; // one thread: one job at a time
};
