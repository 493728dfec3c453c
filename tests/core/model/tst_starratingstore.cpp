#include "FileSystemFixtures.h"
#include "TestFiles.h"
#include "model/StarRatingStore.h"
#include "model/VanishedFiles.h"
#include "model/WorkQueues.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/stat.h>

using TestFiles::touch;

class TestStarRatingStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void setThenClearLeavesAnEmptyObject();
    void ratingsAreClamped();
    void changeSignalOnlyOnRealChange();
    void plainTextKeysSurviveARestart();
    void cleanupDropsDeletedFilesAtAnyDepth();
    void cleanupUsesTheFolderPrefixWithSlash();
    void cleanupWithoutChangesDoesNotWrite();
    void onlyCertainlyGoneFilesCountAsVanished();
    void removingManyRatingsIsOneChange();
    void damagedFileIsKeptAsideBeforeTheFirstSave_data();
    void damagedFileIsKeptAsideBeforeTheFirstSave();
    void damagedCopiesAreNeverOverwritten();
    void unusableFileKeepsChangesPendingAndSaysSoOnce_data();
    void unusableFileKeepsChangesPendingAndSaysSoOnce();
    void urlAndPathKeysAgree();
    void saveMergesChangesOfAnotherStore();
    void twoProcessesKeepEachOthersRatings();
    void defaultLocation();

private:
    QString storeFile() const
    {
        return m_dir.path() + QStringLiteral("/data/Kelvane/star-ratings.json");
    }
    QJsonObject storedObject() const
    {
        QFile file(storeFile());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll()).object();
    }

    QTemporaryDir m_dir;
    std::unique_ptr<WorkQueues> m_queues;
};

void TestStarRatingStore::init()
{
    m_queues = std::make_unique<WorkQueues>();
    m_dir = QTemporaryDir();
    QVERIFY(m_dir.isValid());
}

void TestStarRatingStore::setThenClearLeavesAnEmptyObject()
{
    StarRatingStore store(storeFile(), *m_queues);
    const QString photo = m_dir.path() + "/a.jpg";
    store.setRating(3, photo);
    QCOMPARE(store.rating(photo), 3);
    store.waitForSaved();
    QCOMPARE(storedObject().value(photo).toInt(), 3);
    store.setRating(0, photo);
    QCOMPARE(store.rating(photo), 0);
    store.waitForSaved();
    QFile file(storeFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("{}"));
}

void TestStarRatingStore::ratingsAreClamped()
{
    StarRatingStore store(storeFile(), *m_queues);
    store.setRating(7, QStringLiteral("/p/high.jpg"));
    store.setRating(-2, QStringLiteral("/p/low.jpg"));
    QCOMPARE(store.rating(QStringLiteral("/p/high.jpg")), 5);
    QCOMPARE(store.rating(QStringLiteral("/p/low.jpg")), 1);
    store.waitForSaved();
    QCOMPARE(StarRatingStore(storeFile(), *m_queues).rating(QStringLiteral("/p/high.jpg")), 5);
}

void TestStarRatingStore::changeSignalOnlyOnRealChange()
{
    StarRatingStore store(storeFile(), *m_queues);
    QSignalSpy changed(&store, &StarRatingStore::ratingChanged);
    store.setRating(4, QStringLiteral("/p/a.jpg"));
    store.setRating(4, QStringLiteral("/p/a.jpg"));
    store.setRating(9, QStringLiteral("/p/b.jpg"));
    store.setRating(5, QStringLiteral("/p/b.jpg")); // clamped 9 is already 5
    store.setRating(0, QStringLiteral("/p/never-rated.jpg"));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed.at(0), (QVariantList{QStringLiteral("/p/a.jpg"), 0, 4}));
    QCOMPARE(changed.at(1), (QVariantList{QStringLiteral("/p/b.jpg"), 0, 5}));
}

