#include "model/ImageItem.h"
#include "model/SupportedFormats.h"

#include <QSet>
#include <QTest>

class TestImageItem : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fieldsFromFileName_data()
    {
        // "name extension label category"; RAW exactly when the category is.
        QTest::addColumn<QString>("row");
        for (const char *row :
             {"PHOTO.JPEG jpeg JPG jpeg", "a.Tif tif TIFF tiff", "x.HEIF heif HEIC heic",
              "DSC00001.HIF hif HIF heic", "b.bmp bmp BMP other", "w.webp webp WEBP other",
              "IMG_1.DNG dng DNG raw", "h.3fr 3fr 3FR raw", "p.avif avif AVIF other",
              "anim.gif gif GIF gif", "s.png png PNG png", "trip.2024.jpg jpg JPG jpeg"})
            QTest::newRow(row) << QString::fromUtf8(row);
    }
    void fieldsFromFileName()
    {
        QFETCH(QString, row);
        const QStringList parts = row.split(' ');
        const auto category = ImageItem::FormatCategory(
            QStringList{"raw", "jpeg", "png", "heic", "gif", "tiff", "other"}.indexOf(parts[3]));
        const ImageItem item(QStringLiteral("/photos/2024 旅行/") + parts[0]);
        QCOMPARE(QStringList({item.filename(), item.fileExtension(), item.formatLabel()}),
                 parts.mid(0, 3));
        QCOMPARE(item.formatCategory(), category);
        QCOMPARE(item.isRAW(), category == ImageItem::FormatCategory::raw);
        QCOMPARE(item.url().toLocalFile(), item.path());
    }
    void supportedFileTest()
    {
        // Raw families in any case, and whatever the platform types as an image.
        for (const char *name :
             {"a.jpg", "a.CR3", "a.srw", "logo.svg", "favicon.ico", "a.avif", "IMG_0001.HIF"})
            QVERIFY2(SupportedFormats::isSupportedFile(QString::fromUtf8(name)), name);
        for (const char *name : {"notes.txt", "README", "photo.", "star-ratings.json", "clip.mp4"})
            QVERIFY2(!SupportedFormats::isSupportedFile(QString::fromUtf8(name)), name);
    }
    // Items of one file are told apart by their ids alone, new for each item.
    void identityIsTheIdAlone()
    {
        const ImageItem first(QStringLiteral("/tmp/same.jpg"));
        const ImageItem second(first.path());
        const ImageItem copy = first;
        QVERIFY(first != second && !(first == second));
        QCOMPARE(copy, first);
        QCOMPARE(QSet<ImageItem>({first, second, copy}).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestImageItem)
#include "tst_imageitem.moc"
