#include "ImagingFixtures.h"
#include "imaging/FocusPointReader.h"
#include "model/WorkQueues.h"
#include "viewing/FocusPointCache.h"

#include <QFile>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <deque>

using namespace ImagingFixtures;

namespace {

using Tag = ExifTag;
using Tags = QList<Tag>;
using Areas = QList<FocusArea>;

constexpr auto u16 = Exiv2::unsignedShort;
// The maker's name decides which maker note Exiv2 reads back.
Tag make(const char *name)
{
    return {"Exif.Image.Make", Exiv2::asciiString, name};
}

// Canon's AFInfo2 layout for three points in a 6000 x 4000 AF frame:
// 600 x 400 areas at X 0, -1500, 1500 and Y 0, 1000, -1000 from the centre.
const char *canonAfInfo2(const char *inFocusMask, const char *selectedMask)
{
    static std::deque<QByteArray> texts; // Tag keeps the pointer
    texts.push_back(
        "28 2 3 3 6000 4000 6000 4000 600 600 600 400 400 400 0 64036 1500 0 1000 64536 " +
        QByteArray(inFocusMask) + ' ' + selectedMask);
    return texts.back().constData();
}

// A point's square on a 60 x 40 picture: a twentieth of the short side.
FocusArea pointOn60x40(double x, double y, bool inFocus)
{
    return {QRectF(x - 1.0 / 60, y - 1.0 / 40, 2.0 / 60, 2.0 / 40), inFocus};
}

bool near(const QRectF &a, const QRectF &b)
{
    const auto close = [](double p, double q) { return std::abs(p - q) < 1e-4; };
    return close(a.x(), b.x()) && close(a.y(), b.y()) && close(a.width(), b.width()) &&
           close(a.height(), b.height());
}

QString describe(const Areas &areas)
{
    QStringList parts;
    for (const FocusArea &area : areas)
        parts << QStringLiteral("(%1 %2 %3 %4%5)")
                     .arg(area.rect.x())
                     .arg(area.rect.y())
                     .arg(area.rect.width())
                     .arg(area.rect.height())
                     .arg(area.inFocus ? QStringLiteral(" in focus") : QString());
    return parts.join(QLatin1Char(' '));
}

bool sameAreas(const Areas &actual, const Areas &expected)
{
    if (actual.size() != expected.size())
        return false;
    for (qsizetype i = 0; i < actual.size(); ++i) {
        if (!near(actual[i].rect, expected[i].rect) || actual[i].inFocus != expected[i].inFocus)
            return false;
    }
    return true;
}

} // namespace

Q_DECLARE_METATYPE(Tags)

class TestFocusPoints : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_counter = 0;
    QString jpegWith(const Tags &tags, const QImage &picture = quadrantPicture(60, 40))
    {
        const QString path =
            writeJpeg(m_dir.filePath(QStringLiteral("focus_%1.jpg").arg(++m_counter)), picture);
        addExifTags(path, tags);
        return path;
    }
    void compareAreas(const Areas &actual, const Areas &expected)
    {
        QVERIFY2(sameAreas(actual, expected),
                 qPrintable(describe(actual) + QStringLiteral(" != ") + describe(expected)));
    }

