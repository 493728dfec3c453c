#include "model/FolderScanner.h"

#include "model/LocalFileName.h"
#include "model/NaturalOrder.h"
#include "model/RandomUuid.h"
#include "model/SupportedFormats.h"
#include "model/WorkQueues.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QtConcurrent/QtConcurrentRun>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>

namespace {

enum class EntryKind { directory, regularFile, other };

// d_type answers without a stat on the file systems we meet; fall back to
// lstat where it does not. Symbolic links are never followed, so a link is
// neither a folder nor a file to the scan and no loop can form.
EntryKind kindOf(int directoryFd, const dirent *entry)
{
    switch (entry->d_type) {
    case DT_DIR:
        return EntryKind::directory;
    case DT_REG:
        return EntryKind::regularFile;
    case DT_UNKNOWN:
        break;
    default:
        return EntryKind::other;
    }
    struct stat info;
    if (fstatat(directoryFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return EntryKind::other;
    if (S_ISDIR(info.st_mode))
        return EntryKind::directory;
    if (S_ISREG(info.st_mode))
        return EntryKind::regularFile;
    return EntryKind::other;
}

class TreeWalk
{
public:
    explicit TreeWalk(const std::atomic_bool *stop = nullptr)
        : m_stop(stop)
    {}

    FolderNode scan(const QString &path, bool includeSubfolders)
    {
        FolderNode node;
        node.id = RandomUuid::create();
        node.url = QUrl::fromLocalFile(path);
        node.name = FolderNode::displayName(path);

        QStringList subfolders;
        listFolder(path, includeSubfolders, node.images, node.sidecars, subfolders);
        if (!includeSubfolders)
            return node;

        QStringList names;
        names.reserve(subfolders.size());
        for (const QString &sub : std::as_const(subfolders))
            names << sub.mid(sub.lastIndexOf(QLatin1Char('/')) + 1);
        // Sort the names and the paths together: sort the names, then rebuild the paths.
        m_order.sortStrings(names);
        const QString prefix = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
        for (const QString &name : std::as_const(names)) {
            if (m_stop && m_stop->load(std::memory_order_relaxed))
                break;
            FolderNode child = scan(prefix + name, true);
            if (child.imageCount() > 0)
                node.children.append(std::move(child));
        }
        return node;
    }

private:
    void listFolder(const QString &path, bool wantSubfolders, QList<ImageItem> &images,
                    QStringList &sidecars, QStringList &subfolders)
    {
        const QByteArray encodedPath = LocalFileName::encode(path);
        DIR *dir = opendir(encodedPath.constData());
        if (!dir)
            return;
        const int fd = dirfd(dir);
        const QString prefix = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
        while (const dirent *entry = readdir(dir)) {
            if (entry->d_name[0] == '.') // hidden entries, "." and ".."
                continue;
            const EntryKind kind = kindOf(fd, entry);
            if (kind == EntryKind::directory) {
                if (wantSubfolders)
                    subfolders << prefix +
                                      LocalFileName::decode(entry->d_name, qstrlen(entry->d_name));
                continue;
            }
            if (kind != EntryKind::regularFile)
                continue;
            // Every name stays openable, UTF-8 or not.
            const QString name = LocalFileName::decode(entry->d_name, qstrlen(entry->d_name));
            if (const ImageItem::FileType *type = imageTypeOf(name))
                images.append(ImageItem(prefix + name, name, *type));
            else if (name.endsWith(QLatin1String(".xmp"), Qt::CaseInsensitive))
                sidecars.append(prefix + name);
        }
        closedir(dir);
    }

    // The file type of an image name, or nullptr for anything else. A folder
    // tree has a handful of distinct extensions, so each is looked up once (the
    // MIME test behind it is slow next to a hash probe) and its strings are
    // shared by every item.
    const ImageItem::FileType *imageTypeOf(const QString &name)
    {
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot <= 0)
            return nullptr;
        const QStringView extension = QStringView(name).mid(dot + 1);
        for (const auto &[written, type] : m_types) {
            if (written == extension)
                return type ? &*type : nullptr;
        }
        const QString lower = extension.toString().toLower();
        std::optional<ImageItem::FileType> type;
        if (SupportedFormats::isSupportedExtension(lower))
            type = ImageItem::FileType::forExtension(lower);
        m_types.emplace_back(extension.toString(), std::move(type));
        return m_types.back().second ? &*m_types.back().second : nullptr;
    }

    const std::atomic_bool *m_stop = nullptr;
    NaturalOrder m_order;
    // Keyed by the extension as written on disk, so "JPG" and "jpg" are two keys.
    // A short list: a linear probe beats hashing a fresh string per file. A
    // std::deque keeps the addresses handed out stable while it grows.
    std::deque<std::pair<QString, std::optional<ImageItem::FileType>>> m_types;
};

} // namespace

FolderScanner::FolderScanner(WorkQueues &shared)
    : m_scans(shared.folderScans())
    , m_counts(shared.folderCounts())
{}

QFuture<FolderNode> FolderScanner::scan(const QUrl &url, bool includeSubfolders)
{
    return QtConcurrent::run(&m_scans, &FolderScanner::scanFolder, url, includeSubfolders);
}

bool FolderScanner::canList(const QUrl &url)
{
    DIR *dir = opendir(LocalFileName::encode(url.toLocalFile()).constData());
    if (!dir)
        return false;
    closedir(dir);
    return true;
}

FolderNode FolderScanner::scanFolder(const QUrl &url, bool includeSubfolders)
{
    QString path = url.toLocalFile();
    if (path.size() > 1)
        path = QDir::cleanPath(path);
    return TreeWalk().scan(path, includeSubfolders);
}

qsizetype FolderScanner::countImages(const QUrl &url, const std::atomic_bool &stop)
{
    QString path = url.toLocalFile();
    if (path.size() > 1)
        path = QDir::cleanPath(path);
    return TreeWalk(&stop).scan(path, true).imageCount();
}
