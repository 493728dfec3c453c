#include "common/DesktopFileRevealer.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace {

// A file manager that is installed but does not answer is given this long.
constexpr int fileManagerTimeoutMs = 5000;

class SessionDesktop : public DesktopFileRevealer::Desktop
{
public:
    void showInFileManager(const QString &path, std::function<void(bool)> answered) override
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) {
            answered(false);
            return;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"),
            QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
        // Owned by m_pending: a reply after this object is gone reaches nobody.
        auto *watcher =
            new QDBusPendingCallWatcher(bus.asyncCall(call, fileManagerTimeoutMs), &m_pending);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                         [answered = std::move(answered)](QDBusPendingCallWatcher *finished) {
                             finished->deleteLater();
                             answered(!QDBusPendingReply<>(*finished).isError());
                         });
    }

    bool openFolder(const QString &folder) override
    {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    }

private:
    QObject m_pending;
};

} // namespace

std::unique_ptr<DesktopFileRevealer::Desktop> DesktopFileRevealer::sessionDesktop()
{
    return std::make_unique<SessionDesktop>();
}

DesktopFileRevealer::DesktopFileRevealer(std::function<void(const QString &)> tellUser,
                                         std::unique_ptr<Desktop> desktop)
    : m_tellUser(std::move(tellUser))
    , m_desktop(std::move(desktop))
{}

DesktopFileRevealer::~DesktopFileRevealer() = default;

void DesktopFileRevealer::reveal(const QString &path)
{
    // m_desktop calls back only while it lives, and this object owns it.
    m_desktop->showInFileManager(path, [this, path](bool shown) {
        if (shown || m_desktop->openFolder(QFileInfo(path).absolutePath()))
            return;
        if (m_tellUser)
            m_tellUser(failureText());
    });
}
