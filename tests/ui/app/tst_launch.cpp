#include "BrowseFixtures.h"
#include "TestFiles.h"
#include "app/CommandLine.h"
#include "app/KelvaneApp.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "app/SubfolderPromptDialog.h"
#include "imaging/XmpSidecarWriter.h"
#include "model/AdvisoryFileLock.h"
#include "state/AppState.h"
#include "state/XmpRatingSync.h"

#include <QApplication>
#include <QDialog>
#include <QFileSystemModel>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using BrowseFixtures::writeImage;
using TestFiles::makeDir;
using TestFiles::touch;

namespace {

// What a crash leaves behind: a socket file with nobody listening on it.
bool leaveStaleSocket(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    qstrncpy(address.sun_path, encoded.constData(), sizeof address.sun_path);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return bound && QFileInfo::exists(path);
}

// Whether a process waits for the flock on `path` (an arrow line of /proc/locks).
bool someoneWaitsForLock(const QString &path)
{
    struct stat info;
    QFile locks(QStringLiteral("/proc/locks"));
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !locks.open(QIODevice::ReadOnly))
        return false;
    const QByteArray inode = ':' + QByteArray::number(quint64(info.st_ino)) + ' ';
    return std::ranges::any_of(locks.readAll().split('\n'), [&](const QByteArray &line) {
        return line.contains("->") && line.contains(inode);
    });
}

} // namespace

