#include "BrowseFixtures.h"
#include "FileSystemFixtures.h"
#include "TestFiles.h"
#include "imaging/InFileRatingReader.h"
#include "imaging/XmpSidecarWriter.h"
#include "model/CullingMarkStore.h"
#include "model/LocalFileName.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"
#include "state/ArchiveFlow.h"
#include "state/InFileRatingCache.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <exiv2/exiv2.hpp>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// As Lightroom writes it: the rating as an element, beside its settings.
QByteArray lightroomSidecarRated(int rating)
{
    return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/"
           "22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/"
           "xap/1.0/\" xmlns:crs=\"http://ns.adobe.com/camera-raw-settings/1.0/\">\n  "
           "<xmp:Rating>" +
           QByteArray::number(rating) +
           "</xmp:Rating> <crs:Exposure2012>+0.35</crs:Exposure2012>"
           "</rdf:Description></rdf:RDF></x:xmpmeta>\n";
}

// The rating, label and Lightroom's exposure a sidecar holds, "" for absent.
QStringList sidecarValues(const QString &sidecar)
{
    QFile file(sidecar);
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("no sidecar")};
    Exiv2::XmpData xmp;
    Exiv2::XmpParser::decode(xmp, file.readAll().toStdString());
    QStringList values;
    for (const char *key : {"Xmp.xmp.Rating", "Xmp.xmp.Label", "Xmp.crs.Exposure2012"}) {
        const auto it = xmp.findKey(Exiv2::XmpKey(key));
        values << (it == xmp.end() ? QString() : QString::fromStdString(it->toString()));
    }
    return values;
}

} // namespace

