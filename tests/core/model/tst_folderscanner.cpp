#include "FileSystemFixtures.h"
#include "TestFiles.h"
#include "model/BackgroundTask.h"
#include "model/FolderScanner.h"
#include "model/LocalFileName.h"
#include "model/SupportedFormats.h"
#include "model/WorkQueues.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <new>

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
    void initTestCase()
    {
        const QString root = m_tree.path();
        const QString files = QStringLiteral(
            "a.jpg b.CR3 notes.txt README a.jpg.xmp a.xmp B.CR3.XMP .hidden.jpg sub/c.png "
            "sub/c.png.xmp only-sidecars/d.jpg.xmp .cache/in-hidden-folder.jpg "
            "visible/.also-hidden.png visible/shown.png only-text/readme.txt "
            "parent/child/grandchild.heic real/photo.jpg day10/x.jpg day9/x.jpg Day2/x.jpg "
            "IMG_100/x.jpg IMG_20/x.jpg");
        for (const QString &file : files.split(' '))
            touch(root, file);
        touch(root, QStringLiteral("sub/2024 旅行 \"quoted\"/-leading dash 照片.jpg"));
        makeDir(root, "empty");
        makeDir(root, "deep/empty/too");
        QVERIFY(QFile::link(root + "/real", root + "/real/loop"));          // a cycle
        QVERIFY(QFile::link(root + "/real/photo.jpg", root + "/link.jpg")); // a link to an image
    }
    void init() { QVERIFY((m_dir = QTemporaryDir()).isValid()); }
    void treeShape_data()
    {
        // "folder|images|children|sidecars|image count". No hidden entry, no link, no folder
        // without an image below; sidecars are never images; sub-folders in natural order.
        QTest::addColumn<QString>("row");
        QTest::newRow("root") << "|a.jpg,b.CR3|Day2,day9,day10,IMG_20,IMG_100,parent,real,sub,"
                                 "visible|B.CR3.XMP,a.jpg.xmp,a.xmp|12";
        QTest::newRow("only below") << "parent||child||1";
        QTest::newRow("deepest") << "parent/child|grandchild.heic|||1";
        QTest::newRow("cycle") << "real|photo.jpg|||1";
        QTest::newRow("sidecar below") << "sub|c.png|2024 旅行 \"quoted\"|c.png.xmp|2";
        QTest::newRow("unusual names") << "sub/2024 旅行 \"quoted\"|-leading dash 照片.jpg|||1";
    }
    void treeShape()
    {
        QFETCH(QString, row);
        const QStringList parts = row.split('|');
        const auto list = [&](int i) { return parts[i].split(',', Qt::SkipEmptyParts); };
        const QString folder = parts[0];
        const FolderNode tree = scan(m_tree.path(), true);
        const FolderNode *node = &tree;
        for (const QString &name : folder.split('/', Qt::SkipEmptyParts)) {
            const auto child = std::find_if(node->children.cbegin(), node->children.cend(),
                                            [&](const FolderNode &c) { return c.name == name; });
            QVERIFY2(child != node->children.cend(), qPrintable(name));
            node = &*child;
        }
        const QString path = folder.isEmpty() ? m_tree.path() : m_tree.path() + "/" + folder;
        QCOMPARE(node->url, QUrl::fromLocalFile(path));
        QCOMPARE(names(node->images), list(1));
        QCOMPARE(childNames(*node), list(2));
        QStringList sidecars = node->sidecars; // full paths
        sidecars.replaceInStrings(path + "/", QString());
        sidecars.sort();
        QCOMPARE(sidecars, list(3));
        QCOMPARE(node->imageCount(), parts[4].toLongLong());
    }
    void rootsOfOddPathsAndTheFlatScan()
    {
        touch(m_dir.path(), "file.jpg");
        makeDir(m_dir.path(), "bare/nothing");
        for (const QString relative : {"does-not-exist", "file.jpg", "bare"}) {
            const FolderNode node = scan(m_dir.path() + "/" + relative, true);
            QCOMPARE(node.name, relative);
            QVERIFY(node.images.isEmpty() && node.children.isEmpty() && !node.id.isNull());
        }
        const auto canList = [&](const char *relative) {
            return FolderScanner::canList(QUrl::fromLocalFile(m_dir.path() + "/" + relative));
        };
        QVERIFY(canList("") && canList("bare") && !canList("does-not-exist") &&
                !canList("file.jpg"));
        QCOMPARE(scan("/", false).name, QStringLiteral("/"));
        QCOMPARE(scan(m_dir.path() + "/", false).name, QFileInfo(m_dir.path()).fileName());
        // Without sub-folders: the folder's own images alone.
        const FolderNode flat = scan(m_tree.path(), false);
        QCOMPARE(names(flat.images), (QStringList{"a.jpg", "b.CR3"}));
        QVERIFY(flat.children.isEmpty());
    }
    void unreadableSubfolderIsLeftOut()
    {
        touch(m_dir.path(), "open/a.jpg");
        touch(m_dir.path(), "locked/b.jpg");
        QFile::setPermissions(m_dir.path() + "/locked", QFileDevice::Permissions());
        auto asAUser = std::make_optional<PermissionChecksOnThisThread>();
        if (!asAUser->isActive())
            QSKIP("Cannot set root's permission overrides aside: the locked folder is readable");
        const FolderNode node = scan(m_dir.path(), true);
        asAUser.reset();
        QFile::setPermissions(m_dir.path() + "/locked", QFileDevice::ReadOwner |
                                                            QFileDevice::WriteOwner |
                                                            QFileDevice::ExeOwner);
        QCOMPARE(childNames(node), QStringList{"open"});
    }
    void namesEncodeBackToTheirBytes_data()
    {
        QTest::addColumn<QByteArray>("name");
        // Chiefly characters whose low surrogate lies in U+DC80..U+DCFF (as raw bytes do).
        for (const char32_t c : {U'\u00e9', U'\u4e2d', U'\ufffd', U'\ue000', U'\U0001f480'})
            QTest::addRow("U+%X", uint(c)) << QString::fromUcs4(&c, 1).toUtf8();
        for (char32_t plane = 1; plane <= 16; ++plane)
            for (const char32_t low : {0x000, 0x080, 0x0ff, 0x3ff}) {
                const char32_t c = plane << 16 | low;
                QTest::addRow("U+%X", uint(c)) << QString::fromUcs4(&c, 1).toUtf8();
            }
        // Not UTF-8: an encoded surrogate, a cut emoji, an overlong slash.
        QTest::newRow("surrogate") << QByteArray("\xed\xb2\x80");
        QTest::newRow("cut emoji") << QByteArray("\xf0\x9f\x92");
        QTest::newRow("overlong") << QByteArray("\xc0\xaf");
    }
    void namesEncodeBackToTheirBytes()
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
    void aThrowingJobStillHandsBack()
    {
        WorkQueues queues;
        FolderScanner scanner(queues);
        QObject context;
        int applied = 0, failed = 0;
        QFuture<void> done = BackgroundTask::run(
            &scanner.executor(), &context, []() -> FolderNode { throw std::bad_alloc(); },
            [&](const FolderNode &) { ++applied; }, [&] { ++failed; });
        QTRY_VERIFY(done.isFinished());
        QCOMPARE(QList({applied, failed}), QList({0, 1}));
    }
    void treeEditing()
    {
        const FolderNode tree = scan(m_tree.path(), true);
        const FolderNode &parent = tree.children[5];
        QCOMPARE(tree.allImages().size(), 12);
        QCOMPARE(names(parent.allImages()), QStringList{"grandchild.heic"});
        const FolderNode fresh = scan(m_tree.path() + "/sub", true); // two images
        const FolderNode edited = tree.replacingNode(parent.children[0].id, fresh);
        QCOMPARE(QList({edited.id, edited.children[5].id, edited.children[6].id,
                        edited.children[5].children[0].id}),
                 QList({tree.id, parent.id, tree.children[6].id, fresh.id}));
        QCOMPARE(edited.imageCount(), 13);
        QCOMPARE(edited.find(fresh.id), &edited.children[5].children[0]);
        const FolderNode untouched = tree.replacingNode(QUuid::createUuid(), fresh);
        QCOMPARE(untouched.imageCount(), tree.imageCount());
        QCOMPARE(untouched.find(parent.id)->id, parent.id);
    }
    void fieldsFromFileName_data()
    {
        // "name extension label category"; RAW exactly when the category is.
        QTest::addColumn<QString>("row");
        for (const char *row :
             {"PHOTO.JPEG jpeg JPG jpeg", "a.Tif tif TIFF tiff", "x.HEIF heif HEIC heic",
              "DSC00001.HIF hif HIF heic", "b.bmp bmp BMP other", "IMG_1.DNG dng DNG raw",
              "h.3fr 3fr 3FR raw", "p.avif avif AVIF other", "anim.gif gif GIF gif",
              "s.png png PNG png", "trip.2024.jpg jpg JPG jpeg"})
            QTest::newRow(row) << QString::fromUtf8(row);
    }
    void fieldsFromFileName()
    {
        QFETCH(QString, row);
        const QStringList parts = row.split(' ');
        const auto category = ImageItem::FormatCategory(
            QStringList{"raw", "jpeg", "png", "heic", "gif", "tiff", "other"}.indexOf(parts[3]));
        const ImageItem item(QStringLiteral("/photos/2024 旅行/") + parts[0]);
        QCOMPARE(QStringList({item.filename(), item.fileExtension(), item.formatLabel()}),
                 parts.mid(0, 3));
        QCOMPARE(item.formatCategory(), category);
        QCOMPARE(item.isRAW(), category == ImageItem::FormatCategory::raw);
        QCOMPARE(item.url().toLocalFile(), item.path());
    }
    void supportedFileTest()
    {
        // Raw families in any case, and whatever the platform types as an image.
        for (const char *name : {"a.jpg", "a.CR3", "a.srw", "logo.svg", "a.avif", "IMG_0001.HIF"})
            QVERIFY2(SupportedFormats::isSupportedFile(QString::fromUtf8(name)), name);
        for (const char *name : {"notes.txt", "README", "photo.", "star-ratings.json", "clip.mp4"})
            QVERIFY2(!SupportedFormats::isSupportedFile(QString::fromUtf8(name)), name);
    }
    // Items of one file are told apart by their ids alone, new for each item.
    void identityIsTheIdAlone()
    {
        const ImageItem first(QStringLiteral("/tmp/same.jpg"));
        const ImageItem second(first.path());
        const ImageItem copy = first;
        QVERIFY(first != second && !(first == second));
        QCOMPARE(copy, first);
        QCOMPARE(QSet<ImageItem>({first, second, copy}).size(), 2);
    }

private:
    QTemporaryDir m_tree; // the fixture of treeShape, built once
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestFolderScanner)
#include "tst_folderscanner.moc"
