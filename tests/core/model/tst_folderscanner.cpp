#include "TestFiles.h"
#include "model/BackgroundTask.h"
#include "model/FolderScanner.h"
#include "model/LocalFileName.h"
#include "model/NaturalOrder.h"
#include "model/WorkQueues.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <new>
#include <unistd.h>

using TestFiles::makeDir;
using TestFiles::touch;

namespace {

QStringList names(const QList<ImageItem> &images)
{
    QStringList out;
    for (const ImageItem &item : images)
        out << item.filename();
    out.sort();
    return out;
}

QStringList childNames(const FolderNode &node)
{
    QStringList out;
    for (const FolderNode &child : node.children)
        out << child.name;
    return out;
}

FolderNode scan(const QString &path, bool includeSubfolders)
{
    return FolderScanner::scanFolder(QUrl::fromLocalFile(path), includeSubfolders);
}

} // namespace

class TestFolderScanner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(m_dir.isValid()); }
    void cleanup()
    {
        QVERIFY(QDir(m_dir.path()).removeRecursively());
        m_dir = QTemporaryDir();
    }

    void directImagesOnlyWithoutSubfolders();
    void sidecarsAreNeverImages();
    void hiddenEntriesAreNeverListed();
    void emptySubtreesArePruned();
    void subfoldersInNaturalOrder();
    void symbolicLinksAreNotFollowed();
    void missingOrNonFolderPathsGiveAnEmptyRoot_data();
    void missingOrNonFolderPathsGiveAnEmptyRoot();
    void unreadableSubfolderIsLeftOut();
    void rescansGiveFreshIdentities();
    void unusualNamesSurvive();
    void namesEncodeBackToTheirBytes_data();
    void namesEncodeBackToTheirBytes();
    void scanRunsOffTheCallingThread();
    void listabilityAndTheRootsName();
    void treeEditing();
    void naturalOrderOfFileNames();

private:
    QTemporaryDir m_dir;
};

void TestFolderScanner::directImagesOnlyWithoutSubfolders()
{
    const QString root = m_dir.path();
    touch(root, "a.jpg");
    touch(root, "b.CR3");
    touch(root, "notes.txt");
    touch(root, "README");
    touch(root, "sub/c.png");

    const FolderNode node = scan(root, false);
    QCOMPARE(names(node.images), (QStringList{"a.jpg", "b.CR3"}));
    QVERIFY(node.children.isEmpty());
    QCOMPARE(node.imageCount(), 2);
    QCOMPARE(node.name, QFileInfo(root).fileName());
    QCOMPARE(node.url, QUrl::fromLocalFile(root));
}

void TestFolderScanner::sidecarsAreNeverImages()
{
    const QString root = m_dir.path();
    touch(root, "a.jpg");
    touch(root, "a.jpg.xmp");
    touch(root, "a.xmp");
    touch(root, "B.CR3.XMP");
    touch(root, "sub/c.png");
    touch(root, "sub/c.png.xmp");
    touch(root, "only-sidecars/d.jpg.xmp");

    const FolderNode node = scan(root, true);
    QCOMPARE(names(node.images), QStringList{"a.jpg"});
    QStringList sidecars = node.sidecars;
    sidecars.sort();
    QCOMPARE(sidecars, (QStringList{root + "/B.CR3.XMP", root + "/a.jpg.xmp", root + "/a.xmp"}));
    // A folder holding only sidecars holds no image.
    QCOMPARE(node.children.size(), 1);
    QCOMPARE(names(node.children.first().images), QStringList{"c.png"});
    QCOMPARE(node.children.first().sidecars, QStringList{root + "/sub/c.png.xmp"});
}

void TestFolderScanner::hiddenEntriesAreNeverListed()
{
    const QString root = m_dir.path();
    touch(root, ".hidden.jpg");
    touch(root, ".cache/in-hidden-folder.jpg");
    touch(root, "visible/.also-hidden.png");
    touch(root, "visible/shown.png");

    const FolderNode node = scan(root, true);
    QVERIFY(node.images.isEmpty());
    QCOMPARE(childNames(node), QStringList{"visible"});
    QCOMPARE(names(node.children[0].images), QStringList{"shown.png"});
    QCOMPARE(node.imageCount(), 1);
}

void TestFolderScanner::emptySubtreesArePruned()
{
    const QString root = m_dir.path();
    makeDir(root, "empty");
    makeDir(root, "deep/empty/too");
    touch(root, "only-text/readme.txt");
    touch(root, "parent/child/grandchild.heic");

    const FolderNode node = scan(root, true);
    QCOMPARE(childNames(node), QStringList{"parent"});
    const FolderNode &parent = node.children[0];
    QVERIFY(parent.images.isEmpty());
    QCOMPARE(parent.imageCount(), 1);
    QCOMPARE(childNames(parent), QStringList{"child"});
    QCOMPARE(names(parent.children[0].images), QStringList{"grandchild.heic"});

    // Only an empty sub-folder: an empty root, still returned.
    QTemporaryDir other;
    makeDir(other.path(), "nothing");
    const FolderNode empty = scan(other.path(), true);
    QVERIFY(empty.children.isEmpty());
    QVERIFY(empty.images.isEmpty());
    QCOMPARE(empty.imageCount(), 0);
}