void TestStarRatingStore::plainTextKeysSurviveARestart()
{
    const QString photo = m_dir.path() + QStringLiteral("/2024 旅行/\"夜景\" -1.jpg");
    {
        StarRatingStore store(storeFile(), *m_queues);
        store.setRating(2, photo);
    }
    QFile file(storeFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.contains(QStringLiteral("2024 旅行").toUtf8()));
    QVERIFY(!bytes.contains("%20"));

    StarRatingStore reloaded(storeFile(), *m_queues);
    QCOMPARE(reloaded.rating(photo), 2);
    QCOMPARE(reloaded.rating(QUrl::fromLocalFile(photo)), 2);

    // The file is what Qt's JSON writer makes of the table, whatever the names.
    const QStringList odd = {QStringLiteral("/p/💀 skull.jpg"),
                             QStringLiteral("/p/tab\tand\\\"q\".jpg"),
                             QStringLiteral("/p/caf") + QChar(0xDCE9) + QStringLiteral(".jpg"),
                             QStringLiteral("/p/z\u007f\u2028.jpg")};
    QJsonObject expected{{photo, 2}};
    for (const QString &path : odd) {
        reloaded.setRating(3, path);
        expected.insert(path, 3);
    }
    reloaded.waitForSaved();
    QFile rewritten(storeFile());
    QVERIFY(rewritten.open(QIODevice::ReadOnly));
    QCOMPARE(rewritten.readAll(), QJsonDocument(expected).toJson(QJsonDocument::Compact));
}

void TestStarRatingStore::cleanupDropsDeletedFilesAtAnyDepth()
{
    const QString root = m_dir.path() + "/photos";
    const QString kept = touch(root, "kept.jpg");
    const QString gone = touch(root, "gone.jpg");
    const QString goneDeep = touch(root, "a/b/c/gone.nef");
    touch(root, "a/b/c/other.nef");
    const QString reRated = touch(root, "again.jpg");
    const QString elsewhere = touch(m_dir.path(), "elsewhere/gone.jpg");

    StarRatingStore store(storeFile(), *m_queues);
    for (const QString &path : {kept, gone, goneDeep, reRated, elsewhere})
        store.setRating(4, path);
    for (const QString &path : {gone, goneDeep, reRated, elsewhere})
        QVERIFY(QFile::remove(path));

    QSignalSpy removed(&store, &StarRatingStore::ratingsRemoved);
    QFuture<void> done = store.cleanupStaleEntries(root);
    // The checks run elsewhere; a rating given before they report is kept.
    store.setRating(2, reRated);
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(store.rating(kept), 4);
    QCOMPARE(store.rating(gone), 0);
    QCOMPARE(store.rating(goneDeep), 0);
    QCOMPARE(store.rating(reRated), 2);
    QCOMPARE(store.rating(elsewhere), 4);
    QCOMPARE(removed.count(), 1);
    store.waitForSaved();
    QCOMPARE(StarRatingStore(storeFile(), *m_queues).count(), 3);
}

void TestStarRatingStore::cleanupUsesTheFolderPrefixWithSlash()
{
    StarRatingStore store(storeFile(), *m_queues);
    touch(m_dir.path(), "a/bc/y.jpg");
    const QString sibling = m_dir.path() + "/a/bc/x.jpg"; // never existed
    store.setRating(3, sibling);
    QFuture<void> done = store.cleanupStaleEntries(m_dir.path() + "/a/b");
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(store.rating(sibling), 3);
    done = store.cleanupStaleEntries(m_dir.path() + "/a/bc/");
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(store.rating(sibling), 0);
}

void TestStarRatingStore::cleanupWithoutChangesDoesNotWrite()
{
    const QString photo = touch(m_dir.path(), "p.jpg");
    StarRatingStore store(storeFile(), *m_queues);
    store.setRating(2, photo);
    store.waitForSaved();
    QVERIFY(QFile::remove(storeFile()));
    QSignalSpy removed(&store, &StarRatingStore::ratingsRemoved);
    QFuture<void> done = store.cleanupStaleEntries(m_dir.path());
    QTRY_VERIFY(done.isFinished());
    store.waitForSaved();
    QVERIFY(!QFileInfo::exists(storeFile()));
    QCOMPARE(removed.count(), 0);
}

