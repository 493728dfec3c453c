#include "FileSystemFixtures.h"
#include "TestFiles.h"
#include "imaging/InFileRatingReader.h"
#include "imaging/XmpSidecarWriter.h"
#include "model/LocalFileName.h"
#include "state/AppState.h"
#include "state/ArchiveFlow.h"
#include "state/InFileRatingCache.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// As Lightroom writes it: the rating as an element, beside its settings.
const char lightroomSidecar[] =
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
    "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
    " <rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
    "   xmlns:crs=\"http://ns.adobe.com/camera-raw-settings/1.0/\">\n"
    "  <xmp:Rating>%1</xmp:Rating>\n  <crs:Exposure2012>+0.35</crs:Exposure2012>\n"
    " </rdf:Description>\n</rdf:RDF></x:xmpmeta>\n";

QByteArray lightroomSidecarRated(int rating)
{
    return QString::fromLatin1(lightroomSidecar).arg(rating).toLatin1();
}

bool createFile(const QByteArray &path, const QByteArray &content)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, content.constData(), size_t(content.size())) == content.size();
    return ::close(fd) == 0 && written;
}

} // namespace

class TestXmpRatingSync : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<AppState> m_state;
    std::function<void()> m_unlockFolder;

    QString folder() const { return m_dir.filePath(QStringLiteral("photos")); }
    QString settingsFile() const { return m_dir.filePath(QStringLiteral("settings.ini")); }
    QStringList listing() const
    {
        return QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    // No entry can be added to the folder or replaced in it: for root, whom
    // permissions do not stop, the immutable attribute.
    bool lockFolder()
    {
        if (::geteuid() != 0) {
            m_unlockFolder = [path = folder()] {
                QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            };
            return QFile::setPermissions(folder(), QFile::ReadOwner | QFile::ExeOwner);
        }
        auto flag = std::make_shared<ImmutableFlag>(folder());
        if (!flag->isActive())
            return false;
        m_unlockFolder = [flag]() mutable { flag.reset(); };
        return true;
    }

    void makeState()
    {
        m_state = std::make_unique<AppState>(m_dir.filePath(QStringLiteral("ratings.json")),
                                             settingsFile());
    }

    void openPhotos()
    {
        QFuture<void> done = m_state->openFolder(QUrl::fromLocalFile(folder()), false);
        QTRY_VERIFY(done.isFinished());
    }

    ImageItem item(const QString &name) const
    {
        for (const ImageItem &image : m_state->images()) {
            if (image.filename() == name)
                return image;
        }
        return {};
    }

private Q_SLOTS:
    void init()
    {
        m_dir = QTemporaryDir();
        QVERIFY(m_dir.isValid());
        TestFiles::touch(folder(), QStringLiteral("a.jpg"));
        TestFiles::touch(folder(), QStringLiteral("b.jpg"));
        makeState();
    }
    void cleanup()
    {
        m_state.reset();
        if (m_unlockFolder)
            std::exchange(m_unlockFolder, {})();
    }

    void offByDefaultAndNoSidecarIsEverTouched()
    {
        QVERIFY(!m_state->xmpRatingSync().isEnabled());
        QString error;
        QVERIFY(XmpSidecarWriter::writeRatingNow(folder() + QStringLiteral("/b.jpg"), 4, &error));
        openPhotos();
        QCOMPARE(m_state->starRatingStore().rating(folder() + QStringLiteral("/b.jpg")), 0);
        const QStringList before = listing();
        m_state->updateRating(3, item(QStringLiteral("a.jpg")));
        m_state->starRatingStore().setRating(5, folder() + QStringLiteral("/b.jpg"));
        m_state->xmpRatingSync().waitForDone();
        QCOMPARE(listing(), before);
        QCOMPARE(m_state->starRatingStore().rating(folder() + QStringLiteral("/a.jpg")), 3);
    }

    void turningOnWritesRatedFilesAndIsRemembered()
    {
        openPhotos();
        m_state->updateRating(4, item(QStringLiteral("a.jpg")));
        QSignalSpy status(m_state.get(), &AppState::statusMessageChanged);
        m_state->xmpRatingSync().setEnabled(true);
        QTRY_COMPARE(m_state->statusMessage(), QStringLiteral("已将 1 个评分写入 XMP 附属文件"));
        // Only the rated file gets a sidecar.
        QCOMPARE(listing(), QStringList({QStringLiteral("a.jpg"), QStringLiteral("a.jpg.xmp"),
                                         QStringLiteral("b.jpg")}));
        QCOMPARE(InFileRatingReader::read(folder() + QStringLiteral("/a.jpg")), 4);

        m_state.reset();
        QVERIFY(QSettings(settingsFile(), QSettings::IniFormat)
                    .value(XmpRatingSync::settingKey())
                    .toBool());
        makeState();
        QVERIFY(m_state->xmpRatingSync().isEnabled());
    }

    void openingTakesChangedInFileRatingsInOneBatch()
    {
        // However few threads the global pool has (one on a one-core machine).
        QThreadPool &pool = *QThreadPool::globalInstance();
        const int threads = pool.maxThreadCount();
        pool.setMaxThreadCount(1);
        const auto restoreThreads = qScopeGuard([&] { pool.setMaxThreadCount(threads); });
        const QString a = folder() + QStringLiteral("/a.jpg");
        const QString b = folder() + QStringLiteral("/b.jpg");
        m_state->starRatingStore().setRating(2, a);
        m_state->starRatingStore().setRating(3, b);
        QString error;
        QVERIFY(XmpSidecarWriter::writeRatingNow(a, 4, &error));
        // A sidecar's 0 is "no rating": the table keeps its 3.
        QVERIFY(XmpSidecarWriter::writeRatingNow(b, 0, &error));
        m_state->xmpRatingSync().setEnabled(true);

        QSignalSpy batches(&m_state->starRatingStore(), &StarRatingStore::ratingsRemoved);
        openPhotos();
        QTRY_COMPARE(m_state->toastMessage(),
                     std::optional<QString>(QStringLiteral("已从文件读取 1 个评分")));
        QCOMPARE(batches.size(), 1);
        QCOMPARE(m_state->starRatingStore().rating(a), 4);
        QCOMPARE(m_state->starRatingStore().rating(b), 3);
        QCOMPARE(m_state->statusMessage(), QStringLiteral("共 2 张图片"));

        // A sidecar changed without a new size or time is not read again.
        const QByteArray sidecar = QFile::encodeName(a + QStringLiteral(".xmp"));
        struct stat written;
        QCOMPARE(::stat(sidecar.constData(), &written), 0);
        QVERIFY(XmpSidecarWriter::writeRatingNow(a, 5, &error));
        const struct timespec times[2] = {written.st_atim, written.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, sidecar.constData(), times, 0), 0);
        m_state->setToastMessage(std::nullopt);
        QSignalSpy imported(&m_state->xmpRatingSync(), &XmpRatingSync::importFinished);
        openPhotos();
        QTRY_COMPARE(imported.size(), 1);
        QCOMPARE(imported.first().at(0).value<qsizetype>(), 0);
        QCOMPARE(m_state->starRatingStore().rating(a), 4);
        QVERIFY(!m_state->toastMessage());
    }

    // A RAW's <stem>.xmp gives its rating to the RAW, not to its JPEG.
    void rawSidecarIsNotImportedForItsJpeg()
    {
        const QString raw = TestFiles::touch(folder(), QStringLiteral("IMG.CR2"));
        const QString jpeg = TestFiles::touch(folder(), QStringLiteral("IMG.JPG"));
        QString error;
        QVERIFY(XmpSidecarWriter::writeRatingNow(raw, 3, &error));
        QVERIFY(QFileInfo::exists(folder() + QStringLiteral("/IMG.xmp")));
        m_state->xmpRatingSync().setEnabled(true);
        openPhotos();
        QTRY_COMPARE(m_state->starRatingStore().rating(raw), 3);
        QCOMPARE(m_state->starRatingStore().rating(jpeg), 0);
    }

    void ratingChangesReachTheSidecarBeforeQuit()
    {
        m_state->xmpRatingSync().setEnabled(true);
        openPhotos();
        const ImageItem b = item(QStringLiteral("b.jpg"));
        m_state->updateRating(2, b);
        m_state->updateRating(5, b);
        m_state->updateRating(5, b); // the same star again clears it
        m_state.reset();             // quitting at once
        QCOMPARE(*InFileRatingReader::sidecarRating(folder() + QStringLiteral("/b.jpg.xmp")), 0);
    }

    void cacheSavesMergeWithAnotherProcess()
    {
        const QString file = m_dir.filePath(QStringLiteral("in-file-ratings.json"));
        InFileRatingCache mine = InFileRatingCache::load(file);
        mine.entries.insert(QStringLiteral("/p/mine.jpg"), {QStringLiteral("1:2.0"), 4});
        mine.unwritten.insert(QStringLiteral("/p/mine-failed.jpg"));
        QProcess peer;
        peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        peer.start(QStringLiteral(KELVANE_RATING_PEER), {file + QStringLiteral(".unused")});
        QVERIFY2(peer.waitForStarted(), qPrintable(peer.errorString()));
        peer.write(
            QStringLiteral("cache %1 /p/theirs.jpg 2 /p/their-failed.jpg\n").arg(file).toUtf8());
        while (!peer.canReadLine())
            QVERIFY(peer.waitForReadyRead(20000));
        QCOMPARE(peer.readLine(), QByteArray("ok\n"));
        peer.closeWriteChannel();
        QVERIFY(peer.waitForFinished());

        // Each side keeps what the other saved, also its failed photos.
        QVERIFY(mine.save(file));
        mine.unwritten.remove(QStringLiteral("/p/mine-failed.jpg"));
        QVERIFY(mine.save(file));
        const InFileRatingCache stored = InFileRatingCache::load(file);
        QCOMPARE(stored.entries.value(QStringLiteral("/p/theirs.jpg")).rating, 2);
        QCOMPARE(stored.entries.value(QStringLiteral("/p/mine.jpg")).rating, 4);
        QCOMPARE(stored.unwritten, QSet<QString>{QStringLiteral("/p/their-failed.jpg")});
        QCOMPARE(mine.entries.size(), 2);
    }

    void damagedCacheIsSetAsideAndAnUnreadableOneKept()
    {
        const QString file = m_dir.filePath(QStringLiteral("in-file-ratings.json"));
        const QByteArray damaged = "{\"files\":{\"/p/theirs.jpg\":[\"1:2.0\",2]},\"unwri";
        for (const QString &aside : {file + ".damaged", file + ".damaged.1"}) {
            TestFiles::touch(m_dir.path(), QStringLiteral("in-file-ratings.json"), damaged);
            InFileRatingCache mine = InFileRatingCache::load(file);
            mine.entries.insert(QStringLiteral("/p/mine.jpg"), {QStringLiteral("1:2.0"), 4});
            QVERIFY(mine.save(file));
            QFile kept(aside);
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), damaged);
            QCOMPARE(InFileRatingCache::load(file).entries.value("/p/mine.jpg").rating, 4);
        }
        // A folder where the file should be cannot be read: not damaged, nothing written.
        QVERIFY(QFile::remove(file));
        QVERIFY(QDir().mkdir(file));
        InFileRatingCache mine;
        mine.entries.insert(QStringLiteral("/p/mine.jpg"), {QStringLiteral("1:2.0"), 4});
        QVERIFY(!mine.save(file));
        QVERIFY(QFileInfo(file).isDir());
        QVERIFY(!QFileInfo::exists(file + ".damaged.2"));
    }

    void namesThatAreNotUtf8AreImportedAndWritten()
    {
        const QByteArray photoBytes = LocalFileName::encode(folder()) + "/caf\xe9.jpg";
        const QByteArray sidecarBytes = LocalFileName::encode(folder()) + "/caf\xe9.xmp";
        // Qt's own clean-up cannot name these files.
        const auto removeFiles = qScopeGuard([&] {
            ::unlink(photoBytes.constData());
            ::unlink(sidecarBytes.constData());
        });
        QVERIFY(createFile(photoBytes, "x"));
        QVERIFY(createFile(sidecarBytes, lightroomSidecarRated(3)));
        const QString photo = LocalFileName::decode(photoBytes);
        m_state->xmpRatingSync().setEnabled(true);
        QSignalSpy imported(&m_state->xmpRatingSync(), &XmpRatingSync::importFinished);
        openPhotos();
        QTRY_COMPARE(imported.size(), 1);
        QCOMPARE(m_state->starRatingStore().rating(photo), 3);

        m_state->starRatingStore().setRating(5, photo);
        m_state->xmpRatingSync().waitForDone();
        QCOMPARE(InFileRatingReader::read(photo), 5);
    }

    // A folder opened again and again, and left at any moment, always ends
    // with the ratings its Lightroom sidecars hold.
    void lightroomSidecarsAreImportedHoweverOftenTheFolderIsLeft()
    {
        QStringList photos;
        for (int i = 0; i < 24; ++i) {
            const QString name = QStringLiteral("ladybug %1").arg(i);
            photos << TestFiles::touch(folder(), name + QStringLiteral(".jpg"));
            TestFiles::touch(folder(), name + QStringLiteral(".xmp"), lightroomSidecarRated(1));
        }
        for (int attempt = 0; attempt < 20; ++attempt) {
            // Quitting right after the folder opened, while it is being read.
            makeState();
            m_state->xmpRatingSync().setEnabled(true);
            QFuture<void> scanned = m_state->openFolder(QUrl::fromLocalFile(folder()), false);
            QTRY_VERIFY(scanned.isFinished());
            m_state.reset();

            makeState();
            QSignalSpy imported(&m_state->xmpRatingSync(), &XmpRatingSync::importFinished);
            openPhotos();
            QTRY_COMPARE(imported.size(), 1);
            for (const QString &photo : std::as_const(photos))
                QCOMPARE(m_state->starRatingStore().rating(photo), 1);
            // The next attempt starts from nothing known.
            m_state.reset();
            QFile::remove(m_dir.filePath(QStringLiteral("ratings.json")));
            QFile::remove(m_dir.filePath(QStringLiteral("in-file-ratings.json")));
        }
    }

    // The file still holds the rating a write waiting in line will replace:
    // the rating given here stays.
    void ratingWaitingToBeWrittenIsNotTakenBack()
    {
        const QString a = folder() + QStringLiteral("/a.jpg");
        TestFiles::touch(folder(), QStringLiteral("a.xmp"), lightroomSidecarRated(1));
        openPhotos();
        m_state->xmpRatingSync().setEnabled(true);
        QSemaphore held;
        QSemaphoreReleaser releaseOnFailure(held);
        m_state->xmpRatingSync().writerPool()->start([&held] { held.acquire(); });
        m_state->updateRating(3, item(QStringLiteral("a.jpg")));
        QSignalSpy imported(&m_state->xmpRatingSync(), &XmpRatingSync::importFinished);
        openPhotos();
        QTRY_COMPARE(imported.size(), 1);
        QCOMPARE(m_state->starRatingStore().rating(a), 3);
        releaseOnFailure.cancel();
        held.release();
        m_state->xmpRatingSync().waitForDone();
        QCOMPARE(InFileRatingReader::read(a), 3);
    }

    // What is not yet in a photo's sidecar when it is archived (a failed
    // write, a rating given while it moves) is written at its new place.
    void archivedPhotosTakeUnwrittenRatingsAlong()
    {
        const QString target = folder() + QStringLiteral("/批量归档");
        TestFiles::touch(folder(), QStringLiteral("a.jpg.xmp"), lightroomSidecarRated(2));
        openPhotos();
        m_state->xmpRatingSync().setEnabled(true);
        {
            // Another program keeps changing the sidecar: the 4 is not written.
            XmpSidecarWriter::setBeforeReplace([](const QString &path) {
                QFile file(path);
                if (file.open(QIODevice::Append))
                    file.write(" ");
            });
            const auto restore = qScopeGuard([] { XmpSidecarWriter::setBeforeReplace({}); });
            m_state->updateRating(4, item(QStringLiteral("a.jpg")));
            QTRY_COMPARE(m_state->xmpRatingSync().failedFiles().size(), 1);
        }
        QSemaphore held;
        QSemaphoreReleaser releaseOnFailure(held);
        m_state->xmpRatingSync().writerPool()->start([&held] { held.acquire(); });
        QFuture<void> done = ArchiveFlow(*m_state, m_state->workQueues().fileOperations())
                                 .run(m_state->images(), target);
        m_state->updateRating(5, item(QStringLiteral("b.jpg"))); // while the photos move
        releaseOnFailure.cancel();
        held.release();
        QTRY_VERIFY(done.isFinished());
        m_state->xmpRatingSync().waitForDone();
        QCoreApplication::sendPostedEvents(); // the last writes' outcomes
        QCOMPARE(InFileRatingReader::read(target + QStringLiteral("/a.jpg")), 4);
        QCOMPARE(InFileRatingReader::read(target + QStringLiteral("/b.jpg")), 5);
        QCOMPARE(m_state->xmpRatingSync().failedFiles(), QSet<QString>());
    }

    void failedWritesKeepTheRatingAndAreReportedOncePerFolder_data()
    {
        QTest::addColumn<bool>("readOnlyFolder");
        QTest::newRow("a folder where the sidecar would go") << false;
        QTest::newRow("read-only folder") << true;
    }

    void failedWritesKeepTheRatingAndAreReportedOncePerFolder()
    {
        QFETCH(bool, readOnlyFolder);
        const QString a = folder() + QStringLiteral("/a.jpg");
        const QString b = folder() + QStringLiteral("/b.jpg");
        if (readOnlyFolder) {
            // An older rating in the file, which must not come back.
            QString error;
            QVERIFY(XmpSidecarWriter::writeRatingNow(a, 2, &error));
            if (!lockFolder())
                QSKIP("Root cannot make a folder read-only here (the file system keeps no "
                      "immutable attribute): the read-only folder is not exercised");
        } else {
            // Fails even for root.
            TestFiles::makeDir(folder(), QStringLiteral("a.jpg.xmp"));
            TestFiles::makeDir(folder(), QStringLiteral("b.jpg.xmp"));
        }
        const QStringList before = listing();
        openPhotos();
        m_state->xmpRatingSync().setEnabled(true);
        m_state->updateRating(3, item(QStringLiteral("a.jpg")));
        m_state.reset(); // quitting before the failure came back

        makeState();
        QSignalSpy imported(&m_state->xmpRatingSync(), &XmpRatingSync::importFinished);
        openPhotos();
        QTRY_COMPARE(imported.size(), 1);
        QCOMPARE(m_state->starRatingStore().rating(a), 3);

        QSignalSpy status(m_state.get(), &AppState::statusMessageChanged);
        m_state->updateRating(4, item(QStringLiteral("a.jpg")));
        m_state->updateRating(1, item(QStringLiteral("b.jpg")));
        QTRY_COMPARE(m_state->xmpRatingSync().failedFiles().size(), 2);
        qsizetype failures = 0;
        for (const auto &arguments : status) {
            if (arguments.at(0).toString().startsWith(QStringLiteral("无法写入 XMP 附属文件：")))
                ++failures;
        }
        QCOMPARE(failures, 1);
        QCOMPARE(m_state->starRatingStore().rating(a), 4);
        QCOMPARE(m_state->starRatingStore().rating(b), 1);
        QCOMPARE(listing(), before);
    }
};

QTEST_GUILESS_MAIN(TestXmpRatingSync)
#include "tst_xmpratingsync.moc"
