#include "ImagingFixtures.h"
#include "TestFiles.h"
#include "imaging/InFileRatingReader.h"
#include "imaging/XmpSidecarWriter.h"
#include "model/LocalFileName.h"
#include "model/WorkQueues.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ImagingFixtures;

namespace {

Exiv2::XmpData decodeFile(const QString &path)
{
    Exiv2::XmpData xmp;
    Exiv2::XmpParser::decode(xmp, readBytes(path).toStdString());
    return xmp;
}

void encodeFile(const QString &path, const Exiv2::XmpData &xmp)
{
    std::string packet;
    Exiv2::XmpParser::encode(packet, xmp);
    QVERIFY(writeBytes(path, QByteArray::fromStdString(packet)));
}

void writeSidecarRating(const QString &path, const char *rating)
{
    Exiv2::XmpData xmp;
    xmp["Xmp.xmp.Rating"] = rating;
    encodeFile(path, xmp);
}

Exiv2::XmpData foreignSidecar()
{
    Exiv2::XmpData xmp;
    Exiv2::XmpTextValue bag;
    bag.setXmpArrayType(Exiv2::XmpValue::xaBag);
    xmp.add(Exiv2::XmpKey("Xmp.dc.subject"), &bag);
    auto keywords = Exiv2::Value::create(Exiv2::xmpBag);
    keywords->read("山");
    keywords->read("Urlaub");
    xmp.add(Exiv2::XmpKey("Xmp.dc.subject"), keywords.get());
    xmp["Xmp.xmp.Label"] = "Red";
    xmp["Xmp.crs.Exposure2012"] = "+0.50";
    Exiv2::XmpTextValue seq;
    seq.setXmpArrayType(Exiv2::XmpValue::xaSeq);
    xmp.add(Exiv2::XmpKey("Xmp.xmpMM.History"), &seq);
    xmp["Xmp.xmpMM.History[1]/stEvt:action"] = "saved";
    xmp["Xmp.xmpMM.History[1]/stEvt:softwareAgent"] = "Other Developer 2.1";
    xmp["Xmp.xmpMM.History[2]/stEvt:action"] = "derived";
    xmp["Xmp.xmp.Rating"] = "2";
    xmp["Xmp.MicrosoftPhoto.Rating"] = "25";
    return xmp;
}

QMap<std::string, std::string> withoutRating(const Exiv2::XmpData &xmp)
{
    QMap<std::string, std::string> properties;
    for (const auto &datum : xmp)
        properties.insert(datum.key(), datum.toString());
    properties.remove("Xmp.xmp.Rating");
    properties.remove("Xmp.MicrosoftPhoto.Rating");
    return properties;
}

std::string sidecarValue(const QString &path, const char *key)
{
    const Exiv2::XmpData xmp = decodeFile(path);
    const auto it = xmp.findKey(Exiv2::XmpKey(key));
    return it == xmp.end() ? std::string() : it->toString();
}

const QString succeeded = QStringLiteral("succeeded");

QString writeNow(const QString &photo, int rating)
{
    QString error;
    return XmpSidecarWriter::writeRatingNow(photo, rating, &error) ? succeeded : error;
}

QStringList sortedListing(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray digest(const QString &path)
{
    return QCryptographicHash::hash(readBytes(path), QCryptographicHash::Sha256);
}

} // namespace

class TestXmpSidecar : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_counter = 0;
    QString freshFolder()
    {
        const QString folder = m_dir.filePath(QString::number(++m_counter));
        QDir().mkpath(folder);
        return folder;
    }
    static QString ratedJpeg(const QString &path, int exifRating, const char *xmpRating)
    {
        writeJpeg(path, quadrantPicture(32, 24));
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        if (exifRating >= 0)
            image->exifData()["Exif.Image.Rating"] = uint16_t(exifRating);
        if (xmpRating)
            image->xmpData()["Xmp.xmp.Rating"] = xmpRating;
        image->writeMetadata();
        return path;
    }

private Q_SLOTS:
    void sidecarNamesAndRatingValues()
    {
        QCOMPARE((QStringList{InFileRatingReader::fullNameSidecar(QStringLiteral("/p/IMG.CR2")),
                              InFileRatingReader::stemSidecar(QStringLiteral("/p.d/IMG")),
                              InFileRatingReader::stemSidecar(QStringLiteral("/p/a.b.jpg"))}),
                 (QStringList{"/p/IMG.CR2.xmp", "/p.d/IMG.xmp", "/p/a.b.xmp"}));
        // Outside 1-5, a value means none (0) or nothing at all.
        QList<std::optional<int>> read;
        for (const char *text : {"4", "5.0", "0", "-1", "9", "2.5", "x"})
            read << InFileRatingReader::ratingFromText(QString::fromLatin1(text));
        QCOMPARE(read, (QList<std::optional<int>>{4, 5, 0, 0, {}, {}, {}}));
    }
    void firstSourceHoldingARatingDecides()
    {
        const QString folder = freshFolder();
        const QString photo = ratedJpeg(folder + QStringLiteral("/IMG.jpg"), 2, nullptr);
        QCOMPARE(InFileRatingReader::read(photo), 2);
        ratedJpeg(photo, 2, "3");
        QCOMPARE(InFileRatingReader::read(photo), 3);
        const QString stem = folder + QStringLiteral("/IMG.xmp");
        writeSidecarRating(stem, "4");
        QCOMPARE(InFileRatingReader::read(photo), 4);
        // Only listed sidecars are looked at.
        QCOMPARE(InFileRatingReader::read(photo, {}), 3);
        const QString full = folder + QStringLiteral("/IMG.jpg.xmp");
        // 9 is ignored, so the next source decides; 0 hides the 4 and 3 behind it.
        for (const auto &[text, rating] : {std::pair{"5", 5}, {"9", 4}, {"-1", 0}, {"0", 0}}) {
            writeSidecarRating(full, text);
            QCOMPARE(InFileRatingReader::read(photo), rating);
        }
        QFile::remove(full);
        QFile::remove(stem);
        ratedJpeg(photo, 0, "-1");
        QCOMPARE(InFileRatingReader::read(photo), 0);
        // Damaged or missing files hold no rating.
        const QString broken = folder + QStringLiteral("/broken.jpg");
        QVERIFY(writeBytes(broken, "\xff\xd8\xff\xe1garbage"));
        QVERIFY(writeBytes(broken + QStringLiteral(".xmp"), "<x:xmpmeta><rdf:RDF"));
        QCOMPARE(InFileRatingReader::read(broken), 0);
        QCOMPARE(InFileRatingReader::read(folder + QStringLiteral("/absent.jpg")), 0);
    }
    // -1 where a rating decides is a reject; xmp:Label a label in any case;
    // values this program does not know are passed over.
    void rejectsAndLabelsAreReadBesideTheRating_data()
    {
        QTest::addColumn<QByteArrayList>("sidecar"); // rating, label; empty: absent
        QTest::addColumn<QByteArrayList>("embedded");
        QTest::addColumn<int>("exifRating"); // 99: none
        QTest::addColumn<int>("rating");
        QTest::addColumn<CullingMark>("mark");
        const QByteArrayList none{"", ""};
        QTest::newRow("embedded Green and -1")
            << none << QByteArrayList{"-1", "Green"} << 99 << 0
            << CullingMark{CullingFlag::reject, ColourLabel::green};
        QTest::newRow("sidecar decides both")
            << QByteArrayList{"-1", " purple "} << QByteArrayList{"4", "Green"} << 99 << 0
            << CullingMark{CullingFlag::reject, ColourLabel::purple};
        QTest::newRow("sidecar label, embedded rating")
            << QByteArrayList{"", "Blue"} << QByteArrayList{"3", ""} << 99 << 3
            << CullingMark{CullingFlag::none, ColourLabel::blue};
        QTest::newRow("EXIF -1") << none << none << -1 << 0 << CullingMark{CullingFlag::reject};
        QTest::newRow("EXIF 2 under a sidecar's 0")
            << QByteArrayList{"0", "RED"} << none << 2 << 0
            << CullingMark{CullingFlag::none, ColourLabel::red};
        QTest::newRow("Teal and -7 ignored")
            << QByteArrayList{"-7", "Teal"} << none << 99 << 0 << CullingMark{};
        QTest::newRow("abc passed over to the embedded -1")
            << QByteArrayList{"abc", ""} << QByteArrayList{"-1", "Yellow"} << 99 << 0
            << CullingMark{CullingFlag::reject, ColourLabel::yellow};
        QTest::newRow("-1.5 and an empty label ignored")
            << QByteArrayList{"-1.5", " "} << QByteArrayList{"5", ""} << 99 << 5 << CullingMark{};
    }
    void rejectsAndLabelsAreReadBesideTheRating()
    {
        QFETCH(QByteArrayList, sidecar);
        QFETCH(QByteArrayList, embedded);
        QFETCH(int, exifRating);
        const QString photo = freshFolder() + QStringLiteral("/IMG.jpg");
        writeJpeg(photo, quadrantPicture(32, 24));
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(photo).toStdString());
        image->readMetadata();
        const auto put = [](Exiv2::XmpData &xmp, const QByteArrayList &values) {
            if (!values.at(0).isEmpty())
                xmp["Xmp.xmp.Rating"] = values.at(0).toStdString();
            if (!values.at(1).isEmpty())
                xmp["Xmp.xmp.Label"] = values.at(1).toStdString();
        };
        put(image->xmpData(), embedded);
        if (exifRating != 99)
            image->exifData()["Exif.Image.Rating"] = int16_t(exifRating);
        image->writeMetadata();
        if (sidecar != QByteArrayList{"", ""}) {
            Exiv2::XmpData xmp;
            put(xmp, sidecar);
            encodeFile(photo + QStringLiteral(".xmp"), xmp);
        }
        const auto found =
            InFileRatingReader::readAll(photo, InFileRatingReader::existingSidecars(photo));
        QFETCH(int, rating);
        QFETCH(CullingMark, mark);
        QCOMPARE(found.rating, rating);
        QCOMPARE(found.mark, mark);
    }
    void foreignSidecarKeepsEverythingButTheRating()
    {
        const QString folder = freshFolder();
        const QString photo = ratedJpeg(folder + QStringLiteral("/IMG_0001.jpg"), -1, "5");
        const QByteArray photoBefore = digest(photo);
        const QString sidecar = folder + QStringLiteral("/IMG_0001.xmp");
        encodeFile(sidecar, foreignSidecar());
        const auto expected = withoutRating(decodeFile(sidecar));
        for (const char *key : {"Xmp.dc.subject", "Xmp.xmp.Label", "Xmp.crs.Exposure2012",
                                "Xmp.xmpMM.History[1]/stEvt:softwareAgent"})
            QVERIFY2(expected.contains(key), key);
        // Windows keeps its own percentage beside the stars, kept in step.
        for (const auto &[rating, percent] :
             {std::pair{1, "1"}, {2, "25"}, {3, "50"}, {4, "75"}, {5, "99"}, {0, "0"}}) {
            QCOMPARE(writeNow(photo, rating), succeeded);
            Exiv2::XmpData written = decodeFile(sidecar);
            QCOMPARE(written["Xmp.xmp.Rating"].toString(), std::to_string(rating));
            QCOMPARE(written["Xmp.MicrosoftPhoto.Rating"].toString(), std::string(percent));
            QCOMPARE(withoutRating(written), expected);
        }
        QVERIFY(!QFile::exists(photo + QStringLiteral(".xmp")));
        QCOMPARE(digest(photo), photoBefore);
        // The cleared rating hides the photo's embedded 5.
        QCOMPARE(InFileRatingReader::read(photo), 0);
        // Another program's change between our read and our replace is read again and kept.
        int calls = 0;
        XmpSidecarWriter::setBeforeReplace([&](const QString &path) {
            QCOMPARE(path, sidecar);
            if (++calls > 1)
                return;
            Exiv2::XmpData xmp = foreignSidecar();
            xmp["Xmp.xmp.Label"] = "Green, set by the other program";
            encodeFile(sidecar, xmp);
        });
        const auto restore = qScopeGuard([] { XmpSidecarWriter::setBeforeReplace({}); });
        QCOMPARE(writeNow(photo, 4), succeeded);
        QCOMPARE(calls, 2);
        QCOMPARE(sidecarValue(sidecar, "Xmp.xmp.Label"), "Green, set by the other program");
        QCOMPARE(sidecarValue(sidecar, "Xmp.xmp.Rating"), "4");
    }
    // Sidecars are found in any case; a new one only when none exists, as readers name it.
    void sidecarsFoundInAnyCaseOrCreatedUnderTheReadName_data()
    {
        QTest::addColumn<QStringList>("photos"); // the first one is rated
        QTest::addColumn<QStringList>("sidecars");
        QTest::addColumn<QString>("created");
        QTest::addColumn<QStringList>("others"); // another photo's sidecars
        const auto list = [](const char *names) {
            return QString::fromLatin1(names).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        };
        const QStringList none;
        QTest::newRow("both kinds in mixed case")
            << list("IMG.jpg") << list("IMG.jpg.Xmp img.XMP") << QString() << none;
        QTest::newRow("RAW beside its JPEG")
            << list("IMG_0001.CR2 IMG_0001.JPG") << none << "IMG_0001.xmp" << none;
        QTest::newRow("two RAWs share the stem")
            << list("IMG_0001.CR2 IMG_0001.dng") << none << "IMG_0001.CR2.xmp" << none;
        QTest::newRow("JPEG") << list("IMG_0001.JPG") << none << "IMG_0001.JPG.xmp" << none;
        // Beside a RAW, <stem>.xmp is the RAW's: a JPEG neither reads nor writes it.
        QTest::newRow("JPEG beside a RAW with its sidecar")
            << list("IMG.JPG IMG.CR2") << none << "IMG.JPG.xmp" << list("IMG.XMP");
        QTest::newRow("RAW beside a JPEG, with its sidecar")
            << list("IMG.CR2 IMG.JPG") << list("IMG.XMP") << QString() << none;
    }
    void sidecarsFoundInAnyCaseOrCreatedUnderTheReadName()
    {
        QFETCH(QStringList, photos);
        QFETCH(QStringList, sidecars);
        QFETCH(QString, created);
        QFETCH(QStringList, others);
        const QString folder = freshFolder();
        const auto at = [&](const QString &name) { return folder + QLatin1Char('/') + name; };
        for (const QString &photo : std::as_const(photos))
            TestFiles::touch(folder, photo);
        for (const QString &sidecar : sidecars + others)
            writeSidecarRating(at(sidecar), "2");
        const QString rated = at(photos.first());
        QCOMPARE(InFileRatingReader::read(rated), sidecars.isEmpty() ? 0 : 2);
        QCOMPARE(writeNow(rated, 5), succeeded);
        const QStringList written = created.isEmpty() ? sidecars : sidecars + QStringList{created};
        QStringList expected = photos + written + others;
        expected.sort();
        QCOMPARE(sortedListing(folder), expected);
        for (const QString &sidecar : written + others)
            QCOMPARE(InFileRatingReader::sidecarRating(at(sidecar)),
                     written.contains(sidecar) ? 5 : 2);
        if (!created.isEmpty()) // Windows' percentage is never added
            QCOMPARE(sidecarValue(at(created), "Xmp.MicrosoftPhoto.Rating"), "");
        QCOMPARE(InFileRatingReader::read(rated), 5);
    }
    // A non-UTF-8 name is written; stale temporaries go, a running one stays.
    void namesThatAreNotUtf8AreWrittenAndStaleTemporariesSwept()
    {
        const QString folder = freshFolder();
        const QByteArray photoBytes = LocalFileName::encode(folder) + "/caf\xe9.jpg";
        const int fd = ::open(photoBytes.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        const auto removeFiles = qScopeGuard([&] { // Qt's own clean-up cannot name them
            ::unlink(photoBytes.constData());
            ::unlink((photoBytes + ".xmp").constData());
        });
        const QString stale =
            TestFiles::touch(folder, QStringLiteral(".kelvane-xmp-00000000000000ab.part"));
        const QString running =
            TestFiles::touch(folder, QStringLiteral(".kelvane-xmp-00000000000000cd.part"));
        const struct timespec dayOld[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 86400, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(stale).constData(), dayOld, 0), 0);
        const QString photo = LocalFileName::decode(photoBytes);
        QCOMPARE(writeNow(photo, 4), succeeded);
        QCOMPARE(::access((photoBytes + ".xmp").constData(), F_OK), 0);
        QCOMPARE(InFileRatingReader::read(photo), 4);
        QVERIFY(!QFileInfo::exists(stale) && QFileInfo::exists(running));
    }
    // What is not a small regular file is neither read nor replaced; the write says so.
    void unusableSidecarsAreLeftAloneAndReported_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("over 16 MB") << "large";
        QTest::newRow("dangling symbolic link") << "dangling";
        QTest::newRow("not XMP") << "unparsable";
    }
    void unusableSidecarsAreLeftAloneAndReported()
    {
        QFETCH(QString, kind);
        const QString folder = freshFolder();
        const QString photo = ratedJpeg(folder + QStringLiteral("/IMG.jpg"), 3, nullptr);
        const QString sidecar = photo + QStringLiteral(".xmp");
        const QString elsewhere = TestFiles::makeDir(m_dir.path(), QStringLiteral("elsewhere"));
        const QByteArray encoded = QFile::encodeName(sidecar);
        if (kind == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(encoded.constData(), 0644), 0);
        } else if (kind == QLatin1String("large")) {
            writeSidecarRating(sidecar, "5"); // then white space to 17 MB
            QVERIFY(writeBytes(sidecar, readBytes(sidecar) + QByteArray(17 << 20, ' ')));
        } else if (kind == QLatin1String("unparsable")) {
            QVERIFY(writeBytes(sidecar, "<x:xmpmeta><rdf:RDF"));
            QVERIFY(!XmpSidecarWriter::writeRatingNow(photo, 3, nullptr)); // no reason wanted
        } else {
            QVERIFY(QFile::link(elsewhere + QStringLiteral("/IMG.jpg.xmp"), sidecar));
        }
        const QStringList before = sortedListing(folder);
        const QByteArray digestBefore = QFileInfo(sidecar).isFile() ? digest(sidecar) : "";
        QFuture<std::pair<int, QString>> outcome = QtConcurrent::run(
            [photo] { return std::pair(InFileRatingReader::read(photo), writeNow(photo, 4)); });
        const auto releaseReader = qScopeGuard([&] {
            // A reader blocked in open() on the FIFO gets its writer and ends.
            while (!outcome.isFinished()) {
                const int fd = ::open(encoded.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0)
                    ::close(fd);
                QThread::msleep(10);
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(outcome.isFinished(), 10000);
        QCOMPARE(outcome.result().first, 3); // the photo's EXIF, the sidecar unread
        QVERIFY(!(QStringList{QString(), succeeded}.contains(outcome.result().second)));
        QCOMPARE(sortedListing(folder), before);
        QVERIFY(QDir(elsewhere).isEmpty());
        if (!digestBefore.isEmpty())
            QCOMPARE(digest(sidecar), digestBefore);
    }
    void backgroundWritesAreCoalescedInOrderAndFailuresReported()
    {
        const QString folder = freshFolder();
        const QString photo = ratedJpeg(folder + QStringLiteral("/IMG.jpg"), -1, nullptr);
        // A folder where the sidecar would go: the write fails, even for root.
        const QString unwritable = ratedJpeg(folder + QStringLiteral("/IMG2.jpg"), -1, nullptr);
        QVERIFY(QDir().mkdir(unwritable + QStringLiteral(".xmp")));
        const QString gone = folder + QStringLiteral("/gone.jpg");
        std::optional<QSignalSpy> written;
        {
            WorkQueues queues;
            XmpSidecarWriter writer(queues.fileOperations());
            QSignalSpy failed(&writer, &XmpSidecarWriter::writeFailed);
            written.emplace(&writer, &XmpSidecarWriter::written);
            writer.writeRating(gone, 3); // a photo that has left gets nothing: not written
            for (int rating : {1, 2, 3, 4})
                writer.writeRating(photo, rating);
            writer.writeRating(unwritable, 5);
            writer.waitForDone();
            QVERIFY(!QFileInfo::exists(gone + QStringLiteral(".xmp")));
            QCOMPARE(InFileRatingReader::read(photo), 4);
            QCOMPARE(written->last(), QVariantList{photo});
            QCOMPARE(failed.size(), 2);
            QCOMPARE(failed.first().at(0).toString(), gone);
            QCOMPARE(failed.last().at(0).toString(), unwritable);
            QVERIFY(!failed.last().at(1).toString().isEmpty());
            // Destroying the writer right after a change still writes it.
            writer.writeRating(photo, 2);
        }
        QCOMPARE(InFileRatingReader::read(photo), 2);
        QCOMPARE(written->last(), QVariantList{photo});
    }
};

QTEST_GUILESS_MAIN(TestXmpSidecar)
#include "tst_xmpsidecar.moc"
