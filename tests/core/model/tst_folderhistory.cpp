#include "model/FolderHistory.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestFolderHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = QTemporaryDir();
        QVERIFY(m_dir.isValid());
    }
    void reopeningKeepsOneEntryPerPlace()
    {
        FolderHistory history(settingsFile());
        QSignalSpy changed(&history, &FolderHistory::foldersChanged);
        history.add(folder("trip"));
        history.add(folder("other"));
        const QDateTime firstOpened = history.folders()[1].lastOpened;
        history.add(folder("trip"));
        QCOMPARE(names(history), (QStringList{"trip", "other"}));
        QCOMPARE(history.folders()[0].path, folder("trip").toLocalFile());
        QVERIFY(history.folders()[0].lastOpened >= firstOpened);
        QCOMPARE(changed.count(), 3);
        // The same name in two places: two entries. The root is named "/".
        history.add(folder("trip/other"));
        history.add(QUrl::fromLocalFile("/"));
        QCOMPARE(names(history), (QStringList{"/", "other", "trip", "other"}));
    }
    void capsAtTwentyMostRecent()
    {
        FolderHistory history(settingsFile());
        for (int i = 0; i < 21; ++i)
            history.add(folder(QStringLiteral("f%1").arg(i)));
        QStringList newest;
        for (int i = 20; i > 0; --i)
            newest << QStringLiteral("f%1").arg(i);
        QCOMPARE(names(history), newest);
        history.waitForSaved();
        QCOMPARE(names(FolderHistory(settingsFile())), newest);
    }
    void removeMatchesByPathOnlyAndClearAllEmpties()
    {
        FolderHistory history(settingsFile());
        history.add(folder("keep"));
        history.add(folder("drop"));
        RecentFolder stale = history.folders()[0];
        stale.lastOpened = stale.lastOpened.addDays(-3);
        stale.name = QStringLiteral("renamed");
        history.remove(stale);
        QCOMPARE(names(history), QStringList{"keep"});
        history.waitForSaved();
        QCOMPARE(names(FolderHistory(settingsFile())), QStringList{"keep"});
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
        const QByteArray json = storedValue();
        // Members in the documented order, compact, the path as plain text.
        QVERIFY(json.startsWith("[{\"path\":"));
        QVERIFY(json.indexOf("\"name\":") < json.indexOf("\"lastOpened\":"));
        QVERIFY(!json.contains('\n'));
        QVERIFY(json.contains(QStringLiteral("2024 旅行").toUtf8()));
        QVERIFY(!json.contains("%20"));
        const QJsonObject entry = QJsonDocument::fromJson(json).array().at(0).toObject();
        const double seconds = entry.value("lastOpened").toDouble();
        const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
        const double expected = reference.msecsTo(before) / 1000.0;
        QVERIFY2(seconds >= expected - 1 && seconds <= expected + 5,
                 qPrintable(QString::number(seconds)));
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