void TestStarRatingStore::onlyCertainlyGoneFilesCountAsVanished()
{
    const QString root = m_dir.path();
    const QString deleted = touch(root, "open/deleted.jpg");
    const QString present = touch(root, "open/present.jpg");
    const QString locked = touch(root, "locked/hidden.jpg");
    const QString unmounted = root + "/card/DCIM/x.jpg"; // its folder is not there
    // An offline mount point is an empty folder; a mounted one may hold another disk.
    const QString offline = touch(root, "mnt/a.jpg");
    QVERIFY(QFile::remove(offline));
    const QString mountPoint = QStringLiteral("/proc/kelvane-never-there.jpg");
    const QString tooLong = root + "/open/" + QString(300, QLatin1Char('n')) + ".jpg";
    QVERIFY(QFile::remove(deleted));
    const QByteArray lockedFolder = QFile::encodeName(root + "/locked");
    QVERIFY(::chmod(lockedFolder.constData(), 0) == 0);
    QStringList vanished;
    bool checked = false;
    {
        const PermissionChecksOnThisThread asAUser;
        checked = asAUser.isActive();
        vanished = VanishedFiles::among(
            {deleted, present, locked, unmounted, offline, mountPoint, tooLong});
    }
    QVERIFY(::chmod(lockedFolder.constData(), 0755) == 0);
    if (!checked)
        QSKIP("Cannot set root's permission overrides aside: the locked folder is readable");
    QCOMPARE(vanished, QStringList{deleted});
}

void TestStarRatingStore::removingManyRatingsIsOneChange()
{
    StarRatingStore store(storeFile(), *m_queues);
    const QStringList paths = {m_dir.path() + "/a.jpg", m_dir.path() + "/b.jpg"};
    store.setRating(3, paths[0]);
    store.setRating(5, paths[1]);
    store.setRating(1, m_dir.path() + "/c.jpg");
    QSignalSpy removed(&store, &StarRatingStore::ratingsRemoved);
    QSignalSpy changed(&store, &StarRatingStore::ratingChanged);
    store.removeRatings(paths + QStringList{m_dir.path() + "/never-rated.jpg"});
    store.removeRatings({m_dir.path() + "/never-rated.jpg"});
    QCOMPARE(removed.count(), 1);
    QCOMPARE(changed.count(), 0);
    store.waitForSaved();
    QCOMPARE(storedObject().keys(), QStringList{m_dir.path() + "/c.jpg"});
}

void TestStarRatingStore::damagedFileIsKeptAsideBeforeTheFirstSave_data()
{
    QTest::addColumn<QByteArray>("damaged");
    QTest::newRow("truncated") << QByteArray(R"({"/p/a.jpg": 3, "/p/b.j)");
    QTest::newRow("array") << QByteArray("[1,2,3]");
    QTest::newRow("text value") << QByteArray(R"({"/p/a.jpg":"three"})");
    QTest::newRow("fractional value") << QByteArray(R"({"/p/a.jpg":2.5})");
}

void TestStarRatingStore::damagedFileIsKeptAsideBeforeTheFirstSave()
{
    QFETCH(QByteArray, damaged);
    touch(QFileInfo(storeFile()).absolutePath(), "star-ratings.json", damaged);

    StarRatingStore store(storeFile(), *m_queues);
    QCOMPARE(store.count(), 0);
    // Reading alone keeps the file as it is.
    QFile untouched(storeFile());
    QVERIFY(untouched.open(QIODevice::ReadOnly));
    QCOMPARE(untouched.readAll(), damaged);
    untouched.close();

    store.setRating(5, QStringLiteral("/p/new.jpg"));
    store.waitForSaved();
    QFile aside(storeFile() + ".damaged");
    QVERIFY(aside.open(QIODevice::ReadOnly));
    QCOMPARE(aside.readAll(), damaged);
    QCOMPARE(storedObject().value("/p/new.jpg").toInt(), 5);

    // Only the first save sets the file aside.
    store.setRating(1, QStringLiteral("/p/other.jpg"));
    store.waitForSaved();
    QVERIFY(!QFileInfo::exists(storeFile() + ".damaged.1"));
    QCOMPARE(storedObject().size(), 2);
}

void TestStarRatingStore::damagedCopiesAreNeverOverwritten()
{
    const QString folder = QFileInfo(storeFile()).absolutePath();
    touch(folder, "star-ratings.json.damaged", "first");
    touch(folder, "star-ratings.json", "second{");
    StarRatingStore store(storeFile(), *m_queues);
    store.setRating(2, QStringLiteral("/p/x.jpg"));
    store.waitForSaved();

    QFile first(storeFile() + ".damaged");
    QVERIFY(first.open(QIODevice::ReadOnly));
    QCOMPARE(first.readAll(), QByteArray("first"));
    QFile second(storeFile() + ".damaged.1");
    QVERIFY(second.open(QIODevice::ReadOnly));
    QCOMPARE(second.readAll(), QByteArray("second{"));
}

void TestStarRatingStore::unusableFileKeepsChangesPendingAndSaysSoOnce_data()
{
    QTest::addColumn<bool>("readOnlyFolder");
    QTest::newRow("a folder in place of the file") << false; // cannot be opened, even by root
    QTest::newRow("read-only data folder") << true;
}

