#include "FileSystemFixtures.h"
#include "PeerProcess.h"
#include "TestFiles.h"
#include "model/JsonStoreFile.h"
#include "model/WorkQueues.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/stat.h>

using TestFiles::contents;

static const QJsonValue removed(QJsonValue::Undefined);

class TestJsonStoreFile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<WorkQueues> m_queues; // per test: its writer thread starts with the test

    QString path() const { return m_dir.path() + QStringLiteral("/data/culling-marks.json"); }
    QJsonObject stored() const { return QJsonDocument::fromJson(contents(path())).object(); }
    std::unique_ptr<JsonStoreFile> openFile()
    {
        // Marks as a store of flags and labels keeps them, and numbers as the ratings are.
        const auto accepts = [](const QJsonValue &v) { return v.isObject() || v.isDouble(); };
        return std::make_unique<JsonStoreFile>(path(), accepts, m_queues->fileOperations());
    }
    void save(JsonStoreFile &file, const QJsonObject &changes)
    {
        for (auto it = changes.constBegin(); it != changes.constEnd(); ++it)
            file.change(it.key(), it.value().isNull() ? removed : it.value());
        file.save();
        file.waitForSaved();
    }

private Q_SLOTS:
    void init()
    {
        m_queues = std::make_unique<WorkQueues>();
        QVERIFY((m_dir = QTemporaryDir()).isValid());
    }
    void writesWhatQtWritesAtomicallyAndReadsItBack()
    {
        const QJsonObject pick{{"flag", "pick"}, {"label", "红"}};
        const QJsonObject expected{{"/p/2024 旅行/\"夜景\" -1.jpg", 3},
                                   {"/p/💀 skull.jpg", pick},
                                   {"/p/tab\tand\\\"q\".jpg", 2.5},
                                   {QStringLiteral("/p/caf") + QChar(0xDCE9) + ".jpg", -1},
                                   {"/p/z\u007f\u2028.jpg", QJsonObject()},
                                   {"/p/mixed.jpg", QJsonObject{{"flag", "reject"}, {"n", 2}}}};
        auto file = openFile();
        QCOMPARE(file->load().size(), 0);
        save(*file, expected);
        QCOMPARE(contents(path()), QJsonDocument(expected).toJson(QJsonDocument::Compact));
        JsonStoreFile::Entries entries = openFile()->load();
        QCOMPARE(entries.size(), expected.size());
        for (auto it = expected.constBegin(); it != expected.constEnd(); ++it)
            QCOMPARE(entries.value(it.key()), it.value());
        // A reader holding the old file keeps it whole: the new one replaces it.
        QFile old(path());
        QVERIFY(old.open(QIODevice::ReadOnly));
        QJsonObject none;
        for (const QString &key : expected.keys())
            none.insert(key, QJsonValue::Null);
        save(*file, none);
        QCOMPARE(old.readAll(), QJsonDocument(expected).toJson(QJsonDocument::Compact));
        QCOMPARE(contents(path()), QByteArray("{}"));
    }
    void othersChangesComeBackUnlessAnOwnChangeIsNewer()
    {
        auto mine = openFile();
        auto theirs = openFile();
        mine->load();
        theirs->load();
        QSignalSpy found(mine.get(), &JsonStoreFile::othersChanged);
        save(*mine, {{"/p/gone.jpg", 1}});
        save(*theirs, {{"/p/gone.jpg", QJsonValue::Null}, {"/p/b.jpg", 3}, {"/p/c.jpg", 2}});
        mine->change(QStringLiteral("/p/d.jpg"), 1);
        mine->save();
        m_queues->fileOperations().waitForDone(); // written; what it found not yet taken in
        mine->change(QStringLiteral("/p/c.jpg"), 5);
        mine->save();
        mine->waitForSaved();
        QCOMPARE(found.size(), 1);
        QCOMPARE(found.at(0).at(0).value<JsonStoreFile::Entries>(),
                 (JsonStoreFile::Entries{{"/p/gone.jpg", removed}, {"/p/b.jpg", 3}}));
        QCOMPARE(stored(), (QJsonObject{{"/p/b.jpg", 3}, {"/p/c.jpg", 5}, {"/p/d.jpg", 1}}));
    }
    void damagedFileIsSetAsideBeforeTheFirstSave_data()
    {
        QTest::addColumn<QByteArray>("damaged");
        QTest::addColumn<QString>("aside");
        QTest::newRow("truncated") << QByteArray("{\"/p/a.jpg\": 3, \"/p/b.j") << ".damaged";
        QTest::newRow("array") << QByteArray("[1,2,3]") << ".damaged";
        QTest::newRow("value not accepted") << QByteArray(R"({"/p/a.jpg":"x"})") << ".damaged";
        // An earlier copy is never replaced.
        QTest::newRow("earlier copy aside") << QByteArray("second{") << ".damaged.1";
    }
    void damagedFileIsSetAsideBeforeTheFirstSave()
    {
        QFETCH(QByteArray, damaged);
        QFETCH(QString, aside);
        if (aside != ".damaged")
            TestFiles::touch(m_dir.path() + "/data", "culling-marks.json.damaged", "first");
        TestFiles::touch(m_dir.path() + "/data", "culling-marks.json", damaged);
        auto file = openFile();
        QCOMPARE(file->load().size(), 0);
        QCOMPARE(contents(path()), damaged); // reading alone keeps it as it is
        save(*file, {{"/p/new.jpg", 5}});
        QCOMPARE(contents(path() + aside), damaged);
        QCOMPARE(contents(path() + ".damaged"), aside == ".damaged" ? damaged : "first");
        save(*file, {{"/p/other.jpg", 1}});
        QCOMPARE(stored(), (QJsonObject{{"/p/new.jpg", 5}, {"/p/other.jpg", 1}}));
        QCOMPARE(QDir(m_dir.path() + "/data").entryList({"*.damaged*"}).size(),
                 aside == ".damaged" ? 1 : 2);
    }
    void unusableFileKeepsChangesPendingAndSaysSoOnce_data()
    {
        QTest::addColumn<QString>("unusable");
        QTest::addColumn<QStringList>("listing"); // while unusable
        const QString name = "culling-marks.json";
        QTest::newRow("a folder in place of the file") // cannot be opened, even by root
            << "folder" << QStringList{name, name + ".away", name + ".lock"};
        QTest::newRow("read-only folder") << "read-only folder" << QStringList{name + ".away"};
        QTest::newRow("unreadable file") << "unreadable file" << QStringList{name, name + ".lock"};
    }
    void unusableFileKeepsChangesPendingAndSaysSoOnce()
    {
        QFETCH(QString, unusable);
        QFETCH(QStringList, listing);
        const QString folder = m_dir.path() + "/data";
        const QByteArray known = R"({"/p/known.jpg":4})";
        TestFiles::touch(folder, "culling-marks.json", known);
        // The writer thread, started below, takes this thread's permission checks along.
        const PermissionChecksOnThisThread asAUser;
        if (unusable != "folder" && !asAUser.isActive())
            QSKIP("Cannot set root's permission overrides aside: the file stays usable");
        auto file = openFile();
        file->load();
        // Meanwhile another process saved an entry this one does not know of.
        const QString elsewhere =
            TestFiles::touch(m_dir.path(), "elsewhere", R"({"/p/known.jpg":4,"/p/others.jpg":1})");
        const QByteArray folderName = QFile::encodeName(folder);
        const QByteArray fileName = QFile::encodeName(path());
        if (unusable == "unreadable file")
            QVERIFY(::chmod(fileName.constData(), 0) == 0);
        else
            QVERIFY(QFile::rename(path(), path() + ".away"));
        if (unusable == "read-only folder")
            QVERIFY(::chmod(folderName.constData(), 0555) == 0);
        if (unusable == "folder")
            QVERIFY(QDir().mkdir(path()));
        QSignalSpy failed(file.get(), &JsonStoreFile::saveFailed);
        save(*file, {{"/p/a.jpg", 5}});
        save(*file, {{"/p/b.jpg", 3}});
        ::chmod(folderName.constData(), 0755);
        ::chmod(fileName.constData(), 0644);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), listing);
        if (unusable == "unreadable file")
            QCOMPARE(contents(path()), known); // it may hold everyone's entries
        QCOMPARE(failed.size(), 1);
        QVERIFY(!failed.at(0).at(0).toString().isEmpty());
        // Once the file can be used again, the next save brings every pending change.
        QVERIFY(QDir().rmdir(path()) == (unusable == "folder"));
        QCOMPARE(::rename(QFile::encodeName(elsewhere).constData(), fileName.constData()), 0);
        QSignalSpy found(file.get(), &JsonStoreFile::othersChanged);
        save(*file, {{"/p/c.jpg", 2}});
        const auto all =
            R"({"/p/known.jpg":4,"/p/others.jpg":1,"/p/a.jpg":5,"/p/b.jpg":3,"/p/c.jpg":2})";
        QCOMPARE(stored(), QJsonDocument::fromJson(all).object());
        QCOMPARE(found.at(0).at(0).value<JsonStoreFile::Entries>().value("/p/others.jpg"),
                 QJsonValue(1));
        QCOMPARE(failed.size(), 1);
    }
    // Real processes with the ratings store on one file (KELVANE_RATING_PEER).
    void twoProcessesKeepEachOthersEntries()
    {
        PeerProcess a(QStringLiteral(KELVANE_RATING_PEER), {path()});
        PeerProcess b(QStringLiteral(KELVANE_RATING_PEER), {path()});
        for (PeerProcess *peer : {&a, &b})
            QVERIFY2(peer->waitForStarted(), qPrintable(peer->errorString()));
        // Strictly alternating: each save lands between two saves of the other.
        for (int n = 0; n < 20; ++n) {
            QCOMPARE(a.ask(QStringLiteral("set %1 /a/%2.jpg").arg(n % 5 + 1).arg(n)), "ok");
            QCOMPARE(b.ask(QStringLiteral("set %1 /b/%2.jpg").arg(n % 5 + 1).arg(n)), "ok");
        }
        QCOMPARE(stored().size(), 40);
        QCOMPARE(b.ask("count"), "40");
        // Both at once, as fast as they can: only the lock keeps their rounds apart.
        QVERIFY(a.send("burst 300 1 /a/burst-") && b.send("burst 300 2 /b/burst-")); // both now
        QCOMPARE(a.answer() + b.answer(), "okok");
        QCOMPARE(stored().size(), 640);
        QCOMPARE(stored().value("/b/burst-299.jpg"), QJsonValue(2));
        // The same file rated by both ends with the later change, also a removal.
        QCOMPARE(a.ask("set 2 /shared.jpg"), "ok");
        QCOMPARE(b.ask("set 4 /shared.jpg"), "ok");
        QCOMPARE(stored().value("/shared.jpg"), QJsonValue(4));
        QCOMPARE(a.ask("set 1 /a/0.jpg"), "ok");
        QCOMPARE(a.ask("get /shared.jpg"), "4");
        QCOMPARE(b.ask("set 0 /shared.jpg"), "ok");
        QCOMPARE(a.ask("set 1 /a/1.jpg"), "ok");
        QVERIFY(!stored().contains("/shared.jpg"));
        QCOMPARE(a.ask("count"), "640");
        QVERIFY(a.finish() && b.finish());
    }
};

QTEST_GUILESS_MAIN(TestJsonStoreFile)
#include "tst_jsonstorefile.moc"