void TestFolderScanner::subfoldersInNaturalOrder()
{
    const QString root = m_dir.path();
    for (const char *name : {"day10", "day9", "day1", "Day2", "IMG_100", "IMG_20"})
        touch(root, QString::fromLatin1(name) + "/x.jpg");
    const FolderNode node = scan(root, true);
    QCOMPARE(childNames(node), (QStringList{"day1", "Day2", "day9", "day10", "IMG_20", "IMG_100"}));
}

void TestFolderScanner::symbolicLinksAreNotFollowed()
{
    const QString root = m_dir.path();
    touch(root, "real/photo.jpg");
    QVERIFY(QFile::link(root + "/real", root + "/real/loop"));          // a cycle
    QVERIFY(QFile::link(root + "/real/photo.jpg", root + "/link.jpg")); // a link to an image

    const FolderNode node = scan(root, true);
    QVERIFY(node.images.isEmpty());
    QCOMPARE(childNames(node), QStringList{"real"});
    QVERIFY(node.children[0].children.isEmpty());
    QCOMPARE(node.imageCount(), 1);
}

void TestFolderScanner::missingOrNonFolderPathsGiveAnEmptyRoot_data()
{
    QTest::addColumn<QString>("relative");
    QTest::newRow("missing") << "does-not-exist";
    QTest::newRow("a file") << "file.jpg";
}

void TestFolderScanner::missingOrNonFolderPathsGiveAnEmptyRoot()
{
    QFETCH(QString, relative);
    touch(m_dir.path(), "file.jpg");
    const FolderNode node = scan(m_dir.path() + "/" + relative, true);
    QCOMPARE(node.name, relative);
    QVERIFY(node.images.isEmpty());
    QVERIFY(node.children.isEmpty());
    QVERIFY(!node.id.isNull());
}