private Q_SLOTS:
    void sources_data()
    {
        QTest::addColumn<Tags>("tags");
        QTest::addColumn<Areas>("expected");
        const Tag eos = {"Exif.Image.Model", Exiv2::asciiString, "Canon EOS 7D"};
        QTest::newRow("Canon AFInfo2: in focus and selected, Y up")
            << Tags{make("Canon"), eos, {"Exif.Canon.AFInfo", u16, canonAfInfo2("2", "3")}}
            << Areas{{QRectF(0.45, 0.45, 0.1, 0.1), false}, {QRectF(0.2, 0.2, 0.1, 0.1), true}};
        QTest::newRow("Canon AFInfo3 of a PowerShot: Y down")
            << Tags{make("Canon"),
                    {"Exif.Image.Model", Exiv2::asciiString, "Canon PowerShot G7 X"},
                    {"Exif.Canon.AFInfo3", u16, canonAfInfo2("2", "0")}}
            << Areas{{QRectF(0.2, 0.7, 0.1, 0.1), true}};
        QTest::newRow("Canon AFInfo2 without an AF image size")
            << Tags{make("Canon"),
                    eos,
                    {"Exif.Canon.AFInfo", u16, "28 2 1 1 6000 4000 0 0 600 400 1500 1000 1 1"}}
            << Areas{{QRectF(0.7, 0.2, 0.1, 0.1), true}};
        QTest::newRow("Canon AFInfo (older record)")
            << Tags{make("Canon"),
                    eos,
                    {"Exif.Canon.PictureInfo", u16,
                     "3 3 6000 4000 6000 4000 600 400 0 64036 1500 0 1000 64536 4"}}
            << Areas{{QRectF(0.7, 0.7, 0.1, 0.1), true}};
        QTest::newRow("Canon area half outside: clipped")
            << Tags{make("Canon"),
                    eos,
                    {"Exif.Canon.AFInfo", u16, "28 2 1 1 6000 4000 6000 4000 600 400 62536 0 1 1"}}
            << Areas{{QRectF(0, 0.45, 0.05, 0.1), true}};
        const Tags nikon = {make("NIKON CORPORATION"),
                            {"Exif.NikonAf2.Version", Exiv2::undefined, "48 49 48 48"},
                            {"Exif.NikonAf2.AFImageWidth", u16, "6000"},
                            {"Exif.NikonAf2.AFImageHeight", u16, "4000"},
                            {"Exif.NikonAf2.AFAreaXPosition", u16, "1500"},
                            {"Exif.NikonAf2.AFAreaYPosition", u16, "1000"},
                            {"Exif.NikonAf2.AFAreaWidth", u16, "600"},
                            {"Exif.NikonAf2.AFAreaHeight", u16, "400"},
                            {"Exif.NikonAf2.ContrastDetectAFInFocus", u16, "1"}};
        QTest::newRow("Nikon AFInfo2") << nikon << Areas{{QRectF(0.2, 0.2, 0.1, 0.1), true}};
        QTest::newRow("maker note before SubjectArea")
            << (Tags(nikon) << Tag{"Exif.Photo.SubjectArea", u16, "30 20"})
            << Areas{{QRectF(0.2, 0.2, 0.1, 0.1), true}};
        // A 6000 x 4000 frame: the point's square is 200 pixels.
        const FocusArea sonyPoint{QRectF(0.25 - 1.0 / 60, 0.25 - 0.025, 1.0 / 30, 0.05), false};
        QTest::newRow("Sony FocusLocation (Sony1)")
            << Tags{make("SONY"), {"Exif.Sony1.0x2027", u16, "6000 4000 1500 1000"}}
            << Areas{sonyPoint};
        QTest::newRow("Sony FocusLocation (Sony2)")
            << Tags{make("SONY"), {"Exif.Sony2.0x2027", u16, "6000 4000 1500 1000"}}
            << Areas{sonyPoint};
        QTest::newRow("Fujifilm FocusPixel, no focus warning")
            << Tags{make("FUJIFILM"),
                    {"Exif.Fujifilm.0x1023", u16, "15 10"},
                    {"Exif.Fujifilm.FocusWarning", u16, "0"}}
            << Areas{pointOn60x40(0.25, 0.25, true)};
        QTest::newRow("Fujifilm FocusPixel alone")
            << Tags{make("FUJIFILM"), {"Exif.Fujifilm.0x1023", u16, "45 10"}}
            << Areas{pointOn60x40(0.75, 0.25, false)};
        QTest::newRow("Olympus AFPointSelected")
            << Tags{make("OM Digital Solutions"),
                    {"Exif.OlympusCs.AFPointSelected", Exiv2::signedRational,
                     "0/1 1/4 1/4 1/2 3/4"}}
            << Areas{{QRectF(0.25, 0.25, 0.25, 0.5), false}};
        QTest::newRow("Panasonic AFPointPosition")
            << Tags{make("Panasonic"),
                    {"Exif.Panasonic.AFPointPosition", Exiv2::unsignedRational, "3/4 1/4"}}
            << Areas{pointOn60x40(0.75, 0.25, false)};
        QTest::newRow("Pentax centre point")
            << Tags{make("PENTAX Corporation"), {"Exif.Pentax.AFPoint", Exiv2::unsignedLong, "6"}}
            << Areas{pointOn60x40(0.5, 0.5, false)};
        QTest::newRow("Pentax named side point: no known place")
            << Tags{make("PENTAX Corporation"), {"Exif.Pentax.AFPoint", Exiv2::unsignedLong, "4"}}
            << Areas{};
        QTest::newRow("SubjectArea point") << Tags{{"Exif.Photo.SubjectArea", u16, "15 30"}}
                                           << Areas{pointOn60x40(0.25, 0.75, false)};
        QTest::newRow("SubjectArea circle")
            << Tags{{"Exif.Photo.SubjectArea", u16, "30 20 8"}}
            << Areas{{QRectF(26 / 60.0, 0.4, 8 / 60.0, 0.2), false}};
        QTest::newRow("SubjectArea rectangle")
            << Tags{{"Exif.Photo.SubjectArea", u16, "30 20 12 8"}}
            << Areas{{QRectF(0.4, 0.4, 0.2, 0.2), false}};
        QTest::newRow("SubjectArea in the recorded pixel size")
            << Tags{{"Exif.Photo.PixelXDimension", Exiv2::unsignedLong, "600"},
                    {"Exif.Photo.PixelYDimension", Exiv2::unsignedLong, "400"},
                    {"Exif.Photo.SubjectArea", u16, "150 100 60 40"}}
            << Areas{{QRectF(0.2, 0.2, 0.1, 0.1), false}};
    }
    void sources()
    {
        QFETCH(Tags, tags);
        QFETCH(Areas, expected);
        compareAreas(FocusPointReader::read(jpegWith(tags)).areas, expected);
    }

    // The marked area of an upright picture, stored as a camera stores it
    // for each orientation, is read back where it is seen.
    void orientations_data()
    {
        QTest::addColumn<int>("orientation");
        for (int n = 1; n <= 8; ++n)
            QTest::addRow("orientation %d", n) << n;
    }
    void orientations()
    {
        QFETCH(int, orientation);
        const QRect marked(6, 4, 12, 8);
        QImage upright = filled(QSize(60, 40), Qt::black);
        QPainter(&upright).fillRect(marked, Qt::white);
        const QImage stored = storedForOrientation(upright, orientation);
        QRect box;
        for (int y = 0; y < stored.height(); ++y) {
            for (int x = 0; x < stored.width(); ++x) {
                if (qRed(stored.pixel(x, y)) > 128)
                    box |= QRect(x, y, 1, 1);
            }
        }
        const QByteArray subjectArea = QStringLiteral("%1 %2 %3 %4")
                                           .arg(box.x() + box.width() / 2)
                                           .arg(box.y() + box.height() / 2)
                                           .arg(box.width())
                                           .arg(box.height())
                                           .toLatin1();
        const QByteArray tag = QByteArray::number(orientation);
        const QString path = jpegWith({{"Exif.Photo.SubjectArea", u16, subjectArea.constData()},
                                       {"Exif.Image.Orientation", u16, tag.constData()}},
                                      stored);
        compareAreas(FocusPointReader::read(path).areas, {{QRectF(0.1, 0.1, 0.2, 0.2), false}});
    }

    void hostileValues_data()
    {
        QTest::addColumn<Tags>("tags");
        const auto canon = [](const char *name, const char *values) {
            QTest::newRow(name) << Tags{make("Canon"), {"Exif.Canon.AFInfo", u16, values}};
        };
        canon("Canon count far beyond the array",
              "28 2 65535 65535 6000 4000 6000 4000 600 400 1 1");
        canon("Canon array cut before the masks", "28 2 3 3 6000 4000 6000 4000 600 600 600 400");
        canon("Canon header only", "28 2 1 1 6000");
        canon("Canon zero frame", "28 2 1 1 0 0 0 0 600 400 0 0 1 1");
        canon("Canon negative area", "28 2 1 1 6000 4000 6000 4000 64936 400 0 0 1 1");
        canon("Canon area outside the frame", "28 2 1 1 6000 4000 6000 4000 600 400 30000 0 1 1");
        canon("Canon no point in focus", "28 2 1 1 6000 4000 6000 4000 600 400 0 0 0 0");
        QTest::newRow("Canon older record cut short") << Tags{
            make("Canon"), {"Exif.Canon.PictureInfo", u16, "9 9 6000 4000 6000 4000 600 400 0 0"}};
        QTest::newRow("Nikon zero frame")
            << Tags{make("NIKON CORPORATION"),
                    {"Exif.NikonAf2.Version", Exiv2::undefined, "48 49 48 48"},
                    {"Exif.NikonAf2.AFAreaWidth", u16, "600"},
                    {"Exif.NikonAf2.AFAreaHeight", u16, "400"}};
        QTest::newRow("Sony short array")
            << Tags{make("SONY"), {"Exif.Sony1.0x2027", u16, "6000 4000 10"}};
        QTest::newRow("Sony zero frame")
            << Tags{make("SONY"), {"Exif.Sony1.0x2027", u16, "0 0 10 10"}};
        QTest::newRow("Sony point outside")
            << Tags{make("SONY"), {"Exif.Sony2.0x2027", u16, "6000 4000 9000 10"}};
        QTest::newRow("Olympus zero denominator") << Tags{
            make("OM Digital Solutions"),
            {"Exif.OlympusCs.AFPointSelected", Exiv2::signedRational, "0/1 1/4 1/0 1/2 1/2"}};
        QTest::newRow("Olympus too few values")
            << Tags{make("OM Digital Solutions"),
                    {"Exif.OlympusCs.AFPointSelected", Exiv2::signedRational, "0/1 1/4 1/4 1/2"}};
        QTest::newRow("Panasonic zero denominator")
            << Tags{make("Panasonic"),
                    {"Exif.Panasonic.AFPointPosition", Exiv2::unsignedRational, "1/0 1/2"}};
        QTest::newRow("Panasonic point outside")
            << Tags{make("Panasonic"),
                    {"Exif.Panasonic.AFPointPosition", Exiv2::unsignedRational, "3/2 1/2"}};
        QTest::newRow("recorded size of another shape (a cropped copy)")
            << Tags{{"Exif.Photo.PixelXDimension", Exiv2::unsignedLong, "400"},
                    {"Exif.Photo.PixelYDimension", Exiv2::unsignedLong, "600"},
                    {"Exif.Photo.SubjectArea", u16, "150 100 60 40"}};
        QTest::newRow("SubjectArea one value") << Tags{{"Exif.Photo.SubjectArea", u16, "30"}};
        QTest::newRow("SubjectArea empty rectangle")
            << Tags{{"Exif.Photo.SubjectArea", u16, "30 20 0 8"}};
        QTest::newRow("SubjectArea outside")
            << Tags{{"Exif.Photo.SubjectArea", u16, "500 20 12 8"}};
    }
    void hostileValues()
    {
        QFETCH(Tags, tags);
        compareAreas(FocusPointReader::read(jpegWith(tags)).areas, {});
    }
    void unreadableFiles()
    {
        const QString empty = m_dir.filePath(QStringLiteral("empty.jpg"));
        const QString garbage = m_dir.filePath(QStringLiteral("garbage.heic"));
        QVERIFY(writeBytes(empty, {}));
        QVERIFY(writeBytes(garbage, QByteArray("\0\0\0\x18"
                                               "ftypheic",
                                               12) +
                                        QByteArray(500, '\x7f')));
        for (const QString &path : {empty, garbage, m_dir.filePath(QStringLiteral("missing.jpg"))})
            QVERIFY(FocusPointReader::read(path).isEmpty());
    }

    // Which real files say where they focused (centre of the areas, upright).
    void cameraSamples_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QPointF>("centre"); // (-1, -1): no focus data
        QTest::newRow("Canon 350D (older AFInfo)")
            << "raw/canon_eos350d_stripped.cr2" << QPointF(0.5, 0.5);
        QTest::newRow("Canon 300D (CRW)") << "raw/canon_eos300d_stripped.crw" << QPointF(0.5, 0.5);
        QTest::newRow("Sony ZV-E10, orientation 6")
            << "broken/sony_zv-e10_truncated_100k.arw" << QPointF(1 - 2450 / 4000.0, 2587 / 6000.0);
        QTest::newRow("iPhone SubjectArea, orientation 6")
            << "raw/apple_iphone12pro_proraw_stripped.dng"
            << QPointF(1 - 1506 / 3024.0, 2009 / 4032.0);
        QTest::newRow("Minolta SubjectArea")
            << "raw/minolta_dimage_a2_stripped.mrw" << QPointF(0.5, 0.5);
        QTest::newRow("Panasonic LX3") << "raw/panasonic_lx3_stripped.rw2" << QPointF(0.5, 0.5);
        QTest::newRow("iPhone HEIC, a cropped copy: place unknown")
            << "heif/apple_iphone11promax_gps.heic" << QPointF(-1, -1);
        QTest::newRow("Nikon D70: named point only")
            << "raw/nikon_d70_stripped.nef" << QPointF(-1, -1);
        QTest::newRow("Canon 600D JPEG: maker note gone")
            << "jpeg/canon_eos600d_lens_artist_gps_nw.jpg" << QPointF(-1, -1);
    }
    void cameraSamples()
    {
        QFETCH(QString, file);
        QFETCH(QPointF, centre);
        const QString path = sample(file);
        if (!QFile::exists(path))
            QSKIP("sample files not available");
        const FocusPoints points = FocusPointReader::read(path);
        if (centre.x() < 0) {
            QVERIFY2(points.isEmpty(), qPrintable(describe(points.areas)));
            return;
        }
        QVERIFY2(points.areas.size() == 1, qPrintable(describe(points.areas)));
        QVERIFY2(QLineF(points.centre(), centre).length() < 1e-3,
                 qPrintable(describe(points.areas)));
    }

    void cacheReadsOffTheUiThread()
    {
        const QString path = jpegWith({{"Exif.Photo.SubjectArea", u16, "30 20 12 8"}});
        WorkQueues queues;
        FocusPointCache cache(queues);
        QSignalSpy ready(&cache, &FocusPointCache::ready);
        QVERIFY(!cache.find(path));
        cache.request(path);
        QVERIFY(ready.wait());
        QCOMPARE(ready.first().first().toString(), path);
        QCOMPARE(cache.find(path), std::optional(FocusPointReader::read(path)));
        QVERIFY(!cache.find(path)->isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFocusPoints)
#include "tst_focuspoints.moc"
