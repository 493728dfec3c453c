#include "ImagingFixtures.h"
#include "imaging/EXIFReader.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace ImagingFixtures;

namespace {

using Edit = std::function<void(Exiv2::ExifData &)>;

Exiv2::URationalValue rationals(std::initializer_list<std::pair<uint32_t, uint32_t>> values)
{
    Exiv2::URationalValue value;
    for (const auto &[n, d] : values)
        value.value_.push_back({n, d});
    return value;
}

} // namespace

Q_DECLARE_METATYPE(Edit)

class TestEXIFReader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_counter = 0;

    // A JPEG written by Qt, its EXIF written by Exiv2.
    QString jpegWithExif(const Edit &edit)
    {
        const QString path =
            writeJpeg(m_dir.filePath(QStringLiteral("exif_%1.jpg").arg(++m_counter)),
                      quadrantPicture(64, 48));
        editExif(path, edit);
        return path;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void formatting_data()
    {
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("expected");
        auto row = [](const char *name, Edit edit, const char *field, const char *expected) {
            QTest::newRow(name) << edit << QString::fromLatin1(field)
                                << QString::fromUtf8(expected);
        };
        auto rational = [](const char *key, uint32_t n, uint32_t d) {
            return Edit([=](Exiv2::ExifData &e) { e[key] = Exiv2::URational(n, d); });
        };
        row("shutter 0.008", rational("Exif.Photo.ExposureTime", 8, 1000), "shutterSpeed",
            "1/125s");
        row("shutter 0.3", rational("Exif.Photo.ExposureTime", 3, 10), "shutterSpeed", "1/3s");
        row("shutter 0.5", rational("Exif.Photo.ExposureTime", 1, 2), "shutterSpeed", "1/2s");
        row("shutter half away from zero", rational("Exif.Photo.ExposureTime", 2, 5),
            "shutterSpeed", "1/3s");
        row("shutter 1.0", rational("Exif.Photo.ExposureTime", 1, 1), "shutterSpeed", "1.0s");
        row("shutter 2.5", rational("Exif.Photo.ExposureTime", 5, 2), "shutterSpeed", "2.5s");
        row("shutter 30", rational("Exif.Photo.ExposureTime", 30, 1), "shutterSpeed", "30.0s");
        row("shutter zero", rational("Exif.Photo.ExposureTime", 0, 1), "shutterSpeed", "");
        row("shutter zero denominator", rational("Exif.Photo.ExposureTime", 1, 0), "shutterSpeed",
            "");
        row("shutter negative", Edit([](Exiv2::ExifData &e) {
                Exiv2::RationalValue v;
                v.value_.push_back({-1, 100});
                e["Exif.Photo.ExposureTime"] = v;
            }),
            "shutterSpeed", "");
        row("shutter tiny", rational("Exif.Photo.ExposureTime", 1, 400000000), "shutterSpeed",
            "1/400000000s");
        row("focal 23.9 truncated", rational("Exif.Photo.FocalLength", 239, 10), "focalLength",
            "23mm");
        row("focal 50.7", rational("Exif.Photo.FocalLength", 507, 10), "focalLength", "50mm");
        row("focal zero denominator", rational("Exif.Photo.FocalLength", 5, 0), "focalLength", "");
        row("aperture 2", rational("Exif.Photo.FNumber", 2, 1), "aperture", "f/2.0");
        row("aperture 1.8", rational("Exif.Photo.FNumber", 18, 10), "aperture", "f/1.8");
        row("aperture 11", rational("Exif.Photo.FNumber", 11, 1), "aperture", "f/11.0");
        row("aperture as text", Edit([](Exiv2::ExifData &e) {
                Exiv2::AsciiValue v("2.8");
                e.add(Exiv2::ExifKey("Exif.Photo.FNumber"), &v);
            }),
            "aperture", "");
        row("iso first of list", Edit([](Exiv2::ExifData &e) {
                Exiv2::UShortValue v;
                v.value_ = {3200, 6400};
                e["Exif.Photo.ISOSpeedRatings"] = v;
            }),
            "iso", "ISO 3200");
        row("iso as rational", rational("Exif.Photo.ISOSpeedRatings", 100, 1), "iso", "");
        row("date", Edit([](Exiv2::ExifData &e) {
                e["Exif.Photo.DateTimeOriginal"] = std::string("2023:12:31 23:59:59");
            }),
            "dateTaken", "2023-12-31");
        row("date with runs of blanks", Edit([](Exiv2::ExifData &e) {
                e["Exif.Photo.DateTimeOriginal"] = std::string("  2024:05:01   14:03:22 ");
            }),
            "dateTaken", "2024-05-01");
        row("date only blanks",
            Edit([](Exiv2::ExifData &e) { e["Exif.Photo.DateTimeOriginal"] = std::string("   "); }),
            "dateTaken", "   ");
        row("make trimmed",
            Edit([](Exiv2::ExifData &e) { e["Exif.Image.Make"] = std::string("  Canon \n"); }),
            "cameraMake", "Canon");
        row("make as number", Edit([](Exiv2::ExifData &e) { e["Exif.Image.Make"] = uint16_t(5); }),
            "cameraMake", "");
        row("model keeps make", Edit([](Exiv2::ExifData &e) {
                e["Exif.Image.Make"] = std::string("Canon");
                e["Exif.Image.Model"] = std::string("Canon EOS R5 ");
            }),
            "cameraModel", "Canon EOS R5");
        row("lens trimmed", Edit([](Exiv2::ExifData &e) {
                e["Exif.Photo.LensModel"] = std::string("\tRF24-70mm F2.8 L IS USM\n");
            }),
            "lensModel", "RF24-70mm F2.8 L IS USM");
        row("artist not trimmed",
            Edit([](Exiv2::ExifData &e) { e["Exif.Image.Artist"] = std::string(" 张三 "); }),
            "author", " 张三 ");
        auto gps = [&](const char *latRef, const char *lonRef, bool withLongitudeRef) {
            return Edit([=](Exiv2::ExifData &e) {
                e["Exif.GPSInfo.GPSLatitude"] = rationals({{33, 1}, {52, 1}, {768, 100}});
                e["Exif.GPSInfo.GPSLatitudeRef"] = std::string(latRef);
                e["Exif.GPSInfo.GPSLongitude"] = rationals({{151, 1}, {12, 1}, {3348, 100}});
                if (withLongitudeRef)
                    e["Exif.GPSInfo.GPSLongitudeRef"] = std::string(lonRef);
            });
        };
        row("gps south east", gps("S", "E", true), "location", "-33.8688, 151.2093");
        row("gps north west", gps("N", "W", true), "location", "33.8688, -151.2093");
        row("gps lower-case ref not negated", gps("s", "w", true), "location", "33.8688, 151.2093");
        row("gps without longitude ref", gps("S", "E", false), "location", "");
        row("gps latitude as text", Edit([](Exiv2::ExifData &e) {
                Exiv2::AsciiValue v("33.8688");
                e.add(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitude"), &v);
                e["Exif.GPSInfo.GPSLatitudeRef"] = std::string("N");
                e["Exif.GPSInfo.GPSLongitude"] = rationals({{151, 1}, {0, 1}, {0, 1}});
                e["Exif.GPSInfo.GPSLongitudeRef"] = std::string("E");
            }),
            "location", "");
    }
    void formatting()
    {
        QFETCH(Edit, edit);
        QFETCH(QString, field);
        QFETCH(QString, expected);
        const EXIFData data = EXIFReader::read(jpegWithExif(edit));
        const QHash<QString, QString> fields{{QStringLiteral("cameraMake"), data.cameraMake},
                                             {QStringLiteral("cameraModel"), data.cameraModel},
                                             {QStringLiteral("lensModel"), data.lensModel},
                                             {QStringLiteral("focalLength"), data.focalLength},
                                             {QStringLiteral("aperture"), data.aperture},
                                             {QStringLiteral("shutterSpeed"), data.shutterSpeed},
                                             {QStringLiteral("iso"), data.iso},
                                             {QStringLiteral("dateTaken"), data.dateTaken},
                                             {QStringLiteral("location"), data.location},
                                             {QStringLiteral("author"), data.author}};
        QVERIFY(fields.contains(field));
        QCOMPARE(fields.value(field), expected);
    }

    void formattersRejectNonFinite()
    {
        QCOMPARE(EXIFReader::formatFocalLength(qInf()), QString());
        QCOMPARE(EXIFReader::formatFocalLength(1e30), QString());
        QCOMPARE(EXIFReader::formatAperture(qQNaN()), QString());
        QCOMPARE(EXIFReader::formatShutterSpeed(1e-300), QString());
        QCOMPARE(EXIFReader::formatShutterSpeed(-0.5), QString());
        QCOMPARE(EXIFReader::formatDate(QString()), QString());
    }

    void parameterLineJoinsPresentValues()
    {
        const EXIFData some = EXIFReader::read(jpegWithExif([](Exiv2::ExifData &e) {
            e["Exif.Photo.FNumber"] = Exiv2::URational(4, 1);
            Exiv2::UShortValue iso;
            iso.value_ = {200};
            e["Exif.Photo.ISOSpeedRatings"] = iso;
            e["Exif.Image.Make"] = std::string("Nikon");
        }));
        QCOMPARE(some.parameterLine(), QStringLiteral("f/4.0  ISO 200"));
        const EXIFData all = EXIFReader::read(jpegWithExif([](Exiv2::ExifData &e) {
            e["Exif.Photo.FocalLength"] = Exiv2::URational(50, 1);
            e["Exif.Photo.FNumber"] = Exiv2::URational(18, 10);
            e["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 125);
            Exiv2::UShortValue iso;
            iso.value_ = {100};
            e["Exif.Photo.ISOSpeedRatings"] = iso;
        }));
        QCOMPARE(all.parameterLine(), QStringLiteral("50mm  f/1.8  1/125s  ISO 100"));
    }

    void fileWithoutMetadataGivesEmptyRecord()
    {
        const QString png =
            writePng(m_dir.filePath(QStringLiteral("plain.png")), quadrantPicture(40, 30));
        const EXIFData data = EXIFReader::read(png);
        QCOMPARE(data, EXIFData());
        QVERIFY(data.parameterLine().isEmpty());
        QCOMPARE(EXIFReader::read(m_dir.filePath(QStringLiteral("missing.jpg"))), EXIFData());
        QFile empty(m_dir.filePath(QStringLiteral("empty.jpg")));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        QCOMPARE(EXIFReader::read(empty.fileName()), EXIFData());
    }

    void heifMetadataIsRead()
    {
        const QString path = m_dir.filePath(QStringLiteral("exif.heic"));
        QVERIFY(writeHeif(path, quadrantPicture(64, 48), false, 1, 6));
        const EXIFData data = EXIFReader::read(path);
        QCOMPARE(data.cameraMake, QStringLiteral("HeifCam"));
        QCOMPARE(data.aperture, QStringLiteral("f/2.8"));
    }

    void cameraSamples()
    {
        const QString canon = sample(QStringLiteral("jpeg/canon_eos600d_lens_artist_gps_nw.jpg"));
        if (!QFile::exists(canon))
            QSKIP("sample pictures not available");
        const EXIFData data = EXIFReader::read(canon);
        QCOMPARE(data.cameraMake, QStringLiteral("Canon"));
        QCOMPARE(data.cameraModel, QStringLiteral("Canon EOS 600D"));
        QCOMPARE(data.focalLength, QStringLiteral("85mm"));
        QCOMPARE(data.aperture, QStringLiteral("f/5.6"));
        QCOMPARE(data.shutterSpeed, QStringLiteral("1/1250s"));
        QCOMPARE(data.iso, QStringLiteral("ISO 160"));
        QCOMPARE(data.dateTaken, QStringLiteral("2015-06-12"));
        QCOMPARE(data.author, QStringLiteral("Patrik"));
        QVERIFY2(data.location.startsWith(QStringLiteral("37.74")) &&
                     data.location.contains(QStringLiteral(", -119.5")),
                 qPrintable(data.location));

        const EXIFData iphone =
            EXIFReader::read(sample(QStringLiteral("heif/apple_iphone11promax_gps.heic")));
        QCOMPARE(iphone.cameraMake, QStringLiteral("Apple"));
        QVERIFY(!iphone.lensModel.isEmpty());
        QVERIFY2(iphone.location.startsWith(QStringLiteral("39.05")) &&
                     iphone.location.contains(QStringLiteral(", -94.2")),
                 qPrintable(iphone.location));

        const EXIFData nikon =
            EXIFReader::read(sample(QStringLiteral("raw/nikon_d70_stripped.nef")));
        QCOMPARE(nikon.parameterLine(), QStringLiteral("18mm  f/3.5  1/20s  ISO 200"));
    }
};

QTEST_GUILESS_MAIN(TestEXIFReader)
#include "tst_exifreader.moc"
