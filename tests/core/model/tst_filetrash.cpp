#include "FileSystemFixtures.h"
#include "TestFiles.h"
#include "model/FileTrash.h"

#include <QDateTime>
#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using TestFiles::contents;
using TestFiles::touch;

namespace {

// The lines of a .trashinfo after its header, as key -> value.
QMap<QString, QString> readTrashInfo(const QString &path)
{
    QMap<QString, QString> values;
    const QList<QByteArray> lines = contents(path).split('\n');
    if (lines.value(0) != "[Trash Info]")
        return values;
    for (const QByteArray &line : lines.mid(1)) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            values.insert(line.left(equals), line.mid(equals + 1));
    }
    return values;
}

dev_t deviceOf(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_dev : dev_t(-1);
}

bool isEmptyOrAbsent(const QString &folder)
{
    return QDir(folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

// Removes a link or file itself, a folder with what is in it.
void removeMade(const QString &path)
{
    struct stat info;
    const QByteArray bytes = QFile::encodeName(path);
    if (::lstat(bytes.constData(), &info) != 0)
        return;
    if (!S_ISDIR(info.st_mode)) {
        ::unlink(bytes.constData());
        return;
    }
    ::chmod(bytes.constData(), 0700);
    QDir(path).removeRecursively();
}

const QString kUid = QString::number(::getuid());

} // namespace

// FileTrash with a home trash in a temporary XDG_DATA_HOME (read at every call)
// and, where /dev/shm is another writable file system, top-folder trashes there.
class TestFileTrash : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dataHome;
    // XDG_DATA_HOME, made anew by the first trashing of each test.
    QString dataHome() const { return m_dataHome.path() + "/share"; }
    QString homeTrash() const { return dataHome() + "/Trash"; }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dataHome.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome()));
    }
    void cleanup() { removeMade(dataHome()); }

    void trashesIntoTheHomeTrashAndBack_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("encodedName"); // as Path= holds it
        QTest::addColumn<bool>("noRenames");      // a file system without no-replace renames
        QTest::newRow("plain") << "IMG_0001.JPG"
                               << "IMG_0001.JPG" << false;
        QTest::newRow("space") << "IMG 0001.jpg"
                               << "IMG%200001.jpg" << false;
        QTest::newRow("percent") << "100%.jpg"
                                 << "100%25.jpg" << false;
        QTest::newRow("emoji, accent") << "📷 café.jpg"
                                       << "%F0%9F%93%B7%20caf%C3%A9.jpg" << false;
        QTest::newRow("Chinese, in place") << "照片.jpg"
                                           << "%E7%85%A7%E7%89%87.jpg" << true;
    }
    void trashesIntoTheHomeTrashAndBack()
    {
        QFETCH(QString, name);
        QFETCH(QString, encodedName);
        QFETCH(bool, noRenames);
        std::optional<WithoutNoReplaceRenames> fileSystem;
        if (noRenames)
            fileSystem.emplace();
        QTemporaryDir photos;
        const QString file = touch(photos.path(), name, "photo");
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-1000);

        const FileTrash::Trashed trashed = FileTrash::moveToTrash(file);
        QVERIFY2(trashed.ok(), qPrintable(trashed.error));
        QCOMPARE(trashed.entry.originalPath, file);
        QCOMPARE(trashed.entry.trashedPath, homeTrash() + "/files/" + name);
        QCOMPARE(trashed.entry.infoPath, homeTrash() + "/info/" + name + ".trashinfo");
        QVERIFY(!QFileInfo::exists(file));
        QCOMPARE(contents(trashed.entry.trashedPath), "photo");
        const auto info = readTrashInfo(trashed.entry.infoPath);
        QCOMPARE(info.value("Path"), photos.path() + '/' + encodedName); // an ASCII folder
        const QDateTime deleted = QDateTime::fromString(info.value("DeletionDate"), Qt::ISODate);
        QVERIFY2(deleted >= before && deleted <= QDateTime::currentDateTime(),
                 qPrintable(info.value("DeletionDate")));

        QCOMPARE(FileTrash::restore(trashed.entry), QString());
        QCOMPARE(contents(file), "photo");
        QVERIFY(isEmptyOrAbsent(homeTrash() + "/files"));
        QVERIFY(isEmptyOrAbsent(homeTrash() + "/info"));
    }

    void keepsTwoTrashedFilesOfOneName()
    {
        QTemporaryDir photos;
        const QStringList files{touch(photos.path(), "a/IMG.jpg", "a"),
                                touch(photos.path(), "b/IMG.jpg", "b")};
        const FileTrash::Trashed first = FileTrash::moveToTrash(files[0]);
        const FileTrash::Trashed second = FileTrash::moveToTrash(files[1]);
        QVERIFY(first.ok() && second.ok());
        QVERIFY(first.entry.trashedPath != second.entry.trashedPath);
        QVERIFY(first.entry.infoPath != second.entry.infoPath);
        QCOMPARE(contents(first.entry.trashedPath), "a");
        QCOMPARE(contents(second.entry.trashedPath), "b");
        QCOMPARE(readTrashInfo(second.entry.infoPath).value("Path"), files[1]);
        QCOMPARE(FileTrash::restore(second.entry), QString());
        QCOMPARE(FileTrash::restore(first.entry), QString());
        QCOMPARE(contents(files[0]), "a");
        QCOMPARE(contents(files[1]), "b");
    }

    void restoreRefusesATakenNameOrAMissingFile_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<bool>("noRenames");
        QTest::addColumn<QString>("reason");
        QTest::newRow("name taken") << "taken" << false << "原位置已有同名文件";
        QTest::newRow("name taken, in place") << "taken" << true << "原位置已有同名文件";
        QTest::newRow("gone from the trash") << "gone" << false << "废纸篓中已没有此文件";
        QTest::newRow("folder gone") << "no folder" << false << "原来的文件夹已不存在";
    }
    void restoreRefusesATakenNameOrAMissingFile()
    {
        QFETCH(QString, obstacle);
        QFETCH(bool, noRenames);
        QFETCH(QString, reason);
        QTemporaryDir photos;
        const QString file = touch(photos.path(), "IMG.jpg", "photo");
        const FileTrash::Entry entry = FileTrash::moveToTrash(file).entry;
        QVERIFY(entry.isValid());
        const bool nameTaken = obstacle == "taken";
        if (nameTaken)
            touch(photos.path(), "IMG.jpg", "newcomer");
        else if (obstacle == "gone")
            QVERIFY(QFile::remove(entry.trashedPath));
        else
            QVERIFY(photos.remove());
        std::optional<WithoutNoReplaceRenames> fileSystem;
        if (noRenames)
            fileSystem.emplace();

        QCOMPARE(FileTrash::restore(entry), reason);
        QCOMPARE(contents(file), nameTaken ? QByteArray("newcomer") : QByteArray());
        QCOMPARE(contents(entry.trashedPath),
                 obstacle == "gone" ? QByteArray() : QByteArray("photo"));
        QCOMPARE(QFileInfo::exists(entry.infoPath), true);
    }

    // Where no trash can take the file, it stays, and no info file is left.
    void leavesTheFileWhenNoHomeTrashCanTakeIt_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::newRow("Trash is a file") << "file";
        QTest::newRow("read-only files folder") << "read-only";
        QTest::newRow("the rename fails") << "rename";
    }
    void leavesTheFileWhenNoHomeTrashCanTakeIt()
    {
        QFETCH(QString, obstacle);
        QTemporaryDir photos;
        const QString file = touch(photos.path(), "IMG.jpg", "photo");
        PermissionChecksOnThisThread permissions;
        if (obstacle == "file") {
            touch(dataHome(), "Trash");
        } else if (obstacle == "read-only") {
            QVERIFY(permissions.isActive());
            QVERIFY(QDir().mkpath(homeTrash() + "/files") && QDir().mkpath(homeTrash() + "/info"));
            QVERIFY(::chmod(QFile::encodeName(homeTrash() + "/files").constData(), 0500) == 0);
        }
        static constexpr NoReplaceRename::SystemCalls failing{
            [](const char *, const char *) { return errno = EIO, -1; },
            [](const char *, const char *) { return errno = EIO, -1; }};
        NoReplaceRename::setSystemCalls(obstacle == "rename" ? &failing : nullptr);
        const auto restoreCalls = qScopeGuard([] { NoReplaceRename::setSystemCalls(nullptr); });

        const FileTrash::Trashed trashed = FileTrash::moveToTrash(file);
        QVERIFY(!trashed.ok());
        QVERIFY(!trashed.error.isEmpty());
        QCOMPARE(contents(file), "photo");
        QVERIFY(isEmptyOrAbsent(homeTrash() + "/info"));
    }

    // /dev/shm stands for a card or second disk: its own trash in its top
    // folder, never a copy into the home trash.
    void trashesOnAnotherFileSystemIntoItsTopFolder_data()
    {
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<QString>("trash"); // below the top folder; empty: the file stays
        const QString own = ".Trash-" + kUid;
        QTest::newRow("no trash yet") << "" << own;
        QTest::newRow("reached through a link") << "via link" << own;
        QTest::newRow("administrator's .Trash") << "sticky"
                                                << ".Trash/" + kUid;
        QTest::newRow(".Trash without the sticky bit") << "not sticky" << own;
        QTest::newRow(".Trash is a link") << "link" << own;
        QTest::newRow(".Trash is a link, .Trash-uid a file") << "link, file"
                                                             << "";
        QTest::newRow("read-only .Trash-uid") << "read-only"
                                              << "";
    }
    void trashesOnAnotherFileSystemIntoItsTopFolder()
    {
        QFETCH(QString, setUp);
        QFETCH(QString, trash);
        const QString top = "/dev/shm", shared = top + "/.Trash", own = top + "/.Trash-" + kUid;
        if (::access("/dev/shm", W_OK) != 0 || deviceOf(top) == deviceOf(m_dataHome.path()))
            QSKIP("/dev/shm is not a second writable file system here");
        if (QFileInfo(shared).exists() || QFileInfo(own).exists() || QFileInfo(shared).isSymLink())
            QSKIP("/dev/shm already has a trash; it is left alone");
        const auto removeTrashes = qScopeGuard([&] {
            removeMade(shared);
            removeMade(own);
        });
        QTemporaryDir photos(top + "/tst_filetrash-XXXXXX");
        QTemporaryDir linkFolder; // on the home trash's file system
        const QString link = linkFolder.path() + "/card";
        QVERIFY(QFile::link(photos.path(), link));
        touch(photos.path(), "IMG 1.jpg", "photo");
        const QString file = (setUp == "via link" ? link : photos.path()) + "/IMG 1.jpg";
        const QString elsewhere = TestFiles::makeDir(photos.path(), "elsewhere");
        PermissionChecksOnThisThread permissions;
        if (setUp == "sticky" || setUp == "not sticky")
            QVERIFY(::mkdir(QFile::encodeName(shared), setUp == "sticky" ? 01777 : 0777) == 0);
        if (setUp.startsWith("link")) {
            QVERIFY(::chmod(QFile::encodeName(elsewhere), 01777) == 0);
            QVERIFY(QFile::link(elsewhere, shared));
        }
        if (setUp.endsWith("file"))
            touch(top, ".Trash-" + kUid);
        if (setUp == "read-only") {
            QVERIFY(permissions.isActive());
            QVERIFY(::mkdir(QFile::encodeName(own), 0500) == 0);
        }

        const FileTrash::Trashed trashed = FileTrash::moveToTrash(file);
        QVERIFY(isEmptyOrAbsent(homeTrash() + "/files"));
        QVERIFY(isEmptyOrAbsent(elsewhere));
        if (trash.isEmpty()) {
            QVERIFY(!trashed.ok() && !trashed.error.isEmpty());
            QCOMPARE(contents(file), "photo");
            return;
        }
        QVERIFY2(trashed.ok(), qPrintable(trashed.error));
        QCOMPARE(trashed.entry.trashedPath, top + '/' + trash + "/files/IMG 1.jpg");
        QCOMPARE(readTrashInfo(trashed.entry.infoPath).value("Path"),
                 QFileInfo(photos.path()).fileName() + "/IMG%201.jpg");
        QCOMPARE(FileTrash::restore(trashed.entry), QString());
        QCOMPARE(contents(file), "photo");
    }
};

QTEST_GUILESS_MAIN(TestFileTrash)
#include "tst_filetrash.moc"
