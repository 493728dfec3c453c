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
    void init();

    void reopeningKeepsOneEntryPerPlace();
    void capsAtTwentyMostRecent();
    void removeMatchesByPathOnlyAndClearAllEmpties();
    void undecodableDataGivesAnEmptyHistory_data();
    void undecodableDataGivesAnEmptyHistory();
    void storedFormat();
    void defaultSettingsLocationRoundTrip();

private:
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

void TestFolderHistory::init()
{
    m_dir = QTemporaryDir();
    QVERIFY(m_dir.isValid());
}

void TestFolderHistory::reopeningKeepsOneEntryPerPlace()
{
    FolderHistory history(settingsFile());
    QSignalSpy changed(&history, &FolderHistory::foldersChanged);
    history.add(folder("trip"));
    history.add(folder("other"));
    const QDateTime firstOpened = history.folders()[1].lastOpened;
    history.add(folder("trip"));

    QCOMPARE(history.folders().size(), 2);
    QCOMPARE(history.folders()[0].path, folder("trip").toLocalFile());
    QCOMPARE(history.folders()[0].name, QStringLiteral("trip"));
    QVERIFY(history.folders()[0].lastOpened >= firstOpened);
    QCOMPARE(history.folders()[1].name, QStringLiteral("other"));
    QCOMPARE(changed.count(), 3);
    // The same name in two places: two entries. The root is named "/".
    history.add(folder("trip/other"));
    history.add(QUrl::fromLocalFile("/"));
    QCOMPARE(history.folders().size(), 4);
    QCOMPARE(history.folders()[1].name, QStringLiteral("other"));
    QCOMPARE(history.folders()[0].name, QStringLiteral("/"));
}

void TestFolderHistory::capsAtTwentyMostRecent()
{
    FolderHistory history(settingsFile());
    for (int i = 0; i < 21; ++i)
        history.add(folder(QStringLiteral("f%1").arg(i)));
    QCOMPARE(history.folders().size(), FolderHistory::maximumCount);
    QCOMPARE(history.folders().first().name, QStringLiteral("f20"));
    QCOMPARE(history.folders().last().name, QStringLiteral("f1"));
    history.waitForSaved();

    FolderHistory reloaded(settingsFile());
    QCOMPARE(reloaded.folders().size(), 20);
    QCOMPARE(reloaded.folders().first().name, QStringLiteral("f20"));
}

void TestFolderHistory::removeMatchesByPathOnlyAndClearAllEmpties()
{
    FolderHistory history(settingsFile());
    history.add(folder("keep"));
    history.add(folder("drop"));
    RecentFolder stale = history.folders()[0];
    stale.lastOpened = stale.lastOpened.addDays(-3);
    stale.name = QStringLiteral("renamed");
    history.remove(stale);
    QCOMPARE(history.folders().size(), 1);
    QCOMPARE(history.folders()[0].name, QStringLiteral("keep"));
    history.waitForSaved();
    QCOMPARE(FolderHistory(settingsFile()).folders().size(), 1);

    history.clearAll();
    QVERIFY(history.folders().isEmpty());
    history.waitForSaved();
    QCOMPARE(storedValue(), QByteArray("[]"));
}

void TestFolderHistory::undecodableDataGivesAnEmptyHistory_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("not json") << QByteArray("garbage{");
    QTest::newRow("object, not array") << QByteArray(R"({"path":"/a"})");
    QTest::newRow("date as text") << QByteArray(
        R"([{"path":"/a","name":"a","lastOpened":"today"}])");
    QTest::newRow("missing name") << QByteArray(R"([{"path":"/a","lastOpened":1}])");
}

void TestFolderHistory::undecodableDataGivesAnEmptyHistory()
{
    QFETCH(QByteArray, stored);
    QSettings(settingsFile(), QSettings::IniFormat).setValue("recentFolders", stored);
    FolderHistory history(settingsFile());
    QVERIFY(history.folders().isEmpty());
    history.add(folder("fresh"));
    history.waitForSaved();
    QCOMPARE(FolderHistory(settingsFile()).folders().size(), 1);
}

void TestFolderHistory::storedFormat()
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

    FolderHistory reloaded(settingsFile());
    QCOMPARE(reloaded.folders().size(), 1);
    QCOMPARE(reloaded.folders()[0].path, folder(odd).toLocalFile());
    QCOMPARE(reloaded.folders()[0].name, QStringLiteral("\"quoted\" -dash"));
}

void TestFolderHistory::defaultSettingsLocationRoundTrip()
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
    QCOMPARE(reloaded.folders().size(), 1);
    QCOMPARE(reloaded.folders()[0].name, QStringLiteral("default-location"));
    reloaded.clearAll();
}

QTEST_GUILESS_MAIN(TestFolderHistory)
#include "tst_folderhistory.moc"
