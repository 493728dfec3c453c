#pragma once

#include "model/ImageItem.h"

#include <QImage>
#include <QObject>
#include <QUuid>
#include <memory>
#include <optional>

class RAWProcessor;

// Decodes the picture the viewer shows, with bounded work: at most one job is
// in flight and at most one waits, and the newest request wins (a waiting
// request is replaced, never stacked). A quick step through many images thus
// decodes the one in flight and the last one asked for, nothing in between.
//
// A full RAW development, which takes seconds, is not waited for: a newer
// request lets its processor go (without blocking) and starts on a fresh one.
// Results of superseded requests are dropped and announced by discarded().
// UI thread only.
class ShownImageLoader : public QObject
{
    Q_OBJECT

public:
    explicit ShownImageLoader(QObject *parent = nullptr);
    ~ShownImageLoader() override;

    // The quick load of `item` (its stored preview for a RAW file).
    void load(const ImageItem &item);
    // The full development of the RAW file `item`.
    void decodeRAW(const ImageItem &item);
    // Drops the waiting request; the result of the running one is discarded.
    void cancel();

    bool isBusy() const { return m_running.has_value(); }
    // Jobs started so far (each decodes one file once).
    int startedJobs() const { return m_startedJobs; }

Q_SIGNALS:
    void loaded(const QUuid &id, const QImage &image);
    void loadFailed(const QUuid &id, const QString &message);
    void decoded(const QUuid &id, const QImage &image);
    void decodeFailed(const QUuid &id, const QString &message);
    // A job finished whose request had been superseded; nothing was delivered.
    void discarded();

private:
    enum class Kind { load, decodeRAW };
    struct Request
    {
        ImageItem item;
        Kind kind;
        quint64 token;
    };

    void submit(const ImageItem &item, Kind kind);
    void start(Request request);
    void finish(const Request &request, const QImage &image, const QString &error, bool delivered);

    std::unique_ptr<RAWProcessor> m_processor;
    std::optional<Request> m_running;
    std::optional<Request> m_waiting;
    quint64 m_currentToken = 0; // the request whose result is wanted
    int m_startedJobs = 0;
};
