#include "ImagingFixtures.h"
#include "imaging/EXIFReader.h"
#include "imaging/ShootingDataReader.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace ImagingFixtures;

namespace {

using Tag = ExifTag;
using Tags = QList<Tag>;
using Field = QString EXIFData::*;

} // namespace

Q_DECLARE_METATYPE(Tags)
Q_DECLARE_METATYPE(Field)

class TestEXIFReader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_counter = 0;
    QString jpegWithExif(const Tags &tags)
    {
        const QString path =
            writeJpeg(m_dir.filePath(QStringLiteral("exif_%1.jpg").arg(++m_counter)),
                      quadrantPicture(64, 48));
        addExifTags(path, tags);
        return path;
    }

private Q_SLOTS:
    void formatting_data()
    {
        QTest::addColumn<Tags>("tags");
        QTest::addColumn<Field>("field");
        QTest::addColumn<QString>("expected");
        constexpr auto rational = Exiv2::unsignedRational, text = Exiv2::asciiString;
        const auto row = [](const char *name, Tags tags, Field field, const char *expected) {
            QTest::newRow(name) << tags << field << QString::fromUtf8(expected);
        };
        const auto shutter = [&](const char *name, const char *value, const char *expected) {
            row(name, {{"Exif.Photo.ExposureTime", rational, value}}, &EXIFData::shutterSpeed,
                expected);
        };
        shutter("shutter 0.008", "8/1000", "1/125s");
        shutter("shutter 0.5", "1/2", "1/2s");
        shutter("shutter half away from zero", "2/5", "1/3s");
        shutter("shutter 1.0", "1/1", "1.0s");
        shutter("shutter 2.5", "5/2", "2.5s");
        shutter("shutter zero", "0/1", "");
        shutter("shutter zero denominator", "1/0", "");
        shutter("shutter tiny", "1/400000000", "1/400000000s");
        row("shutter negative", {{"Exif.Photo.ExposureTime", Exiv2::signedRational, "-1/100"}},
            &EXIFData::shutterSpeed, "");
        const auto focal = [&](const char *name, const char *value, const char *expected) {
            row(name, {{"Exif.Photo.FocalLength", rational, value}}, &EXIFData::focalLength,
                expected);
        };
        focal("focal 23.9 truncated", "239/10", "23mm");
        focal("focal zero denominator", "5/0", "");
        const auto aperture = [&](const char *name, Exiv2::TypeId type, const char *value,
                                  const char *expected) {
            row(name, {{"Exif.Photo.FNumber", type, value}}, &EXIFData::aperture, expected);
        };
        aperture("aperture 1.8", rational, "18/10", "f/1.8");
        aperture("aperture as text", text, "2.8", "");
        row("iso first of list",
            {{"Exif.Photo.ISOSpeedRatings", Exiv2::unsignedShort, "3200 6400"}}, &EXIFData::iso,
            "ISO 3200");
        row("iso as rational", {{"Exif.Photo.ISOSpeedRatings", rational, "100/1"}}, &EXIFData::iso,
            "");
        const auto date = [&](const char *name, const char *value, const char *expected) {
            row(name, {{"Exif.Photo.DateTimeOriginal", text, value}}, &EXIFData::dateTaken,
                expected);
        };
        date("date", "2023:12:31 23:59:59", "2023-12-31");
        date("date with runs of blanks", "  2024:05:01   14:03:22 ", "2024-05-01");
        date("date only blanks", "   ", "   ");
        row("make trimmed", {{"Exif.Image.Make", text, "  Canon \n"}}, &EXIFData::cameraMake,
            "Canon");
        row("make as number", {{"Exif.Image.Make", Exiv2::unsignedShort, "5"}},
            &EXIFData::cameraMake, "");
        row("model keeps make",
            {{"Exif.Image.Make", text, "Canon"}, {"Exif.Image.Model", text, "Canon EOS R5 "}},
            &EXIFData::cameraModel, "Canon EOS R5");
        row("lens trimmed", {{"Exif.Photo.LensModel", text, "\tRF24-70mm F2.8 L IS USM\n"}},
            &EXIFData::lensModel, "RF24-70mm F2.8 L IS USM");
        row("artist not trimmed", {{"Exif.Image.Artist", text, " 张三 "}}, &EXIFData::author,
            " 张三 ");
        const auto gps = [&](const char *name, Tag latitude, const char *latRef, const char *lonRef,
                             const char *expected) {
            Tags tags{latitude,
                      {"Exif.GPSInfo.GPSLatitudeRef", text, latRef},
                      {"Exif.GPSInfo.GPSLongitude", rational, "151/1 12/1 3348/100"}};
            if (*lonRef)
                tags.append({"Exif.GPSInfo.GPSLongitudeRef", text, lonRef});
            row(name, tags, &EXIFData::location, expected);
        };
        const Tag latitude{"Exif.GPSInfo.GPSLatitude", rational, "33/1 52/1 768/100"};
        gps("gps south east", latitude, "S", "E", "-33.8688, 151.2093");
        gps("gps north west", latitude, "N", "W", "33.8688, -151.2093");
        gps("gps lower-case ref not negated", latitude, "s", "w", "33.8688, 151.2093");
        gps("gps without longitude ref", latitude, "S", "", "");
        gps("gps latitude as text", {"Exif.GPSInfo.GPSLatitude", text, "33.8688"}, "N", "E", "");
    }
    void formatting()
    {
        QFETCH(Tags, tags);
        QFETCH(Field, field);
        QFETCH(QString, expected);
        QCOMPARE(EXIFReader::read(jpegWithExif(tags)).*field, expected);
    }
    void formattersRejectNonFinite()
    {
        QCOMPARE((QStringList{
                     EXIFReader::formatFocalLength(qInf()), EXIFReader::formatFocalLength(1e30),
                     EXIFReader::formatAperture(qQNaN()), EXIFReader::formatShutterSpeed(1e-300),
                     EXIFReader::formatShutterSpeed(-0.5), EXIFReader::formatDate({})}),
                 QStringList(6));
    }
    // Present values joined; no metadata or no file: an empty record; HEIF's EXIF item.
    void recordsOfWholeFiles()
    {
        const EXIFData some = EXIFReader::read(
            jpegWithExif({{"Exif.Photo.FNumber", Exiv2::unsignedRational, "4/1"},
                          {"Exif.Photo.ISOSpeedRatings", Exiv2::unsignedShort, "200"},
                          {"Exif.Image.Make", Exiv2::asciiString, "Nikon"}}));
        QCOMPARE(some.parameterLine(), QStringLiteral("f/4.0  ISO 200"));
        const EXIFData all = EXIFReader::read(
            jpegWithExif({{"Exif.Photo.FocalLength", Exiv2::unsignedRational, "50/1"},
                          {"Exif.Photo.FNumber", Exiv2::unsignedRational, "18/10"},
                          {"Exif.Photo.ExposureTime", Exiv2::unsignedRational, "1/125"},
                          {"Exif.Photo.ISOSpeedRatings", Exiv2::unsignedShort, "100"}}));
        QCOMPARE(all.parameterLine(), QStringLiteral("50mm  f/1.8  1/125s  ISO 100"));
        const QString png = m_dir.filePath(QStringLiteral("plain.png"));
        QVERIFY(quadrantPicture(40, 30).save(png));
        QCOMPARE(EXIFReader::read(png), EXIFData());
        QCOMPARE(EXIFReader::read(m_dir.filePath(QStringLiteral("missing.jpg"))), EXIFData());
        const QString heic = m_dir.filePath(QStringLiteral("exif.heic"));
        QVERIFY(writeHeif(heic, quadrantPicture(64, 48), false, 1, 6));
        const EXIFData heif = EXIFReader::read(heic);
        QCOMPARE((QStringList{heif.cameraMake, heif.aperture}), (QStringList{"HeifCam", "f/2.8"}));
    }
    // The expected record's capture time is filled with the file's time when
    // it is to come from there.
    void shootingData_data()
    {
        QTest::addColumn<Tags>("tags");
        QTest::addColumn<ShootingData>("expected");
        constexpr auto rational = Exiv2::unsignedRational, text = Exiv2::asciiString,
                       uShort = Exiv2::unsignedShort;
        const Tags dated{{"Exif.Photo.DateTimeOriginal", text, "2024:05:01 13:45:10"}};
        ShootingData full;
        full.captureTime = QDateTime(QDate(2024, 5, 1), QTime(13, 45, 10, 70), QTimeZone(9 * 3600));
        full.timeSource = ShootingData::TimeSource::capture;
        full.cameraMake = QStringLiteral("Canon");
        full.cameraModel = QStringLiteral("Canon EOS R5");
        full.lens = QStringLiteral("RF50mm F1.8 STM");
        full.focalLength = 50.0;
        full.aperture = 1.8;
        full.exposureTime = 0.008;
        full.iso = 400;
        full.pixelSize = QSize(4000, 6000);
        full.burstSequence = 3;
        QTest::newRow("all values, quarter turn")
            << Tags{dated.first(),
                    {"Exif.Photo.SubSecTimeOriginal", text, "07"},
                    {"Exif.Photo.OffsetTimeOriginal", text, "+09:00"},
                    {"Exif.Image.Make", text, "Canon "},
                    {"Exif.Image.Model", text, "Canon EOS R5"},
                    {"Exif.Photo.LensModel", text, "RF50mm F1.8 STM"},
                    {"Exif.Photo.FocalLength", rational, "50/1"},
                    {"Exif.Photo.FNumber", rational, "18/10"},
                    {"Exif.Photo.ExposureTime", rational, "1/125"},
                    {"Exif.Photo.ISOSpeedRatings", uShort, "400 800"},
                    {"Exif.Photo.PixelXDimension", Exiv2::unsignedLong, "6000"},
                    {"Exif.Photo.PixelYDimension", Exiv2::unsignedLong, "4000"},
                    {"Exif.Image.Orientation", uShort, "5"},
                    {"Exif.CanonSi.Sequence", uShort, "3"}}
            << full;
        ShootingData local;
        local.captureTime = QDateTime(QDate(2024, 5, 1), QTime(13, 45, 10));
        local.timeSource = ShootingData::TimeSource::capture;
        local.pixelSize = QSize(640, 480);
        QTest::newRow("no offset: local time; image size when no pixel dimensions")
            << Tags{dated.first(),
                    {"Exif.Photo.OffsetTimeOriginal", text, "9:00"},
                    {"Exif.Photo.SubSecTimeOriginal", text, "x"},
                    {"Exif.Photo.PixelXDimension", Exiv2::unsignedLong, "0"},
                    {"Exif.Image.ImageWidth", Exiv2::unsignedLong, "640"},
                    {"Exif.Image.ImageLength", Exiv2::unsignedLong, "480"}}
            << local;
        ShootingData west = local;
        west.captureTime =
            QDateTime(QDate(2024, 5, 1), QTime(13, 45, 10, 123), QTimeZone(-(5 * 3600 + 1800)));
        west.pixelSize = {};
        QTest::newRow("western offset, sub-seconds cut to milliseconds")
            << Tags{dated.first(),
                    {"Exif.Photo.SubSecTimeOriginal", text, "12345"},
                    {"Exif.Photo.OffsetTimeOriginal", text, "-05:30"}}
            << west;
        QTest::newRow("hostile values")
            << Tags{{"Exif.Photo.DateTimeOriginal", text, "2024:13:45 99:00:00"},
                    {"Exif.Photo.FNumber", rational, "18/0"},
                    {"Exif.Photo.ExposureTime", Exiv2::signedRational, "-1/100"},
                    {"Exif.Photo.FocalLength", Exiv2::tiffDouble, "inf"},
                    {"Exif.Photo.ISOSpeedRatings", rational, "100/1"},
                    {"Exif.Image.Make", uShort, "5"},
                    {"Exif.Image.ImageWidth", Exiv2::signedLong, "-640"},
                    {"Exif.Image.ImageLength", Exiv2::unsignedLong, "480"}}
            << ShootingData();
        QTest::newRow("a zero side: no pixel size")
            << Tags{{"Exif.Image.ImageWidth", Exiv2::unsignedLong, "640"},
                    {"Exif.Image.ImageLength", Exiv2::unsignedLong, "0"}}
            << ShootingData();
        const auto burst = [&](const char *make, const char *key, Exiv2::TypeId type,
                               const char *value, std::optional<int> expected) {
            ShootingData data;
            data.cameraMake = QString::fromLatin1(make);
            data.burstSequence = expected;
            QTest::newRow(key) << Tags{{"Exif.Image.Make", text, make}, {key, type, value}} << data;
        };
        burst("SONY", "Exif.Sony1.SequenceNumber", Exiv2::unsignedLong, "12", 12);
        burst("FUJIFILM", "Exif.Fujifilm.SequenceNumber", uShort, "4", 4);
        burst("Panasonic", "Exif.Panasonic.SequenceNumber", Exiv2::unsignedLong, "7", 7);
    }
    void shootingData()
    {
        QFETCH(Tags, tags);
        QFETCH(ShootingData, expected);
        const QString path = jpegWithExif(tags);
        expected.fileModified = QFileInfo(path).lastModified();
        if (expected.timeSource == ShootingData::TimeSource::fileModified)
            expected.captureTime = expected.fileModified;
        QCOMPARE(ShootingDataReader::read(path), expected);
    }
    // A file is read by what it holds, whatever its name says; a cut one
    // gives no values.
    void shootingDataOfMisnamedFiles()
    {
        const QString cut = m_dir.filePath(QStringLiteral("cut.jpg"));
        const Tags make{{"Exif.Image.Make", Exiv2::asciiString, "CutCam"}};
        QVERIFY(writeBytes(cut, readBytes(jpegWithExif(make)).left(200)));
        const QString png = m_dir.filePath(QStringLiteral("png_named.jpg"));
        QVERIFY(quadrantPicture(40, 30).save(png, "PNG"));
        addExifTags(png, {{"Exif.Image.Make", Exiv2::asciiString, "PngCam"}});
        const QString heic = m_dir.filePath(QStringLiteral("heic_named.JPEG"));
        QVERIFY(writeHeif(heic, quadrantPicture(64, 48), false, 1, 6));
        QCOMPARE((QStringList{ShootingDataReader::read(cut).cameraMake,
                              ShootingDataReader::read(png).cameraMake,
                              ShootingDataReader::read(heic).cameraMake}),
                 (QStringList{"", "PngCam", "HeifCam"}));
    }
    void cameraSamples()
    {
        const QString iphone = sample(QStringLiteral("heif/apple_iphone11promax_gps.heic"));
        if (!QFile::exists(iphone))
            QSKIP("sample pictures not available");
        QCOMPARE(EXIFReader::read(iphone).location, QStringLiteral("39.0513, -94.2888"));
        QCOMPARE(
            EXIFReader::read(sample(QStringLiteral("raw/nikon_d70_stripped.nef"))).parameterLine(),
            QStringLiteral("18mm  f/3.5  1/20s  ISO 200"));
        const ShootingData canon = ShootingDataReader::read(
            sample(QStringLiteral("jpeg/canon_eos600d_lens_artist_gps_nw.jpg")));
        QCOMPARE(canon.timeSource, ShootingData::TimeSource::capture);
        QCOMPARE(canon.captureTime.date(), QDate(2015, 6, 12));
        QCOMPARE(canon.cameraModel, QStringLiteral("Canon EOS 600D"));
        QCOMPARE((QList<double>{*canon.focalLength, *canon.aperture, 1 / *canon.exposureTime}),
                 (QList<double>{85, 5.6, 1250}));
        QCOMPARE(canon.iso, 160);
        const ShootingData phone = ShootingDataReader::read(iphone);
        QCOMPARE(phone.cameraMake, QStringLiteral("Apple"));
        QVERIFY(phone.lens.contains(QStringLiteral("iPhone 11 Pro Max")));
        const ShootingData none =
            ShootingDataReader::read(sample(QStringLiteral("jpeg/no_exif.jpg")));
        QCOMPARE(none.timeSource, ShootingData::TimeSource::fileModified);
    }
};

QTEST_GUILESS_MAIN(TestEXIFReader)
#include "tst_exifreader.moc"