void TestStarRatingStore::unusableFileKeepsChangesPendingAndSaysSoOnce()
{
    QFETCH(bool, readOnlyFolder);
    const QString folder = QFileInfo(storeFile()).absolutePath();
    touch(folder, "star-ratings.json", R"({"/p/known.jpg":4})");
    const QByteArray folderName = QFile::encodeName(folder);
    // The store's writer thread takes this thread's permission checks along.
    const PermissionChecksOnThisThread asAUser;
    if (readOnlyFolder && !asAUser.isActive())
        QSKIP("Cannot set root's permission overrides aside: the folder stays writable");
    StarRatingStore store(storeFile(), *m_queues);
    // Meanwhile another process rated a file this one does not know of.
    const QString elsewhere = m_dir.path() + "/elsewhere.json";
    touch(m_dir.path(), "elsewhere.json", R"({"/p/known.jpg":4,"/p/others.jpg":1})");
    if (readOnlyFolder) {
        QVERIFY(QFile::remove(storeFile()));
        QVERIFY(::chmod(folderName.constData(), 0555) == 0);
    } else {
        QVERIFY(QFile::rename(storeFile(), storeFile() + ".away"));
        QVERIFY(QDir().mkdir(storeFile()));
    }

    QSignalSpy failed(&store, &StarRatingStore::saveFailed);
    store.setRating(5, QStringLiteral("/p/a.jpg"));
    store.waitForSaved();
    store.setRating(3, QStringLiteral("/p/b.jpg"));
    store.waitForSaved();
    ::chmod(folderName.constData(), 0755);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
             readOnlyFolder ? QStringList()
                            : QStringList({"star-ratings.json", "star-ratings.json.away",
                                           "star-ratings.json.lock"}));
    QCOMPARE(failed.size(), 1);
    QVERIFY(!failed.at(0).at(0).toString().isEmpty());

    // Once the file can be used again, the next save brings every pending change.
    if (!readOnlyFolder)
        QVERIFY(QDir().rmdir(storeFile()));
    QVERIFY(QFile::rename(elsewhere, storeFile()));
    store.setRating(2, QStringLiteral("/p/c.jpg"));
    store.waitForSaved();
    QCOMPARE(storedObject(), (QJsonObject{{"/p/known.jpg", 4},
                                          {"/p/others.jpg", 1},
                                          {"/p/a.jpg", 5},
                                          {"/p/b.jpg", 3},
                                          {"/p/c.jpg", 2}}));
    QCOMPARE(store.rating(QStringLiteral("/p/others.jpg")), 1);
    QCOMPARE(failed.size(), 1);
}

void TestStarRatingStore::urlAndPathKeysAgree()
{
    StarRatingStore store(storeFile(), *m_queues);
    const QString photo = QStringLiteral("/照片/with space.jpg");
    store.setRating(4, QUrl::fromLocalFile(photo));
    QCOMPARE(store.rating(photo), 4);
    store.waitForSaved();
    QVERIFY(storedObject().contains(photo));
}

void TestStarRatingStore::defaultLocation()
{
    QStandardPaths::setTestModeEnabled(true);
    const QString expected = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                             QStringLiteral("/Kelvane/star-ratings.json");
    QCOMPARE(StarRatingStore::defaultFilePath(), expected);
    QVERIFY(expected.contains(QStringLiteral(".qttest")));
    {
        StarRatingStore store(*m_queues);
        store.setRating(3, QStringLiteral("/p/default.jpg"));
    }
    StarRatingStore reloaded(*m_queues);
    QCOMPARE(reloaded.rating(QStringLiteral("/p/default.jpg")), 3);
    QFile::remove(expected);
}

