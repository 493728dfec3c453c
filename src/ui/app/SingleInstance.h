#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLockFile;
class QLocalSocket;

// One Kelvane per user session. The first process listens on a local socket
// in the user's runtime folder; a later start hands its path (or nothing) to
// it and exits. A socket file that nobody answers on is left over from a
// crash and is taken over.
//
// Wire format: one line, "open " + the path as an encoded file URL (so any
// character of a path survives), or "raise"; the listener answers "ok".
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Role {
        primary,   // this process listens: it is the one window
        secondary, // a running process took the request: exit
        standalone // neither worked (no runtime folder, a hung listener): run alone
    };

    explicit SingleInstance(QString serverName = defaultServerName(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // $XDG_RUNTIME_DIR/kelvane, else /tmp/kelvane-UID: one per user.
    static QString defaultServerName();

    // Hands `path` (empty: just raise) to a running process. Returns primary
    // when nobody listens: then listen() must follow, and until it has, other
    // starts wait, so that two starts at once never both become primary.
    // Blocks for at most `timeoutMs` waiting for a busy listener's answer.
    // Any application object will do (it needs no display).
    Role handOver(const QString &path, int timeoutMs = 5000);
    // Takes requests from later starts, under the application object that
    // will serve them; recovers a socket left by a crash. Does nothing unless
    // handOver() returned primary.
    bool listen();
    // Both steps in one.
    Role start(const QString &path, int timeoutMs = 5000);

    const QString &serverName() const { return m_serverName; }

Q_SIGNALS:
    // Another start asked to open `path` (empty: only to raise the window).
    // Emitted from the event loop after that start has its answer and its
    // connection is done with, so a slot may run a modal dialog.
    void activationRequested(const QString &path);

private:
    enum class Delivery { delivered, nobodyListening, noAnswer };

    Delivery deliver(const QString &path, int timeoutMs);
    void onNewConnection();
    void readRequest(QLocalSocket *socket);

    QString m_serverName;
    QLocalServer *m_server = nullptr;
    std::unique_ptr<QLockFile> m_startupLock; // from handOver() until listen()
};
