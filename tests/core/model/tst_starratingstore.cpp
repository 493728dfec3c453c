#include "FileSystemFixtures.h"
#include "PeerProcess.h"
#include "TestFiles.h"
#include "model/CullingMarkStore.h"
#include "model/FolderHistory.h"
#include "model/StarRatingStore.h"
#include "model/VanishedFiles.h"
#include "model/WorkQueues.h"

#include <QJsonArray>
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

using TestFiles::contents;
using TestFiles::touch;
using Flag = CullingFlag;
using Label = ColourLabel;

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
    QString marksFile() const { return m_dir.path() + QStringLiteral("/data/culling-marks.json"); }
    QJsonObject storedMarks() const
    {
        return QJsonDocument::fromJson(contents(marksFile())).object();
    }
    std::unique_ptr<CullingMarkStore> openMarks()
    {
        return std::make_unique<CullingMarkStore>(marksFile(), m_queues);
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
    void markJsonForms_data()
    {
        QTest::addColumn<QByteArray>("json"); // an entry's value as stored
        QTest::addColumn<CullingMark>("mark");
        QTest::addColumn<QByteArray>("written"); // as written back; empty: no entry
        QTest::newRow("both") << QByteArray(R"({"flag":"pick","label":"red"})")
                              << CullingMark{Flag::pick, Label::red}
                              << QByteArray(R"({"flag":"pick","label":"red"})");
        QTest::newRow("any case, spaces") << QByteArray(R"({"flag":" Reject","label":"YELLOW "})")
                                          << CullingMark{Flag::reject, Label::yellow}
                                          << QByteArray(R"({"flag":"reject","label":"yellow"})");
        QTest::newRow("unknown flag, newer keys")
            << QByteArray(R"({"flag":"maybe","label":"purple","stack":7})")
            << CullingMark{Flag::none, Label::purple} << QByteArray(R"({"label":"purple"})");
        QTest::newRow("unknown label")
            << QByteArray(R"({"flag":"pick","label":"orange"})") << CullingMark{Flag::pick}
            << QByteArray(R"({"flag":"pick"})");
        QTest::newRow("other types")
            << QByteArray(R"({"flag":1,"label":["blue"]})") << CullingMark() << QByteArray();
        QTest::newRow("a number") << QByteArray("3") << CullingMark() << QByteArray();
    }
    void markJsonForms()
    {
        QFETCH(QByteArray, json);
        QFETCH(CullingMark, mark);
        QFETCH(QByteArray, written);
        const QJsonValue value = QJsonDocument::fromJson("[" + json + "]").array().at(0);
        QCOMPARE(CullingMark::fromJson(value), mark);
        const QJsonValue back = mark.toJson();
        QCOMPARE(back.isUndefined()
                     ? QByteArray()
                     : QJsonDocument(QJsonArray{back}).toJson(QJsonDocument::Compact),
                 written.isEmpty() ? QByteArray() : "[" + written + "]");
    }
    void xmpLabelsAreTheNamesOtherProgramsUse()
    {
        const QStringList names{"Red", "Yellow", "Green", "Blue", "Purple"};
        for (int n = 0; n < names.size(); ++n) {
            QCOMPARE(CullingMark::xmpLabel(Label(n + 1)), names[n]);
            QCOMPARE(CullingMark::labelFromXmp(QString(u' ' + names[n].toUpper())), Label(n + 1));
        }
        QCOMPARE(CullingMark::labelFromXmp(u"Orange"), Label::none);
    }
    void marksAreSavedAndSignalledOnRealChange()
    {
        auto store = openMarks();
        QSignalSpy changed(store.get(), &CullingMarkStore::markChanged);
        QSignalSpy batches(store.get(), &CullingMarkStore::marksChanged);
        const QString photo = QStringLiteral("/照片/💀 \"a\".jpg");
        store->setFlag(photo, Flag::pick);
        store->setLabel(photo, Label::green); // the flag stays
        store->setLabel(photo, Label::green);
        store->setFlag(QStringLiteral("/p/never-marked.jpg"), Flag::none);
        store->setFlags({photo, "/p/b.jpg", "/p/c.jpg"}, Flag::pick);
        store->setLabels({"/p/b.jpg"}, Label::blue);
        store->setFlags({photo}, Flag::pick);
        store->removeMarks({"/p/c.jpg", "/p/never-marked.jpg"});
        // Files swapping places take their own marks along.
        store->moveMarks({photo, "/p/b.jpg", "/p/never-marked.jpg"},
                         {"/p/b.jpg", photo, "/q/d.jpg"});
        QCOMPARE(changed.size(), 2);
        const CullingMark pickedGreen{Flag::pick, Label::green};
        QCOMPARE(changed.at(1), (QVariantList{photo, QVariant::fromValue(CullingMark{Flag::pick}),
                                              QVariant::fromValue(pickedGreen)}));
        QCOMPARE(batches.size(), 4);
        QCOMPARE(batches.at(0).at(0).toStringList(), (QStringList{"/p/b.jpg", "/p/c.jpg"}));
        QCOMPARE(batches.at(3).at(0).toStringList(), (QStringList{photo, "/p/b.jpg"}));
        store->waitForSaved();
        QCOMPARE(storedMarks(),
                 (QJsonObject{{photo, QJsonObject{{"flag", "pick"}, {"label", "blue"}}},
                              {"/p/b.jpg", QJsonObject{{"flag", "pick"}, {"label", "green"}}}}));
        QCOMPARE(openMarks()->mark(QUrl::fromLocalFile("/p/b.jpg")), pickedGreen);
    }
    void damagedMarksFileIsSetAsideUnknownEntriesKept_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<CullingMark>("read"); // of /p/a.jpg
        QTest::addColumn<bool>("damaged");
        QTest::newRow("truncated")
            << QByteArray("{\"/p/a.jpg\":{\"flag\":\"pick\"},\"/p/b.j") << CullingMark() << true;
        QTest::newRow("array") << QByteArray(R"([{"/p/a.jpg":{"flag":"pick"}}])") << CullingMark()
                               << true;
        QTest::newRow("unknown values")
            << QByteArray(R"({"/p/a.jpg":{"flag":"maybe","label":"red"},"/p/b.jpg":3})")
            << CullingMark{Flag::none, Label::red} << false;
    }
    void damagedMarksFileIsSetAsideUnknownEntriesKept()
    {
        QFETCH(QByteArray, stored);
        QFETCH(CullingMark, read);
        QFETCH(bool, damaged);
        touch(m_dir.path() + "/data", "culling-marks.json", stored);
        auto store = openMarks();
        QCOMPARE(store->mark(QStringLiteral("/p/a.jpg")), read);
        store->setFlag(QStringLiteral("/p/new.jpg"), Flag::pick);
        store->waitForSaved();
        QJsonObject expected = damaged ? QJsonObject() : QJsonDocument::fromJson(stored).object();
        expected.insert("/p/new.jpg", QJsonObject{{"flag", "pick"}});
        QCOMPARE(storedMarks(), expected);
        QCOMPARE(contents(marksFile() + ".damaged"), damaged ? stored : QByteArray());
    }
    void marksOfCertainlyGoneUnheldFilesAreDropped()
    {
        const QString root = m_dir.path() + "/photos";
        const QStringList files{touch(root, "gone.jpg"), touch(root, "held.jpg"),
                                touch(root, "kept.jpg")};
        auto store = openMarks();
        store->setFlags(files, Flag::reject);
        QVERIFY(QFile::remove(files[0]) && QFile::remove(files[1]));
        store->holdPaths({files[1]});
        QSignalSpy batches(store.get(), &CullingMarkStore::marksChanged);
        const QFuture<void> done = store->cleanupStaleEntries(root);
        QTRY_VERIFY(done.isFinished());
        QCOMPARE(batches.size(), 1);
        QCOMPARE(batches.at(0).at(0).toStringList(), QStringList{files[0]});
        store->waitForSaved();
        QCOMPARE(storedMarks().keys(), files.mid(1));
    }
    // A real second process on the same file (KELVANE_RATING_PEER).
    void marksOfTwoProcessesMerge()
    {
        PeerProcess peer(QStringLiteral(KELVANE_RATING_PEER), {storeFile(), marksFile()});
        QVERIFY2(peer.waitForStarted(), qPrintable(peer.errorString()));
        auto store = openMarks();
        QSignalSpy taken(store.get(), &CullingMarkStore::markChanged);
        // Both at once, as fast as they can: only the lock keeps their rounds apart.
        QVERIFY(peer.send("flags 300 reject /b/burst-"));
        for (int n = 0; n < 300; ++n)
            store->setLabel(QStringLiteral("/a/burst-%1.jpg").arg(n), Label::blue);
        store->waitForSaved();
        QCOMPARE(peer.answer(), "ok");
        QCOMPARE(storedMarks().size(), 600);
        // The later change of one file wins, also a clearing one.
        store->setFlag(QStringLiteral("/shared.jpg"), Flag::pick);
        store->waitForSaved();
        QCOMPARE(peer.ask("flag reject /shared.jpg"), "ok");
        QCOMPARE(storedMarks().value("/shared.jpg"), (QJsonObject{{"flag", "reject"}}));
        QCOMPARE(peer.ask("flag none /shared.jpg"), "ok");
        store->setLabel(QStringLiteral("/a/burst-0.jpg"), Label::red);
        store->waitForSaved();
        QCOMPARE(store->mark(QStringLiteral("/shared.jpg")), CullingMark());
        QVERIFY(taken.contains(QVariantList{"/b/burst-7.jpg", QVariant::fromValue(CullingMark()),
                                            QVariant::fromValue(CullingMark{Flag::reject})}));
        QCOMPARE(store->count(), 600);
        QCOMPARE(peer.ask("marks"), "600");
        QVERIFY(peer.finish());
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
