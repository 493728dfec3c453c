#pragma once

#include "imaging/ViewPicture.h"
#include "model/ImageItem.h"
#include "model/LatestRequestRunner.h"

#include <QImage>
#include <QObject>
#include <QUuid>
#include <memory>

class RAWProcessor;
class WorkQueues;
struct ImageLoadResult;

// Decodes the picture the viewer shows, with bounded work: at most one job is
// in flight and at most one waits, and the newest request wins (a waiting
// request is replaced, never stacked). A quick step through many images thus
// decodes the one in flight and the last one asked for, nothing in between.
//
// A full RAW development, which takes seconds, is not waited for: a newer
// request lets its processor go (without blocking) and starts on a fresh one.
// A large JPEG shows first as a stand-in decoded at reduced size for the view
// (standInLoaded()), then at full size (loaded()); a newer request skips the
// full decode of one that has shown its stand-in. Results of superseded
// requests are dropped and announced by discarded().
// UI thread only.
class ShownImageLoader : public QObject
{
    Q_OBJECT

public:
    // Decodes with the application's `shared` queues, which outlive it.
    explicit ShownImageLoader(WorkQueues &shared, QObject *parent = nullptr);
    ~ShownImageLoader() override;

    // The quick load of `item` (its stored preview for a RAW file), shown in
    // a view of `view` device pixels (empty: no stand-in).
    void load(const ImageItem &item, QSize view = {});
    // The full development of the RAW file `item`.
    void decodeRAW(const ImageItem &item);
    // load(), waiting for `decoding` (the same file's decode started
    // elsewhere, e.g. by the neighbour prefetch) instead of decoding it twice;
    // loads it after all if that decode is stopped.
    void follow(const ImageItem &item, const QFuture<ViewPicture> &decoding, QSize view = {});
    // Drops the waiting request; the result of the running one is discarded
    // (and a load that has shown its stand-in stops there).
    void cancel();

    bool isBusy() const { return m_jobs.isBusy(); }
    // Decodes started so far (each decodes one file once).
    int startedJobs() const { return m_startedDecodes; }

Q_SIGNALS:
    void standInLoaded(const QUuid &id, const ViewPicture &standIn);
    void loaded(const QUuid &id, const QImage &image);
    void loadFailed(const QUuid &id, const QString &message);
    void decoded(const QUuid &id, const QImage &image);
    void decodeFailed(const QUuid &id, const QString &message);
    // A job finished whose request had been superseded; nothing was delivered.
    void discarded();

private:
    template <typename T>
    void deliver(const ImageItem &item, const QFuture<T> &done,
                 void (ShownImageLoader::*succeeded)(const QUuid &, const QImage &),
                 void (ShownImageLoader::*failed)(const QUuid &, const QString &));

    LatestRequestRunner::Request<ViewPicture> loadRequest(const ImageItem &item);

    WorkQueues &m_shared;
    std::unique_ptr<RAWProcessor> m_processor;
    LatestRequestRunner m_jobs;
    int m_startedDecodes = 0;
};