class TestLaunch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { KelvaneApp::describeApplication(); }
    void init()
    {
        m_dir = QTemporaryDir();
        QVERIFY(m_dir.isValid());
    }

    // `expected` is the folder to open, or a part of what is printed instead.
    void commandLine()
    {
        using Action = CommandLine::Action;
        const struct
        {
            QStringList arguments;
            Action action;
            QString expected;
        } cases[] = {
            {{}, Action::start, {}},
            {{"trip/../trip/day 1/"}, Action::start, "/home/u/trip/day 1"},
            {{"file:///photos/%E6%97%85%E8%A1%8C"}, Action::start, "/photos/旅行"},
            {{"--version"}, Action::showVersion, "Kelvane " + qApp->applicationVersion() + "\n"},
            {{"--help"}, Action::showHelp, "[FOLDER]"},
            {{"/a", "/b"}, Action::fail, "只能打开一个文件夹"},
            {{"--frobnicate"}, Action::fail, "frobnicate"}};
        for (const auto &[arguments, action, expected] : cases) {
            const CommandLine commandLine(QStringList{"kelvane"} + arguments, "/home/u");
            QCOMPARE(int(commandLine.action()), int(action));
            const bool starts = action == Action::start;
            QCOMPARE(commandLine.path(), starts ? expected : QString());
            QVERIFY2(commandLine.output().contains(starts ? QString() : expected),
                     qPrintable(commandLine.output()));
        }
    }
    void activateOpensFoldersAndImagesOrSaysWhyNotAndQtSpeaksChinese()
    {
        const bool translated =
            QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) +
                              "/qtbase_zh_CN.qm"); // qt6-translations-l10n
        QCOMPARE(QFileSystemModel().headerData(0, Qt::Horizontal).toString(), QString("Name"));
        KelvaneApp app(*qApp, BrowseFixtures::makeState(m_queues, m_dir.path()));
        QCOMPARE(QFileSystemModel().headerData(0, Qt::Horizontal).toString(),
                 translated ? QString("名称") : QString("Name"));
        AppState &state = app.state();
        const QString folder = makeDir(m_dir.path(), "photos");
        writeImage(folder, "a.jpg");
        const QString second = writeImage(folder, "b.jpg");
        const QString locked = makeDir(m_dir.path(), "locked");
        QVERIFY(QFile::setPermissions(locked, QFileDevice::WriteOwner));

        // While a dialog is open the request only raises the window.
        {
            QDialog question(&app.window());
            question.setModal(true);
            question.show();
            QTRY_VERIFY(QApplication::activeModalWidget() == &question);
            app.activate(folder);
            QVERIFY(!state.isLoading() && !state.currentFolder()); // an open sets loading at once
        }

        // What cannot be opened is named in the status line with the reason.
        QList<std::pair<QString, const char *>> refused{
            {touch(folder, "notes.txt"), "不是文件夹"},
            {m_dir.path() + "/missing", "文件夹不存在"}};
        if (::geteuid() != 0) // root reads any folder
            refused.append({locked, "没有读取权限"});
        for (const auto &[path, problem] : refused) {
            app.activate(path);
            QVERIFY2(state.statusMessage().contains(path) &&
                         state.statusMessage().endsWith(QString::fromUtf8(problem)),
                     qPrintable(state.statusMessage()));
        }
        QVERIFY(app.window().isVisible() && !state.currentFolder());
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
        app.activate(folder);
        QTRY_VERIFY(state.currentFolder() && !state.isLoading());
        QCOMPARE(state.currentFolder()->url.toLocalFile(), folder);

        // "Open with" on a photo: its folder opens with that photo in the viewer.
        app.activate(second);
        QTRY_VERIFY(state.isViewerActive());
        QCOMPARE(state.currentFolder()->url.toLocalFile(), folder);
        QCOMPARE(state.selectedImage()->path(), second);
    }
    void secondStartHandsItsFolderToTheFirstThroughAStaleSocket()
    {
        QVERIFY(leaveStaleSocket(m_dir.path() + "/kelvane"));
        SingleInstance first(m_dir.path() + "/kelvane");
        QCOMPARE(first.start({}), SingleInstance::Role::primary);
        QSignalSpy requests(&first, &SingleInstance::activationRequested);
        const QString folder = makeDir(m_dir.path(), "旅行\n2024"); // any character of a path

        QCOMPARE(runSecondStart({"旅行\n2024"}), 0); // relative to its working folder
        QTRY_COMPARE(requests.count(), 1);
        QCOMPARE(requests.at(0).at(0).toString(), folder);

        QCOMPARE(runSecondStart({}), 0); // only raises
        QTRY_COMPARE(requests.count(), 2);
        QCOMPARE(requests.at(1).at(0).toString(), QString());

        // A listener that cannot answer (here: busy in this very thread) is alive:
        // the new start runs alone and never takes its socket over.
        SingleInstance other(m_dir.path() + "/kelvane");
        QCOMPARE(other.handOver({}, 300), SingleInstance::Role::standalone);
        QVERIFY(!other.listen());
        QTRY_COMPARE(requests.count(), 3); // its request is still taken, late
        QCOMPARE(runSecondStart({}), 0);
        QTRY_COMPARE(requests.count(), 4);
    }
    void handedOverFolderIsAskedAboutOnceTheConnectionIsDone()
    {
        KelvaneApp app(*qApp, BrowseFixtures::makeState(m_queues, m_dir.path()));
        SingleInstance first(m_dir.path() + "/kelvane");
        QCOMPARE(first.start({}), SingleInstance::Role::primary);
        app.takeRequestsFrom(first);
        const QString folder = makeDir(m_dir.path(), "day");
        writeImage(folder, "top.jpg");
        writeImage(folder, "morning/a.jpg");

        // Answered only once the hand-over's connection is gone (it was deleted under an answer).
        int asked = 0;
        QString answer;
        QTimer answerer;
        answerer.callOnTimeout([&] {
            auto *question =
                qobject_cast<SubfolderPromptDialog *>(QApplication::activeModalWidget());
            if (!question || !first.findChildren<QLocalSocket *>().isEmpty())
                return;
            ++asked;
            for (QPushButton *button : question->findChildren<QPushButton *>()) {
                if (button->text() == answer)
                    button->click();
            }
        });
        answerer.start(10);
        for (int round = 0; round < 5; ++round) {
            const bool include = round % 2 == 0;
            answer = include ? QStringLiteral("包含子文件夹") : QStringLiteral("仅当前文件夹");
            QCOMPARE(runSecondStart({folder}), 0);
            QTRY_COMPARE(asked, round + 1);
            QTRY_VERIFY(!app.state().isLoading());
            QCOMPARE(app.state().images().size(), include ? 2 : 1);
        }
    }
    void terminationSignalStillSavesRatings()
    {
        if (!QFileInfo::exists("/proc/locks"))
            QSKIP("No /proc/locks: the moment the rating waits for its save cannot be seen");
        const QString home = m_dir.path();
        const QString photo = writeImage(makeDir(home, "photos"), "a.jpg");
        // The real program rates the photo itself: it takes the sidecar's 4 on opening.
        QVERIFY(XmpSidecarWriter::writeRatingNow(photo, 4, nullptr));
        QSettings(home + "/.config/Kelvane/Kelvane.conf", QSettings::IniFormat)
            .setValue(XmpRatingSync::settingKey(), true);
        const QString ratings = makeDir(home, ".local/share/Kelvane") + "/star-ratings.json";

        QProcess kelvane;
        prepare(kelvane, true);
        QSignalSpy finished(&kelvane, &QProcess::finished);
        // The save waits behind the lock, as behind another Kelvane saving a large table.
        std::optional<AdvisoryFileLock> otherSaver(std::in_place, ratings + ".lock");
        kelvane.start(QStringLiteral(KELVANE_PROGRAM), {home + "/photos"});
        QTRY_VERIFY_WITH_TIMEOUT(someoneWaitsForLock(ratings + ".lock"), 20000);
        QCOMPARE(::kill(pid_t(kelvane.processId()), SIGTERM), 0);
        otherSaver.reset();

        QVERIFY(finished.wait(20000));
        QCOMPARE(kelvane.exitStatus(), QProcess::NormalExit);
        QCOMPARE(
            QJsonDocument::fromJson(BrowseFixtures::contents(ratings)).object().toVariantHash(),
            (QVariantHash{{photo, 4}}));
    }

private:
    void prepare(QProcess &program, bool display)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "DISPLAY",
                                 "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        environment.insert("HOME", m_dir.path()); // never the user's own stores
        environment.insert("XDG_RUNTIME_DIR", m_dir.path());
        environment.insert("XDG_CACHE_HOME", m_dir.path() + "/.cache");
        if (display) // a second start needs none
            environment.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::ForwardedChannels);
    }
    int runSecondStart(const QStringList &arguments)
    {
        QProcess second;
        prepare(second, false);
        second.setWorkingDirectory(m_dir.path());
        // The event loop must run meanwhile: this process is the one that answers.
        QSignalSpy finished(&second, &QProcess::finished);
        second.start(QStringLiteral(KELVANE_PROGRAM), arguments);
        if (!finished.wait(20000))
            return -1;
        return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1;
    }

    WorkQueues m_queues;
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestLaunch)
#include "tst_launch.moc"
