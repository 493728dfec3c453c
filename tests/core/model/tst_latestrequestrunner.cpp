#include "model/LatestRequestRunner.h"

#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <array>

// Request sequences against jobs that each wait for their own gate. Steps:
// sN submit job N; rN submit it running on when superseded (its result
// salvaged); lN submit it to be let go when superseded; fN open N's gate and
// wait for its end; wN wait for N's end with the gate shut (it must stop by
// itself); c cancel(); a abandon(). The log: +N started, =N delivered, -N let
// go, xN discarded without a result, ~N discarded with its result salvaged.
class TestLatestRequestRunner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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

QTEST_GUILESS_MAIN(TestLatestRequestRunner)
#include "tst_latestrequestrunner.moc"
