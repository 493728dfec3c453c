#include "FileSystemFixtures.h"
#include "TestFiles.h"
#include "model/LatestRequestRunner.h"
#include "model/SafePublisher.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using TestFiles::contents;

// SafePublisher's publishing, fallback and sweep; LatestRequestRunner's sequences.
class TestSafePublisher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void publishesUnderTheFirstFreeName_data()
    {
        // "taken|offered|attempts|failing fill|published", names split at ','; "@name": a
        // dangling link; the failing fill: which call of the content's fill fails, 0: none.
        QTest::addColumn<QString>("row");
        QTest::addColumn<bool>("noRenames"); // a file system without RENAME_NOREPLACE or links
        for (const bool noRenames : {false, true}) {
            const char *how = noRenames ? "in place: " : "renamed: ";
            QTest::addRow("%staken, the next", how)
                << "a.jpg,a_1.jpg|a.jpg,a_1.jpg,a_2.jpg|100|0|a_2.jpg" << noRenames;
            QTest::addRow("%staken, no other", how) << "a.jpg|a.jpg|100|0|" << noRenames;
            QTest::addRow("%sattempts run out", how) << "a.jpg|a.jpg,a_1.jpg|1|0|" << noRenames;
            QTest::addRow("%sa dangling link takes the name", how)
                << "@a.jpg|a.jpg|100|0|" << noRenames;
            // The temporary's fill, or the second one in place, fails: nothing is left.
            QTest::addRow("%sa failed fill", how)
                << QString("|a.jpg|100|%1|").arg(noRenames ? 2 : 1) << noRenames;
        }
        QTest::newRow("no name at all") << "||100|0|" << false;
    }
    void publishesUnderTheFirstFreeName()
    {
        QFETCH(QString, row);
        QFETCH(bool, noRenames);
        const QStringList parts = row.split('|');
        const QStringList taken = parts[0].split(',', Qt::SkipEmptyParts);
        QStringList offered = parts[1].split(',', Qt::SkipEmptyParts);
        const int attempts = parts[2].toInt(), failingFill = parts[3].toInt();
        const QString published = parts[4];
        QTemporaryDir dir;
        for (const QString &name : std::as_const(taken)) {
            if (name.startsWith(QLatin1Char('@'))) // a dangling symbolic link
                QVERIFY(QFile::link(dir.filePath("missing-target"), dir.filePath(name.mid(1))));
            else
                TestFiles::touch(dir.path(), name, "someone else's");
        }
        std::optional<WithoutNoReplaceRenames> fallback;
        if (noRenames)
            fallback.emplace();
        bool namedWhenPublished = false;
        int fills = 0;
        const auto next = [&] {
            return offered.isEmpty() ? QString() : dir.filePath(offered.takeFirst());
        };
        const SafePublisher::Content content{
            [&](int fd) { return ::write(fd, "new bytes", 9) == 9 && ++fills != failingFill; },
            [&](int) { namedWhenPublished = QFile::exists(dir.filePath(published)); }};
        const QString written = SafePublisher::write(SafePublisher::Kind::exportedFile, dir.path(),
                                                     content, next, attempts);
        fallback.reset();
        QCOMPARE(written, published.isEmpty() ? QString() : dir.filePath(published));
        QCOMPARE(namedWhenPublished, !published.isEmpty());
        QStringList expected;
        for (const QString &name : std::as_const(taken)) {
            expected << QString(name).remove(QLatin1Char('@'));
            if (!name.startsWith(QLatin1Char('@')))
                QCOMPARE(contents(dir.filePath(name)), QByteArray("someone else's"));
        }
        if (!published.isEmpty()) {
            expected << published;
            QCOMPARE(contents(written), QByteArray("new bytes"));
        }
        expected.sort();
        const auto all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        QCOMPARE(QDir(dir.path()).entryList(all, QDir::Name), expected); // no temporary, no link
    }
    void sweepRemovesOnlyOurStaleTemporaries_data()
    {
        // "name type minutesAgo removed"; type f/d/l; "E"/"A": an export's/archive's temporary.
        QTest::addColumn<QString>("row");
        QTest::newRow("an export's, crashed") << "E f 2 1";
        QTest::newRow("an export's, being written") << "E f 0 0";
        QTest::newRow("an archive's, killed mid-copy") << "A f 120 1";
        QTest::newRow("an archive's, still syncing") << "A f 30 0";
        QTest::newRow("look-alike archive") << ".kelvane-archive-notours.part f 120 0";
        QTest::newRow("upper-case digits") << ".kelvane-0123456789ABCDEF.part f 120 0";
        QTest::newRow("a sidecar writer's") << ".kelvane-xmp-0123456789abcdef.part f 120 0";
        QTest::newRow("someone's .part") << "photo.part f 120 0";
        QTest::newRow("a folder") << "A d 120 0";
        QTest::newRow("a link") << "E l 120 0";
    }
    void sweepRemovesOnlyOurStaleTemporaries()
    {
        QFETCH(QString, row);
        const QStringList parts = row.split(' ');
        const QString name = parts[0] == "E"   ? ".kelvane-0123456789abcdef.part"
                             : parts[0] == "A" ? ".kelvane-archive-0123456789abcdef.part"
                                               : parts[0];
        const char type = parts[1][0].toLatin1();
        const int minutesAgo = parts[2].toInt();
        const bool removed = parts[3] == "1";
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        TestFiles::touch(dir.path(), "photo.jpg", "a photo");
        if (type == 'd')
            QVERIFY(QDir().mkdir(path));
        else if (type == 'l')
            QVERIFY(QFile::link(dir.filePath("photo.jpg"), path));
        else
            TestFiles::touch(dir.path(), name, "half a file");
        const timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 60 * minutesAgo, 0}};
        QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times,
                            AT_SYMLINK_NOFOLLOW) == 0);
        QCOMPARE(SafePublisher::removeStaleTemporaries(dir.path()), removed ? 1 : 0);
        QCOMPARE(QFileInfo(path).exists() || QFileInfo(path).isSymLink(), !removed);
        QCOMPARE(contents(dir.filePath("photo.jpg")), QByteArray("a photo"));
    }
    // Jobs that each wait for their own gate. Steps: sN submit job N; rN submit it running
    // on when superseded; lN to be let go when superseded; fN open N's gate and wait for its
    // end; wN wait with the gate shut (it stops by itself); c cancel(); a abandon(). Log: +N
    // started, =N delivered, -N let go, xN discarded, ~N discarded with its result salvaged.
    void requestSequences_data()
    {
        QTest::addColumn<QString>("row"); // "steps | log"
        QTest::newRow("the newest replaces the waiting one") << "s1 s2 s3 f1 f3 | +1 x1 +3 =3";
        QTest::newRow("a superseded job is told to stop") << "s1 s2 w1 f2 | +1 x1 +2 =2";
        QTest::newRow("asking again for the running job keeps it") << "s1 s1 f1 | +1 =1";
        QTest::newRow("a long job is let go, the next starts") << "l1 s2 w1 f2 | +1 -1 +2 x1 =2";
        QTest::newRow("cancel drops the waiting and the running result") << "s1 s2 c f1 | +1 x1";
        QTest::newRow("abandon starts the next at once") << "r1 a s2 f2 f1 | +1 +2 =2 ~1";
        QTest::newRow("a job that runs on is salvaged") << "r1 s2 f1 f2 | +1 ~1 +2 =2";
    }
    void requestSequences()
    {
        QFETCH(QString, row);
        const QString steps = row.section(" | ", 0, 0), log = row.section(" | ", 1);
        QThreadPool pool;
        pool.setMaxThreadCount(4);
        std::array<QSemaphore, 4> gates;
        // Opened on the way out, so that a failed step leaves no job blocked.
        const auto openGates = qScopeGuard([&gates] {
            for (QSemaphore &gate : gates)
                gate.release(8);
        });
        LatestRequestRunner runner;
        QSignalSpy discarded(&runner, &LatestRequestRunner::discarded);
        QStringList events;
        QSet<int> ended;
        const auto submit = [&](QChar kind, int n) {
            LatestRequestRunner::Request<int> request;
            request.key = QString::number(n);
            request.start = [&, n] {
                events << QStringLiteral("+%1").arg(n);
                return LatestRequestRunner::run<int>(&pool, [&gates, n](auto stopRequested) {
                    while (!gates[n].tryAcquire(1, 2))
                        if (stopRequested())
                            return -n;
                    return n;
                });
            };
            request.deliver = [&, n](const QFuture<int> &done) {
                QCOMPARE(done.result(), n);
                events << QStringLiteral("=%1").arg(n);
                ended << n;
            };
            request.salvage = [&, n](const QFuture<int> &done) {
                events << QStringLiteral("%1%2")
                              .arg(QChar(done.resultCount() > 0 ? u'~' : u'x'))
                              .arg(n);
                ended << n;
            };
            if (kind == u'l')
                request.letGo = [&, n] { events << QStringLiteral("-%1").arg(n); };
            request.stopWhenSuperseded = kind != u'r';
            runner.submit(std::move(request));
        };
        for (const QString &step : steps.split(u' ')) {
            const QChar kind = step.front();
            const int n = step.mid(1).toInt();
            if (kind == u'c')
                runner.cancel();
            else if (kind == u'a')
                runner.abandon();
            else if (kind == u'f' || kind == u'w') {
                if (kind == u'f')
                    gates[n].release();
                QTRY_VERIFY(ended.contains(n));
            } else
                submit(kind, n);
        }
        QCOMPARE(events.join(u' '), log);
        QCOMPARE(discarded.count(), log.count(u'x') + log.count(u'~'));
        QCOMPARE(runner.startedJobs(), log.count(u'+'));
    }
};

QTEST_GUILESS_MAIN(TestSafePublisher)
#include "tst_safepublisher.moc"
