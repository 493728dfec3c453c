#include "model/FolderHistory.h"

#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestFolderHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY((m_dir = QTemporaryDir()).isValid()); }
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
        for (int i = 0; i < 21; ++i)
            newest.prepend(QStringLiteral("f%1").arg(i));
        for (const QString &name : QStringList(newest.crbegin(), newest.crend()))
            history.add(folder(name));
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
    void defaultSettingsLocationRoundTrip()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("Kelvane"));
        QCoreApplication::setApplicationName(QStringLiteral("Kelvane"));
        {
            FolderHistory history;
            history.clearAll();
            history.add(folder("default-location"));
        }
        FolderHistory reloaded;
        QCOMPARE(names(reloaded), QStringList{"default-location"});
        reloaded.clearAll();
    }

private:
    static QStringList names(const FolderHistory &history)
    {
        QStringList out;
        for (const RecentFolder &entry : history.folders())
            out << entry.name;
        return out;
    }
    QUrl folder(const QString &relative) const
    {
        return QUrl::fromLocalFile(m_dir.path() + QLatin1Char('/') + relative);
    }
    QString settingsFile() const { return m_dir.path() + QStringLiteral("/settings.ini"); }
    QByteArray storedValue() const
    {
        return QSettings(settingsFile(), QSettings::IniFormat).value("recentFolders").toByteArray();
    }
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestFolderHistory)
#include "tst_folderhistory.moc"
