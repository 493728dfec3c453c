#include "app/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QUrl>
#include <unistd.h>

namespace {

constexpr qint64 maximumRequestBytes = 64 * 1024;
const QByteArray openCommand = QByteArrayLiteral("open ");
const QByteArray raiseCommand = QByteArrayLiteral("raise");
const QByteArray answer = QByteArrayLiteral("ok\n");

} // namespace

SingleInstance::SingleInstance(QString serverName, QObject *parent)
    : QObject(parent)
    , m_serverName(std::move(serverName))
{}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultServerName()
{
    // Without a runtime folder (no login session) Qt would warn and make one
    // under /tmp; a per-user name there does as well.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return QDir::tempPath() + QStringLiteral("/kelvane-") + QString::number(::getuid());
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/kelvane");
}

SingleInstance::Role SingleInstance::start(const QString &path, int timeoutMs)
{
    const Role role = handOver(path, timeoutMs);
    if (role != Role::primary)
        return role;
    return listen() ? Role::primary : Role::standalone;
}

SingleInstance::Role SingleInstance::handOver(const QString &path, int timeoutMs)
{
    // Held across "is anyone there?" and "then I listen". A lock left by a
    // crash is stale once its process is gone (QLockFile checks the pid).
    m_startupLock = std::make_unique<QLockFile>(m_serverName + QStringLiteral(".lock"));
    m_startupLock->tryLock(timeoutMs);

    switch (deliver(path, timeoutMs)) {
    case Delivery::delivered:
        m_startupLock.reset();
        return Role::secondary;
    case Delivery::noAnswer:
        // Somebody is there but does not answer; its socket is not ours to take.
        m_startupLock.reset();
        return Role::standalone;
    case Delivery::nobodyListening:
        break;
    }
    return Role::primary;
}

SingleInstance::Delivery SingleInstance::deliver(const QString &path, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(timeoutMs))
        return socket.error() == QLocalSocket::SocketTimeoutError ? Delivery::noAnswer
                                                                  : Delivery::nobodyListening;
    const QByteArray request =
        path.isEmpty() ? raiseCommand : openCommand + QUrl::fromLocalFile(path).toEncoded();
    socket.write(request + '\n');
    socket.flush();
    QByteArray reply;
    while (!reply.contains('\n') && socket.waitForReadyRead(timeoutMs))
        reply += socket.readAll();
    if (reply.startsWith(answer))
        return Delivery::delivered;
    // Connected yet no answer: a listener that hangs; a refused connection
    // would have failed above.
    return socket.state() == QLocalSocket::ConnectedState ? Delivery::noAnswer
                                                          : Delivery::nobodyListening;
}

bool SingleInstance::listen()
{
    // Only after handOver() found nobody: a socket somebody answers on is not ours.
    if (!m_startupLock)
        return false;
    const std::unique_ptr<QLockFile> startupLock = std::move(m_startupLock);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    if (m_server->listen(m_serverName))
        return true;
    // Nobody answered on it, so a socket file there is left over from a crash.
    QLocalServer::removeServer(m_serverName);
    return m_server->listen(m_serverName);
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
        readRequest(socket);
    }
}

void SingleInstance::readRequest(QLocalSocket *socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > maximumRequestBytes)
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine(maximumRequestBytes).trimmed();
    QString path;
    if (line.startsWith(openCommand)) {
        const QUrl url = QUrl::fromEncoded(line.mid(openCommand.size()));
        if (!url.isLocalFile()) {
            socket->abort();
            return;
        }
        path = url.toLocalFile();
    } else if (line != raiseCommand) {
        socket->abort();
        return;
    }
    socket->write(answer);
    socket->disconnectFromServer();
    // Carried out from the event loop once this socket's signal has returned:
    // what the request starts may ask a modal question, whose nested event
    // loop would otherwise delete the socket under this very call.
    QMetaObject::invokeMethod(
        this, [this, path] { Q_EMIT activationRequested(path); }, Qt::QueuedConnection);
}
