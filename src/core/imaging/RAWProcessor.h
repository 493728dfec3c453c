#pragma once

#include "imaging/ViewPicture.h"

#include <QFuture>
#include <QImage>
#include <QString>
#include <memory>

class WorkQueues;

// Full-size pictures for one screen (the viewer, the export editor). Jobs run
// one at a time on the processor's own worker thread, never on the UI thread;
// the futures fail with ImageLoadError. A job cannot be interrupted once it
// has started.
//
// Destroying the processor returns at once: jobs not yet started are
// cancelled (their futures finish cancelled, without a result), the running
// one finishes on its own thread, which is then released off the caller's
// thread by the application's WorkQueues::processorRetirement() (wait for
// that pool to count threads or memory after a processor is gone).
class RAWProcessor
{
public:
    // Stand-ins decode on `shared.standIns()`, failures are remembered in
    // `shared.decodeFailures()`; `shared` outlives the processor.
    explicit RAWProcessor(WorkQueues &shared);
    ~RAWProcessor();
    RAWProcessor(const RAWProcessor &) = delete;
    RAWProcessor &operator=(const RAWProcessor &) = delete;

    // The full picture, or for a camera RAW file its largest stored preview;
    // upright, sRGB.
    QFuture<QImage> loadImage(const QString &path);
    // loadImage() for a view of `view` device pixels: when the file allows a
    // much quicker reduced decode that still fills the view (a large JPEG),
    // a stand-in comes as the first result, then the full picture.
    // Cancelling the future stops a JPEG decode within a band of rows.
    QFuture<ViewPicture> loadForView(const QString &path, QSize view);
    // The RAW file's sensor data developed at full resolution (as-shot white
    // balance, sRGB, 8 bits, upright). Uses the processor's LibRaw context,
    // created at the first decode and reused for every later one. Unlike the
    // other jobs, a development stops soon after its future is cancelled or
    // the processor destroyed, and a damaged file's within a time limit.
    QFuture<QImage> decodeRAW(const QString &path);

    // Synchronous loadImage, remembering no failure; throws ImageLoadError.
    // Any thread.
    static QImage loadImageSync(const QString &path);

    // How many LibRaw contexts this processor has created (0 or 1).
    int rawContextCount() const;

private:
    struct Worker;
    std::shared_ptr<Worker> m_worker;
};