void TestFolderScanner::unreadableSubfolderIsLeftOut()
{
    if (geteuid() == 0)
        QSKIP("Running as root: permissions do not stop reading a folder");
    const QString root = m_dir.path();
    touch(root, "open/a.jpg");
    touch(root, "locked/b.jpg");
    QFile::setPermissions(root + "/locked", QFileDevice::Permissions());
    const FolderNode node = scan(root, true);
    QFile::setPermissions(root + "/locked",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(childNames(node), QStringList{"open"});
}

void TestFolderScanner::rescansGiveFreshIdentities()
{
    touch(m_dir.path(), "sub/a.jpg");
    const FolderNode first = scan(m_dir.path(), true);
    const FolderNode second = scan(m_dir.path(), true);
    QVERIFY(first != second);
    QVERIFY(first.children[0] != second.children[0]);
    QVERIFY(first.children[0].images[0] != second.children[0].images[0]);
    QCOMPARE(first.children[0].images[0].path(), second.children[0].images[0].path());
}

void TestFolderScanner::unusualNamesSurvive()
{
    const QString root = m_dir.path();
    const QString folder = QStringLiteral("2024 旅行 \"quoted\"");
    const QString file = QStringLiteral("-leading dash 照片.jpg");
    touch(root, folder + "/" + file);
    const FolderNode node = scan(root, true);
    QCOMPARE(childNames(node), QStringList{folder});
    const ImageItem &item = node.children[0].images[0];
    QCOMPARE(item.filename(), file);
    QCOMPARE(item.path(), root + "/" + folder + "/" + file);
    QVERIFY(QFileInfo::exists(item.path()));
}

void TestFolderScanner::namesEncodeBackToTheirBytes_data()
{
    QTest::addColumn<QByteArray>("name");
    // Characters of every plane, chiefly those whose second UTF-16 unit lies
    // in U+DC80..U+DCFF, where a lone unit stands for a raw byte.
    for (const char32_t c : {U'\u00e9', U'\u4e2d', U'\ufffd', U'\ue000', U'\U0001f480',
                             U'\U0001f4f7', U'\U0001f4c1', U'\U0001f4ff', U'\U00020089'}) {
        QTest::addRow("U+%X", uint(c)) << QString::fromUcs4(&c, 1).toUtf8();
    }
    for (char32_t plane = 1; plane <= 16; ++plane) {
        for (const char32_t low : {0x000, 0x080, 0x0ff, 0x3ff}) {
            const char32_t c = plane << 16 | low;
            QTest::addRow("U+%X", uint(c)) << QString::fromUcs4(&c, 1).toUtf8();
        }
    }
    // Not UTF-8: an encoded surrogate, a cut emoji, an overlong slash.
    QTest::newRow("surrogate") << QByteArray("\xed\xb2\x80");
    QTest::newRow("cut emoji") << QByteArray("\xf0\x9f\x92");
    QTest::newRow("overlong") << QByteArray("\xc0\xaf");
}

void TestFolderScanner::namesEncodeBackToTheirBytes()
{
    QFETCH(QByteArray, name);
    const auto roundTrips = [](const QByteArray &bytes) {
        return LocalFileName::encode(LocalFileName::decode(bytes)) == bytes;
    };
    QVERIFY(roundTrips(name));
    QVERIFY(roundTrips("IMG " + name + " x.jpg"));
    for (int byte = 0x80; byte <= 0xff; ++byte) {
        const QByteArray lone(1, char(byte));
        QVERIFY2(roundTrips(lone + name + lone), lone.toHex().constData());
        QVERIFY2(roundTrips(name + lone + name + lone + lone), lone.toHex().constData());
    }
}

void TestFolderScanner::scanRunsOffTheCallingThread()
{
    touch(m_dir.path(), "a.jpg");
    WorkQueues queues;
    FolderScanner scanner(queues);
    QFuture<FolderNode> first = scanner.scan(QUrl::fromLocalFile(m_dir.path()), true);
    QFuture<FolderNode> second = scanner.scan(QUrl::fromLocalFile(m_dir.path()), false);
    QCOMPARE(first.result().imageCount(), 1);
    QCOMPARE(second.result().imageCount(), 1);

    // A job that throws still hands back: its caller's failure path runs.
    QObject context;
    int applied = 0;
    int failed = 0;
    QFuture<void> done = BackgroundTask::run(
        &scanner.executor(), &context, []() -> FolderNode { throw std::bad_alloc(); },
        [&](const FolderNode &) { ++applied; }, [&] { ++failed; });
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(applied, 0);
    QCOMPARE(failed, 1);
}

void TestFolderScanner::listabilityAndTheRootsName()
{
    QVERIFY(FolderScanner::canList(QUrl::fromLocalFile(m_dir.path())));
    QVERIFY(!FolderScanner::canList(QUrl::fromLocalFile(m_dir.path() + "/missing")));
    QVERIFY(!FolderScanner::canList(QUrl::fromLocalFile(touch(m_dir.path(), "file.jpg"))));
    QCOMPARE(scan("/", false).name, QStringLiteral("/"));
    QCOMPARE(scan(m_dir.path() + "/", false).name, QFileInfo(m_dir.path()).fileName());
}

void TestFolderScanner::treeEditing()
{
    const QString root = m_dir.path();
    touch(root, "a/1.jpg");
    touch(root, "a/deeper/2.jpg");
    touch(root, "b/3.jpg");
    touch(root, "0.jpg");
    const FolderNode tree = scan(root, true);
    QCOMPARE(names(tree.allImages()), (QStringList{"0.jpg", "1.jpg", "2.jpg", "3.jpg"}));

    touch(root, "a/deeper/4.jpg");
    const FolderNode &deeper = tree.children[0].children[0];
    const FolderNode fresh = scan(deeper.path(), true);
    const FolderNode edited = tree.replacingNode(deeper.id, fresh);
    QCOMPARE(edited.id, tree.id);
    QCOMPARE(edited.children[0].id, tree.children[0].id);
    QCOMPARE(edited.children[1].id, tree.children[1].id);
    QCOMPARE(edited.children[0].children[0].id, fresh.id);
    QCOMPARE(edited.imageCount(), 5);
    QCOMPARE(edited.find(fresh.id), &edited.children[0].children[0]);

    const FolderNode untouched = tree.replacingNode(QUuid::createUuid(), fresh);
    QCOMPARE(untouched.imageCount(), tree.imageCount());
    QCOMPARE(untouched.find(deeper.id)->id, deeper.id);
}

void TestFolderScanner::naturalOrderOfFileNames()
{
    QList<ImageItem> images;
    for (const char *name : {"IMG_10.JPG", "img_2.jpg", "IMG_1.JPG", "b.png", "a.png"})
        images << ImageItem(QStringLiteral("/x/") + QLatin1String(name));
    const ImageItem firstTwin(QStringLiteral("/x/twin.jpg"));
    const ImageItem secondTwin(QStringLiteral("/y/twin.jpg"));
    images << firstTwin << secondTwin;

    NaturalOrder().sortByFilename(images);
    QStringList sorted;
    for (const ImageItem &item : images)
        sorted << item.filename();
    QCOMPARE(sorted, (QStringList{"a.png", "b.png", "IMG_1.JPG", "img_2.jpg", "IMG_10.JPG",
                                  "twin.jpg", "twin.jpg"}));
    // Stable: equal names keep their collected order.
    QCOMPARE(images[5], firstTwin);
    QCOMPARE(images[6], secondTwin);
}

QTEST_GUILESS_MAIN(TestFolderScanner)
#include "tst_folderscanner.moc"
