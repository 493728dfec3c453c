#include "app/LaunchTarget.h"

#include "model/FolderScanner.h"
#include "model/SupportedFormats.h"

#include <QFileInfo>
#include <QUrl>

LaunchTarget LaunchTarget::fromPath(const QString &path)
{
    LaunchTarget target;
    const QFileInfo info(path);
    const QString quoted = QStringLiteral("「") + path + QStringLiteral("」");
    if (!info.exists()) {
        target.m_problem = QStringLiteral("无法打开") + quoted + QStringLiteral("：文件夹不存在");
    } else if (info.isDir()) {
        if (isReadableFolder(path))
            target.m_folder = info.absoluteFilePath();
        else
            target.m_problem =
                QStringLiteral("无法打开") + quoted + QStringLiteral("：没有读取权限");
    } else if (info.isFile() && SupportedFormats::isSupportedFile(info.fileName()) &&
               info.isReadable() && isReadableFolder(info.absolutePath())) {
        // "Open with" on a photo: its folder, with that photo in front.
        target.m_folder = info.absolutePath();
        target.m_image = info.absoluteFilePath();
    } else {
        target.m_problem = QStringLiteral("无法打开") + quoted + QStringLiteral("：不是文件夹");
    }
    return target;
}

bool LaunchTarget::isReadableFolder(const QString &path)
{
    // The scanner's own test, so a folder accepted here is one the scan can list.
    return FolderScanner::canList(QUrl::fromLocalFile(path));
}
