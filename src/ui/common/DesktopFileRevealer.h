#pragma once

#include "common/FileRevealer.h"

#include <QString>
#include <functional>
#include <memory>

// Shows a file in the desktop's file manager: first asks the session's file
// manager to show it selected; when none answers, opens the containing folder
// with the desktop's default handler; when that fails too, tells the user so.
// Never blocks: the file manager answers later. UI thread only.
class DesktopFileRevealer : public FileRevealer
{
public:
    // The desktop services tried in turn; a stand-in where a session lacks them.
    class Desktop
    {
    public:
        virtual ~Desktop() = default;
        // Asks a file manager to show `path` selected; `answered(shown)` comes
        // later on the calling thread, never after the Desktop is destroyed.
        virtual void showInFileManager(const QString &path,
                                       std::function<void(bool shown)> answered) = 0;
        // Opens `folder` with the default handler; false when nothing takes it.
        virtual bool openFolder(const QString &folder) = 0;
    };

    // The session's file manager over D-Bus (org.freedesktop.FileManager1
    // ShowItems) and QDesktopServices.
    static std::unique_ptr<Desktop> sessionDesktop();

    // `tellUser` receives failureText() when neither service shows the file.
    explicit DesktopFileRevealer(std::function<void(const QString &)> tellUser,
                                 std::unique_ptr<Desktop> desktop = sessionDesktop());
    ~DesktopFileRevealer() override;

    void reveal(const QString &path) override;

    static QString failureText() { return QStringLiteral("无法打开文件所在的文件夹"); }

private:
    std::function<void(const QString &)> m_tellUser;
    std::unique_ptr<Desktop> m_desktop;
};
