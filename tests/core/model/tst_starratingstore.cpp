#include "FileSystemFixtures.h"
#include "TestFiles.h"
#include "model/FolderHistory.h"
#include "model/StarRatingStore.h"
#include "model/VanishedFiles.h"
#include "model/WorkQueues.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/stat.h>

using TestFiles::touch;

class TestStarRatingStore : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    WorkQueues m_queues;

    QString storeFile() const { return m_dir.path() + QStringLiteral("/data/star-ratings.json"); }
    QJsonObject storedObject() const
    {
        QFile file(storeFile());
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                              : QJsonObject();
    }
    std::unique_ptr<StarRatingStore> openStore()
    {
        return std::make_unique<StarRatingStore>(storeFile(), m_queues);
    }

    static QStringList names(const FolderHistory &history)
    {
        QStringList out;
        for (const RecentFolder &entry : history.folders())
            out << entry.name;
        return out;
    }
    QUrl folder(const QString &name) const { return QUrl::fromLocalFile(m_dir.filePath(name)); }
    QString settingsFile() const { return m_dir.path() + QStringLiteral("/settings.ini"); }
    QByteArray storedValue() const
    {
        return QSettings(settingsFile(), QSettings::IniFormat).value("recentFolders").toByteArray();
    }

private Q_SLOTS:
    void init() { QVERIFY((m_dir = QTemporaryDir()).isValid()); }
    void ratingsAreClampedSavedAndSignalledOnRealChange()
    {
        auto store = openStore();
        auto other = openStore(); // as another process's
        // Saves never wait for a long archive move or sidecar rewrite on the file queue.
        QSemaphore held;
        m_queues.fileOperations().start([&held] { held.acquire(); });
        const auto release = qScopeGuard([&] {
            held.release();
            m_queues.fileOperations().waitForDone();
        });
        QSignalSpy changed(store.get(), &StarRatingStore::ratingChanged);
        const QString photo = QStringLiteral("/照片/with space.jpg");
        store->setRating(4, QUrl::fromLocalFile(photo));
        store->setRating(4, photo);
        store->setRating(9, QStringLiteral("/p/high.jpg"));
        store->setRating(5, QStringLiteral("/p/high.jpg")); // clamped 9 is already 5
        store->setRating(-2, QStringLiteral("/p/low.jpg"));
        store->setRating(0, QStringLiteral("/p/never-rated.jpg"));
        store->setRating(2, QStringLiteral("/p/cleared.jpg"));
        store->setRating(0, QStringLiteral("/p/cleared.jpg"));
        QCOMPARE(changed.size(), 5);
        QCOMPARE(changed.at(0), (QVariantList{photo, 0, 4}));
        QCOMPARE(changed.at(1), (QVariantList{QStringLiteral("/p/high.jpg"), 0, 5}));
        QCOMPARE(changed.at(4), (QVariantList{QStringLiteral("/p/cleared.jpg"), 2, 0}));
        QCOMPARE(store->rating(QUrl::fromLocalFile(QStringLiteral("/p/low.jpg"))), 1);
        const QJsonObject expected{{photo, 4}, {"/p/high.jpg", 5}, {"/p/low.jpg", 1}};
        QTRY_COMPARE(storedObject(), expected);
        store->waitForSaved();
        // The other store takes them in, one signal each; clearing an unknown one saves nothing.
        QSignalSpy taken(other.get(), &StarRatingStore::ratingChanged);
        other->setRating(0, photo);
        other->waitForSaved();
        QCOMPARE(storedObject(), expected);
        QCOMPARE(other->count(), 3);
        QCOMPARE(taken.size(), 3);
        QVERIFY(taken.contains(QVariantList{photo, 0, 4}));
    }
    void onlyWholeNumbersAreStoredRatings()
    {
        for (const auto &[content, rating] :
             {std::pair{R"({"/p/a.jpg":3})", 3}, {R"({"/p/a.jpg":2.5})", 0}}) {
            touch(m_dir.path() + "/data", "star-ratings.json", content);
            QCOMPARE(openStore()->rating(QStringLiteral("/p/a.jpg")), rating);
        }
    }
    void batchesSaveOnceAndSignalOnce()
    {
        auto store = openStore();
        store->setRatings({{"/p/a.jpg", 3}, {"/p/b.jpg", 9}, {"/p/c.jpg", 1}, {"/p/d.jpg", 2}});
        QCOMPARE(store->rating(QStringLiteral("/p/b.jpg")), 5);
        QSignalSpy batches(store.get(), &StarRatingStore::ratingsRemoved);
        QSignalSpy changed(store.get(), &StarRatingStore::ratingChanged);
        store->setRatings({{"/p/a.jpg", 3}});
        store->removeRatings({"/p/never-rated.jpg"});
        store->moveRatings({"/p/never-rated.jpg"}, {"/p/e.jpg"});
        QCOMPARE(batches.size(), 0);
        store->removeRatings({"/p/c.jpg", "/p/never-rated.jpg"});
        // Files swapping places take their own ratings along.
        store->moveRatings({"/p/a.jpg", "/p/b.jpg", "/p/d.jpg"},
                           {"/p/b.jpg", "/p/a.jpg", "/q/d.jpg"});
        QCOMPARE(batches.size(), 2);
        QCOMPARE(changed.size(), 0);
        store->waitForSaved();
        QCOMPARE(storedObject(), (QJsonObject{{"/p/a.jpg", 5}, {"/p/b.jpg", 3}, {"/q/d.jpg", 2}}));
    }
    void cleanupDropsOnlyVanishedUnchangedUnheldRatings()
    {
        const QString root = m_dir.path() + "/photos";
        const QString kept = touch(root, "kept.jpg");
        const QString gone = touch(root, "gone.jpg");
        const QString goneDeep = touch(root, "a/b/c/gone.nef");
        touch(root, "a/b/c/other.nef");
        const QString reRated = touch(root, "again.jpg");
        const QString held = touch(root, "held.jpg");
        const QString elsewhere = touch(m_dir.path(), "elsewhere/gone.jpg");
        auto store = openStore();
        for (const QString &path : {kept, gone, goneDeep, reRated, held, elsewhere})
            store->setRating(4, path);
        for (const QString &path : {gone, goneDeep, reRated, held, elsewhere})
            QVERIFY(QFile::remove(path));
        store->holdPaths({held, held});
        store->releasePaths({held});
        QSignalSpy removed(store.get(), &StarRatingStore::ratingsRemoved);
        QFuture<void> done = store->cleanupStaleEntries(root);
        // The checks run elsewhere; a rating given before they report is kept.
        store->setRating(2, reRated);
        QTRY_VERIFY(done.isFinished());
        QCOMPARE(removed.size(), 1);
        QCOMPARE(store->count(), 4);
        QCOMPARE(store->rating(gone) + store->rating(goneDeep), 0);
        store->waitForSaved();
        QCOMPARE(storedObject().size(), 4);
        // Nothing more to drop: no signal, no save.
        store->releasePaths({held});
        QVERIFY(QFile::remove(storeFile()));
        done = store->cleanupStaleEntries(root + "/a");
        QTRY_VERIFY(done.isFinished());
        store->waitForSaved();
        QCOMPARE(removed.size(), 1);
        QVERIFY(!QFileInfo::exists(storeFile()));
    }
    void filesBelowAFolder()
    {
        const QStringList paths = {"/a/bc/x.jpg", "/a/b/y.jpg", "/a/b/c/d/z.jpg", "/a/b"};
        QCOMPARE(VanishedFiles::below("/a/b", paths),
                 (QStringList{"/a/b/y.jpg", "/a/b/c/d/z.jpg"}));
        QCOMPARE(VanishedFiles::below("/a/bc/", paths), (QStringList{"/a/bc/x.jpg"}));
    }
    void onlyCertainlyGoneFilesCountAsVanished_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("vanished");
        QTest::newRow("deleted") << "open/deleted.jpg" << true;
        QTest::newRow("present") << "open/present.jpg" << false;
        QTest::newRow("behind a locked folder") << "locked/hidden.jpg" << false;
        QTest::newRow("folder not there (card out)") << "card/DCIM/x.jpg" << false;
        QTest::newRow("empty folder (offline mount)") << "mnt/a.jpg" << false;
        QTest::newRow("mount point") << "/proc/kelvane-never-there.jpg" << false;
        QTest::newRow("name too long") << "open/" + QString(300, QLatin1Char('n')) << false;
    }
    void onlyCertainlyGoneFilesCountAsVanished()
    {
        QFETCH(QString, path);
        QFETCH(bool, vanished);
        const QString root = m_dir.path();
        touch(root, "open/present.jpg");
        touch(root, "locked/hidden.jpg");
        TestFiles::makeDir(root, "mnt");
        if (!path.startsWith('/'))
            path = root + '/' + path;
        const QByteArray locked = QFile::encodeName(root + "/locked");
        QVERIFY(::chmod(locked.constData(), 0) == 0);
        auto asAUser = std::make_optional<PermissionChecksOnThisThread>();
        const bool checked = asAUser->isActive();
        const QStringList found = VanishedFiles::among({path});
        asAUser.reset();
        QVERIFY(::chmod(locked.constData(), 0755) == 0);
        if (!checked && path.contains("/locked/"))
            QSKIP("Cannot set root's permission overrides aside: the locked folder is readable");
        QCOMPARE(found, vanished ? QStringList{path} : QStringList());
    }
    void oneEntryPerPlaceNewestFirstCappedAtTwenty()
    {
        FolderHistory history(settingsFile());
        QSignalSpy changed(&history, &FolderHistory::foldersChanged);
        history.add(folder("trip"));
        history.add(folder("other"));
        const QDateTime firstOpened = history.folders()[1].lastOpened;
        history.add(folder("trip"));
        QCOMPARE(history.folders()[0].path, folder("trip").toLocalFile());
        QVERIFY(history.folders()[0].lastOpened >= firstOpened);
        QCOMPARE(changed.count(), 3);
        // The same name in two places: two entries. The root is named "/".
        history.add(folder("trip/other"));
        history.add(QUrl::fromLocalFile("/"));
        QCOMPARE(names(history), (QStringList{"/", "other", "trip", "other"}));
        QStringList newest;
        for (int i = 0; i < 21; ++i) {
            newest.prepend(QStringLiteral("f%1").arg(i));
            history.add(folder(newest.first()));
        }
        // Removal matches by path only.
        RecentFolder stale = history.folders()[0];
        stale.lastOpened = stale.lastOpened.addDays(-3);
        stale.name = QStringLiteral("renamed");
        history.remove(stale);
        newest = newest.mid(1, 19);
        QCOMPARE(names(history), newest);
        history.waitForSaved();
        QCOMPARE(names(FolderHistory(settingsFile())), newest);
        history.clearAll();
        QVERIFY(history.folders().isEmpty());
        history.waitForSaved();
        QCOMPARE(storedValue(), QByteArray("[]"));
    }
    void undecodableDataGivesAnEmptyHistory_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("not json") << QByteArray("garbage{");
        QTest::newRow("object, not array") << QByteArray(R"({"path":"/a"})");
        QTest::newRow("date as text")
            << QByteArray(R"([{"path":"/a","name":"a","lastOpened":"today"}])");
        QTest::newRow("missing name") << QByteArray(R"([{"path":"/a","lastOpened":1}])");
    }
    void undecodableDataGivesAnEmptyHistory()
    {
        QFETCH(QByteArray, stored);
        QSettings(settingsFile(), QSettings::IniFormat).setValue("recentFolders", stored);
        FolderHistory history(settingsFile());
        QVERIFY(history.folders().isEmpty());
        history.add(folder("fresh"));
        history.waitForSaved();
        QCOMPARE(names(FolderHistory(settingsFile())), QStringList{"fresh"});
    }
    void storedFormat()
    {
        const QString odd = QStringLiteral("2024 旅行/\"quoted\" -dash");
        const QDateTime before = QDateTime::currentDateTimeUtc();
        FolderHistory(settingsFile()).add(folder(odd));
        // Compact, members in this order, the path as plain text, seconds since 2001.
        const QByteArray json = storedValue();
        const QByteArray quoted = "\\\"quoted\\\" -dash";
        const QByteArray start = "[{\"path\":\"" + QFile::encodeName(m_dir.path()) + "/2024 旅行/" +
                                 quoted + "\",\"name\":\"" + quoted + "\",\"lastOpened\":";
        QVERIFY2(json.startsWith(start) && json.endsWith("}]"), json.constData());
        const double seconds = json.mid(start.size()).chopped(2).toDouble();
        const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
        const double expected = reference.msecsTo(before) / 1000.0;
        QVERIFY2(seconds >= expected - 1 && seconds <= expected + 5, json.constData());
        const FolderHistory reloaded(settingsFile());
        QCOMPARE(names(reloaded), QStringList{"\"quoted\" -dash"});
        QCOMPARE(reloaded.folders()[0].path, folder(odd).toLocalFile());
    }
};

QTEST_GUILESS_MAIN(TestStarRatingStore)
#include "tst_starratingstore.moc"
