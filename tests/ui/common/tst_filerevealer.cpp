#include "common/DesktopFileRevealer.h"

#include <QTest>

namespace {

// The desktop's two services, as a session with or without them answers.
struct StandInDesktop : DesktopFileRevealer::Desktop
{
    bool fileManagerAnswers = false, folderHandlerAnswers = false;
    QStringList *calls = nullptr;
    void showInFileManager(const QString &path, std::function<void(bool)> answered) override
    {
        calls->append(QStringLiteral("show ") + path);
        answered(fileManagerAnswers);
    }
    bool openFolder(const QString &folder) override
    {
        calls->append(QStringLiteral("open ") + folder);
        return folderHandlerAnswers;
    }
};

} // namespace

// Showing a file in the file manager, and what happens where none answers.
class TestFileRevealer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fallsBackToTheFolderThenTellsTheUser_data()
    {
        QTest::addColumn<bool>("fileManager");
        QTest::addColumn<bool>("folderHandler");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("told");
        const QString show = QStringLiteral("show /photos/day 1/IMG_0001.JPG");
        const QString open = QStringLiteral("open /photos/day 1");
        QTest::newRow("file manager shows it") << true << true << QStringList{show} << QString();
        QTest::newRow("folder opened instead")
            << false << true << QStringList{show, open} << QString();
        QTest::newRow("neither: the user is told") << false << false << QStringList{show, open}
                                                   << QStringLiteral("无法打开文件所在的文件夹");
    }
    void fallsBackToTheFolderThenTellsTheUser()
    {
        QFETCH(bool, fileManager);
        QFETCH(bool, folderHandler);
        QFETCH(QStringList, calls);
        QFETCH(QString, told);
        QStringList made;
        QString toast;
        auto desktop = std::make_unique<StandInDesktop>();
        desktop->fileManagerAnswers = fileManager;
        desktop->folderHandlerAnswers = folderHandler;
        desktop->calls = &made;
        DesktopFileRevealer revealer([&](const QString &text) { toast = text; },
                                     std::move(desktop));
        revealer.reveal(QStringLiteral("/photos/day 1/IMG_0001.JPG"));
        QCOMPARE(made, calls);
        QCOMPARE(toast, told);
    }
};

QTEST_GUILESS_MAIN(TestFileRevealer)
#include "tst_filerevealer.moc"
