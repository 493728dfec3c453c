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
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("label");
        QTest::addColumn<ImageItem::FormatCategory>("category");
        using C = ImageItem::FormatCategory;
        // A row: name, extension, label and category; RAW exactly when the category is.
        const auto row = [](const char *tag, const char *name, const char *extension,
                            const char *label, C category) {
            QTest::newRow(tag) << QString::fromUtf8(name) << QString::fromUtf8(extension)
                               << QString::fromUtf8(label) << category;
        };
        row("upper-case jpeg", "PHOTO.JPEG", "jpeg", "JPG", C::jpeg);
        row("mixed-case tif", "a.Tif", "tif", "TIFF", C::tiff);
        row("heif shows as HEIC", "x.HEIF", "heif", "HEIC", C::heic);
        row("camera hif is heic", "DSC00001.HIF", "hif", "HIF", C::heic);
        row("bmp is other", "b.bmp", "bmp", "BMP", C::other);
        row("webp is other", "w.webp", "webp", "WEBP", C::other);
        row("dng is raw", "IMG_1.DNG", "dng", "DNG", C::raw);
        row("3fr is raw", "h.3fr", "3fr", "3FR", C::raw);
        row("avif via platform type", "p.avif", "avif", "AVIF", C::other);
        row("gif", "anim.gif", "gif", "GIF", C::gif);
        row("png", "s.png", "png", "PNG", C::png);
        row("last dot wins", "trip.2024.jpg", "jpg", "JPG", C::jpeg);
    }
    void fieldsFromFileName()
    {
        QFETCH(QString, name);
        QFETCH(QString, extension);
        QFETCH(QString, label);
        QFETCH(ImageItem::FormatCategory, category);
        const ImageItem item(QStringLiteral("/photos/2024 旅行/") + name);
        QCOMPARE(item.filename(), name);
        QCOMPARE(item.fileExtension(), extension);
        QCOMPARE(item.formatLabel(), label);
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
        QCOMPARE(first.id().version(), QUuid::Random);
    }
};

QTEST_GUILESS_MAIN(TestImageItem)
#include "tst_imageitem.moc"