void TestStarRatingStore::saveMergesChangesOfAnotherStore()
{
    // Both load the same (empty) file; each save must keep the other's ratings.
    StarRatingStore first(storeFile(), *m_queues);
    StarRatingStore second(storeFile(), *m_queues);
    first.setRating(5, QStringLiteral("/p/a.jpg"));
    first.setRating(2, QStringLiteral("/p/shared.jpg"));
    first.waitForSaved();

    QSignalSpy changed(&second, &StarRatingStore::ratingChanged);
    second.setRating(3, QStringLiteral("/p/b.jpg"));
    second.setRating(0, QStringLiteral("/p/shared.jpg")); // never held here: removes nothing
    second.waitForSaved();
    QCOMPARE(storedObject(), (QJsonObject{{"/p/a.jpg", 5}, {"/p/b.jpg", 3}, {"/p/shared.jpg", 2}}));
    // The table in memory is the merged one, announced per file.
    QCOMPARE(second.rating(QStringLiteral("/p/a.jpg")), 5);
    QCOMPARE(second.count(), 3);
    QCOMPARE(changed.count(), 3);
    QVERIFY(changed.contains(QVariantList{QStringLiteral("/p/a.jpg"), 0, 5}));

    // A removal is a change of its own and reaches the other store's next save.
    second.setRating(0, QStringLiteral("/p/a.jpg"));
    second.waitForSaved();
    first.setRating(4, QStringLiteral("/p/c.jpg"));
    first.waitForSaved();
    QCOMPARE(storedObject(), (QJsonObject{{"/p/b.jpg", 3}, {"/p/c.jpg", 4}, {"/p/shared.jpg", 2}}));
    QCOMPARE(first.rating(QStringLiteral("/p/a.jpg")), 0);
}

namespace {

// One line in, one line back, from a ratingpeer process.
QString ask(QProcess &peer, const QString &command)
{
    peer.write(command.toUtf8() + '\n');
    while (!peer.canReadLine()) {
        if (!peer.waitForReadyRead(20000))
            return QStringLiteral("<no answer to %1>").arg(command);
    }
    return QString::fromUtf8(peer.readLine()).trimmed();
}

} // namespace

void TestStarRatingStore::twoProcessesKeepEachOthersRatings()
{
    QProcess a, b;
    for (QProcess *peer : {&a, &b}) {
        peer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        peer->start(QStringLiteral(KELVANE_RATING_PEER), {storeFile()});
        QVERIFY2(peer->waitForStarted(), qPrintable(peer->errorString()));
    }
    const auto photo = [](char process, int n) {
        return QStringLiteral("/photos/%1/%2.jpg").arg(QLatin1Char(process)).arg(n);
    };

    // Strictly alternating: each save lands between two saves of the other.
    for (int n = 0; n < 100; ++n) {
        QCOMPARE(ask(a, QStringLiteral("set %1 %2").arg(n % 5 + 1).arg(photo('a', n))), "ok");
        QCOMPARE(ask(b, QStringLiteral("set %1 %2").arg(n % 5 + 1).arg(photo('b', n))), "ok");
    }
    QCOMPARE(storedObject().size(), 200);
    QCOMPARE(ask(b, "count"), "200");

    // Both at once, as fast as they can: only the lock keeps their
    // read-merge-write rounds from overlapping.
    a.write("burst 300 1 /photos/a/burst-\n");
    b.write("burst 300 2 /photos/b/burst-\n");
    QVERIFY(a.waitForBytesWritten() && b.waitForBytesWritten()); // both start now
    for (QProcess *peer : {&a, &b}) {
        while (!peer->canReadLine())
            QVERIFY(peer->waitForReadyRead(60000));
        QCOMPARE(peer->readLine(), QByteArray("ok\n"));
    }
    QCOMPARE(storedObject().size(), 800);

    // The same file rated by both ends with the later change, also a removal.
    QCOMPARE(ask(a, "set 2 /photos/shared.jpg"), "ok");
    QCOMPARE(ask(b, "set 4 /photos/shared.jpg"), "ok");
    QCOMPARE(storedObject().value("/photos/shared.jpg").toInt(), 4);
    QCOMPARE(ask(a, "set 1 " + photo('a', 0)), "ok");
    QCOMPARE(ask(a, "get /photos/shared.jpg"), "4");
    QCOMPARE(ask(b, "set 0 /photos/shared.jpg"), "ok");
    QCOMPARE(ask(a, "set 1 " + photo('a', 1)), "ok");
    QVERIFY(!storedObject().contains("/photos/shared.jpg"));
    QCOMPARE(ask(a, "count"), "800");
    QCOMPARE(StarRatingStore(storeFile(), *m_queues).rating("/photos/b/burst-299.jpg"), 2);

    for (QProcess *peer : {&a, &b}) {
        peer->closeWriteChannel();
        QVERIFY(peer->waitForFinished());
        QCOMPARE(peer->exitCode(), 0);
    }
}

QTEST_GUILESS_MAIN(TestStarRatingStore)
#include "tst_starratingstore.moc"