class TestXmpRatingSync : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    WorkQueues m_queues;
    std::unique_ptr<AppState> m_state;

    QString folder() const { return m_dir.filePath("photos"); }
    QString photo(const QString &name) const { return folder() + '/' + name; }
    QStringList listing() const
    {
        return QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    StarRatingStore &store() { return m_state->starRatingStore(); }
    XmpRatingSync &sync() { return m_state->xmpRatingSync(); }

    void makeState()
    {
        m_state.reset(); // one at a time, as the application
        m_state = BrowseFixtures::makeState(m_queues, m_dir.path());
    }
    // Opens the photos and waits for the ratings taken from their files.
    void openPhotos(bool waitForImport = false)
    {
        QSignalSpy imported(&sync(), &XmpRatingSync::importFinished);
        QFuture<void> done = m_state->openFolder(QUrl::fromLocalFile(folder()), false);
        QTRY_VERIFY(done.isFinished());
        if (waitForImport)
            QTRY_COMPARE(imported.size(), 1);
    }
    ImageItem item(const QString &name) const { return BrowseFixtures::item(*m_state, name); }

private Q_SLOTS:
    void init()
    {
        QVERIFY((m_dir = QTemporaryDir()).isValid());
        TestFiles::touch(folder(), "a.jpg");
        TestFiles::touch(folder(), "b.jpg");
        makeState();
    }
    void cleanup() { m_state.reset(); }

    void offByDefaultThenWritesRatedFilesAndIsRemembered()
    {
        QVERIFY(XmpSidecarWriter::writeRatingNow(photo("b.jpg"), 4, nullptr));
        openPhotos();
        QCOMPARE(store().rating(photo("b.jpg")), 0); // not read while off
        const QStringList before = listing();
        m_state->updateRating(3, item("a.jpg"));
        sync().waitForDone();
        QCOMPARE(listing(), before);
        // Only the rated file gets a sidecar.
        sync().setEnabled(true);
        QTRY_COMPARE(m_state->statusMessage(), QStringLiteral("已将 1 个评分写入 XMP 附属文件"));
        QCOMPARE(listing(), QStringList({"a.jpg", "a.jpg.xmp", "b.jpg", "b.jpg.xmp"}));
        QCOMPARE(InFileRatingReader::read(photo("a.jpg")), 3);
        QCOMPARE(*InFileRatingReader::sidecarRating(photo("b.jpg.xmp")), 4);
        for (const int stars : {2, 5, 5}) // the same star again clears it
            m_state->updateRating(stars, item("b.jpg"));
        m_state.reset(); // quitting at once
        QCOMPARE(*InFileRatingReader::sidecarRating(photo("b.jpg.xmp")), 0);
        makeState();
        QVERIFY(sync().isEnabled());
    }
    // A reject takes the stars' place in the sidecar until it is cleared; a
    // pick is not written; labels are put, changed and removed.
    void marksAreWrittenAsRejectAndLabelKeepingTheRest()
    {
        TestFiles::touch(folder(), "a.jpg.xmp", lightroomSidecarRated(2));
        openPhotos();
        sync().setEnabled(true);
        store().setRating(3, photo("a.jpg"));
        CullingMarkStore &marks = m_state->cullingMarks();
        const QString sidecar = photo("a.jpg.xmp");
        const auto step = [&](const std::function<void()> &change, const QStringList &expected) {
            change();
            sync().waitForDone();
            QCOMPARE(sidecarValues(sidecar), expected);
        };
        step([&] { marks.setLabel(photo("a.jpg"), ColourLabel::green); }, {"3", "Green", "+0.35"});
        step([&] { marks.setFlag(photo("a.jpg"), CullingFlag::reject); }, {"-1", "Green", "+0.35"});
        step([&] { store().setRating(4, photo("a.jpg")); }, {"-1", "Green", "+0.35"});
        step([&] { marks.setLabel(photo("a.jpg"), ColourLabel::purple); },
             {"-1", "Purple", "+0.35"});
        step([&] { marks.setFlag(photo("a.jpg"), CullingFlag::pick); }, {"4", "Purple", "+0.35"});
        step([&] { marks.setLabel(photo("a.jpg"), ColourLabel::none); }, {"4", "", "+0.35"});
        // A batch writes both parts, and a photo gone meanwhile is no failure.
        QVERIFY(QFile::remove(photo("a.jpg")));
        step(
            [&] {
                marks.setFlags({photo("a.jpg"), photo("b.jpg")}, CullingFlag::reject);
            },
            {"4", "", "+0.35"});
        QCOMPARE(sidecarValues(photo("b.jpg.xmp")), QStringList({"-1", "", ""}));
        QCoreApplication::sendPostedEvents(); // the writes' outcomes
        QCOMPARE(sync().failedFiles(), QSet<QString>());
    }
    // Rejects and labels fill only the marks left empty here.
    void openingTakesRejectsAndLabelsFromTheFiles()
    {
        const auto sidecar = [](const char *rating, const char *label) {
            return lightroomSidecarRated(0).replace("<xmp:Rating>0</xmp:Rating>",
                                                    QByteArray("<xmp:Rating>") + rating +
                                                        "</xmp:Rating><xmp:Label>" + label +
                                                        "</xmp:Label>");
        };
        TestFiles::touch(folder(), "a.jpg.xmp", sidecar("-1", "Green"));
        TestFiles::touch(folder(), "b.jpg.xmp", sidecar("2", "Red"));
        TestFiles::touch(folder(), "c.jpg", "");
        TestFiles::touch(folder(), "c.jpg.xmp", sidecar("-1", "Blue"));
        CullingMarkStore &marks = m_state->cullingMarks();
        marks.setLabel(photo("b.jpg"), ColourLabel::blue);
        marks.setFlag(photo("c.jpg"), CullingFlag::pick);
        sync().setEnabled(true);
        openPhotos(true);
        QCOMPARE(marks.mark(photo("a.jpg")),
                 (CullingMark{CullingFlag::reject, ColourLabel::green}));
        QCOMPARE(store().rating(photo("a.jpg")), 0);
        QCOMPARE(marks.mark(photo("b.jpg")), (CullingMark{CullingFlag::none, ColourLabel::blue}));
        QCOMPARE(store().rating(photo("b.jpg")), 2);
        QCOMPARE(marks.mark(photo("c.jpg")), (CullingMark{CullingFlag::pick, ColourLabel::blue}));
    }
    void openingTakesChangedInFileRatingsInOneBatch()
    {
        // However few threads the global pool has (one on a one-core machine).
        QThreadPool &pool = *QThreadPool::globalInstance();
        const int threads = pool.maxThreadCount();
        pool.setMaxThreadCount(1);
        const auto restoreThreads = qScopeGuard([&] { pool.setMaxThreadCount(threads); });
        store().setRating(2, photo("a.jpg"));
        store().setRating(3, photo("b.jpg"));
        QVERIFY(XmpSidecarWriter::writeRatingNow(photo("a.jpg"), 4, nullptr));
        QVERIFY(XmpSidecarWriter::writeRatingNow(photo("b.jpg"), 0,
                                                 nullptr)); // "no rating": the table keeps its 3
        // A RAW's <stem>.xmp gives its rating to the RAW, not to its JPEG.
        const QString raw = TestFiles::touch(folder(), "IMG.CR2");
        const QString jpeg = TestFiles::touch(folder(), "IMG.JPG");
        QVERIFY(XmpSidecarWriter::writeRatingNow(raw, 3, nullptr));
        // Names that are not UTF-8 (Qt's own clean-up cannot name these files).
        const QByteArray cafe = LocalFileName::encode(folder()) + "/caf\xe9";
        const auto removeFiles = qScopeGuard([&] {
            ::unlink((cafe + ".jpg").constData());
            ::unlink((cafe + ".xmp").constData());
        });
        for (const auto &[name, content] : {std::pair{cafe + ".jpg", QByteArray("x")},
                                            {cafe + ".xmp", lightroomSidecarRated(3)}}) {
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            QVERIFY(fd >= 0 && ::write(fd, content.constData(), content.size()) == content.size());
            ::close(fd);
        }
        sync().setEnabled(true);
        QSignalSpy batches(&store(), &StarRatingStore::ratingsRemoved);
        openPhotos();
        QTRY_COMPARE(m_state->toastMessage(),
                     std::optional<QString>(QStringLiteral("已从文件读取 3 个评分")));
        QCOMPARE(batches.size(), 1);
        QCOMPARE(QList({store().rating(photo("a.jpg")), store().rating(photo("b.jpg")),
                        store().rating(raw), store().rating(jpeg),
                        store().rating(LocalFileName::decode(cafe + ".jpg"))}),
                 QList({4, 3, 3, 0, 3}));
        // A sidecar changed without a new size or time is not read again.
        const QByteArray sidecar = QFile::encodeName(photo("a.jpg.xmp"));
        struct stat written;
        QCOMPARE(::stat(sidecar.constData(), &written), 0);
        QVERIFY(XmpSidecarWriter::writeRatingNow(photo("a.jpg"), 5, nullptr));
        const struct timespec times[2] = {written.st_atim, written.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, sidecar.constData(), times, 0), 0);
        m_state->setToastMessage(std::nullopt);
        QSignalSpy imported(&sync(), &XmpRatingSync::importFinished);
        openPhotos(true);
        QCOMPARE(imported.first().at(0).value<qsizetype>(), 0);
        QCOMPARE(store().rating(photo("a.jpg")), 4);
        QVERIFY(!m_state->toastMessage());
    }
    void cacheMergesWithAnotherProcessAndSetsADamagedOneAside()
    {
        const QString file = m_dir.filePath("in-file-ratings.json");
        const QByteArray damaged = "{\"files\":{\"/p/theirs.jpg\":[\"1:2.0\",2]},\"unwri";
        TestFiles::touch(m_dir.path(), "in-file-ratings.json", damaged);
        InFileRatingCache mine = InFileRatingCache::load(file);
        const CullingMark found{CullingFlag::reject, ColourLabel::green};
        mine.entries.insert("/p/mine.jpg", {"1:2.0", 4, found});
        QVERIFY(mine.save(file));
        QCOMPARE(BrowseFixtures::contents(file + ".damaged"), damaged);
        QCOMPARE(InFileRatingCache::load(file).entries.value("/p/mine.jpg"),
                 (InFileRatingCache::Entry{"1:2.0", 4, found}));
        mine.unwritten.insert("/p/mine-failed.jpg");
        QProcess peer;
        peer.start(KELVANE_RATING_PEER, {file + ".unused"});
        peer.write(
            QStringLiteral("cache %1 /p/theirs.jpg 2 /p/their-failed.jpg\n").arg(file).toUtf8());
        peer.closeWriteChannel();
        QVERIFY2(peer.waitForFinished(), qPrintable(peer.errorString()));
        QCOMPARE(peer.readAll(), QByteArray("ok\n"));
        // Each side keeps what the other saved, also its failed photos.
        QVERIFY(mine.save(file));
        mine.unwritten.remove("/p/mine-failed.jpg");
        QVERIFY(mine.save(file));
        const InFileRatingCache stored = InFileRatingCache::load(file);
        QCOMPARE(stored.entries.value("/p/theirs.jpg").rating, 2);
        QCOMPARE(stored.entries.value("/p/mine.jpg").rating, 4);
        QCOMPARE(stored.unwritten, QSet<QString>{"/p/their-failed.jpg"});
        QCOMPARE(mine.entries.size(), 2);
        // A folder where the file should be cannot be read: not damaged, nothing written.
        QVERIFY(QFile::remove(file) && QDir().mkdir(file));
        QVERIFY(!mine.save(file));
        QVERIFY(QFileInfo(file).isDir());
        QVERIFY(!QFileInfo::exists(file + ".damaged.1"));
    }
    // However often the folder is left while it is read, its sidecars' ratings arrive.
    void lightroomSidecarsAreImportedHoweverOftenTheFolderIsLeft()
    {
        QStringList photos;
        for (int i = 0; i < 24; ++i) {
            photos << TestFiles::touch(folder(), QStringLiteral("ladybug %1.jpg").arg(i));
            TestFiles::touch(folder(), QStringLiteral("ladybug %1.xmp").arg(i),
                             lightroomSidecarRated(1));
        }
        for (int attempt = 0; attempt < 20; ++attempt) {
            // Quitting right after the folder opened, while it is being read.
            makeState();
            sync().setEnabled(true);
            openPhotos();
            makeState();
            openPhotos(true);
            for (const QString &photo : std::as_const(photos))
                QCOMPARE(store().rating(photo), 1);
            // The next attempt starts from nothing known.
            m_state.reset();
            QFile::remove(m_dir.filePath("ratings.json"));
            QFile::remove(m_dir.filePath("in-file-ratings.json"));
        }
    }

    // A rating waiting to be written stays; what is not in a sidecar when archived (a
    // failed write, a rating given while it moves) is written at its new place.
    void unwrittenRatingsStayAndFollowArchivedPhotos()
    {
        const QString target = photo("批量归档");
        TestFiles::touch(folder(), "a.jpg.xmp", lightroomSidecarRated(2));
        TestFiles::touch(folder(), "b.xmp", lightroomSidecarRated(1));
        openPhotos();
        sync().setEnabled(true);
        {
            // Another program keeps changing the sidecar: the 4 is not written.
            XmpSidecarWriter::setBeforeReplace([](const QString &path) {
                QFile file(path);
                if (file.open(QIODevice::Append))
                    file.write(" ");
            });
            const auto restore = qScopeGuard([] { XmpSidecarWriter::setBeforeReplace({}); });
            m_state->updateRating(4, item("a.jpg"));
            QTRY_COMPARE(sync().failedFiles().size(), 1);
        }
        QSemaphore held;
        QSemaphoreReleaser releaseOnFailure(held);
        sync().writerPool()->start([&held] { held.acquire(); });
        m_state->updateRating(3, item("b.jpg"));
        openPhotos(true);
        QCOMPARE(store().rating(photo("b.jpg")), 3);
        QFuture<void> done = ArchiveFlow(*m_state, m_state->workQueues().fileOperations())
                                 .run(m_state->images(), target);
        m_state->updateRating(5, item("b.jpg")); // while the photos move
        releaseOnFailure.cancel();
        held.release();
        QTRY_VERIFY(done.isFinished());
        sync().waitForDone();
        QCoreApplication::sendPostedEvents(); // the last writes' outcomes
        QCOMPARE(InFileRatingReader::read(target + "/a.jpg"), 4);
        QCOMPARE(InFileRatingReader::read(target + "/b.jpg"), 5);
        QCOMPARE(sync().failedFiles(), QSet<QString>());
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
        // No entry can be added or replaced: for root, the immutable attribute.
        std::optional<ImmutableFlag> immutable;
        const auto unlock = qScopeGuard([&] {
            m_state.reset();
            immutable.reset();
            QFile::setPermissions(folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        if (readOnlyFolder) {
            QVERIFY(XmpSidecarWriter::writeRatingNow(
                photo("a.jpg"), 2, nullptr)); // an older rating, which must not come back
            if (::geteuid() == 0
                    ? !immutable.emplace(folder()).isActive()
                    : !QFile::setPermissions(folder(), QFile::ReadOwner | QFile::ExeOwner))
                QSKIP("Root cannot make a folder read-only here (no immutable attribute)");
        } else {
            // Fails even for root.
            TestFiles::makeDir(folder(), "a.jpg.xmp");
            TestFiles::makeDir(folder(), "b.jpg.xmp");
        }
        const QStringList before = listing();
        openPhotos();
        sync().setEnabled(true);
        m_state->updateRating(3, item("a.jpg"));
        m_state.reset(); // quitting before the failure came back
        makeState();
        openPhotos(true);
        QCOMPARE(store().rating(photo("a.jpg")), 3);
        QSignalSpy status(m_state.get(), &AppState::statusMessageChanged);
        m_state->updateRating(4, item("a.jpg"));
        m_state->updateRating(1, item("b.jpg"));
        QTRY_COMPARE(sync().failedFiles().size(), 2);
        const auto reported = [](const auto &arguments) {
            return arguments.at(0).toString().startsWith(QStringLiteral("无法写入 XMP 附属文件："));
        };
        QCOMPARE(std::count_if(status.cbegin(), status.cend(), reported), 1);
        QCOMPARE(QList({store().rating(photo("a.jpg")), store().rating(photo("b.jpg"))}),
                 QList({4, 1}));
        QCOMPARE(listing(), before);
    }
};

QTEST_GUILESS_MAIN(TestXmpRatingSync)
#include "tst_xmpratingsync.moc"
