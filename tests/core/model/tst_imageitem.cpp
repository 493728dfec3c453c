#include "model/ImageItem.h"
#include "model/SupportedFormats.h"

#include <QFuture>
#include <QSet>
#include <QTest>
#include <QtConcurrent/QtConcurrentRun>

class TestImageItem : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fieldsFromFileName_data();
    void fieldsFromFileName();
    void supportedFileTest_data();
    void supportedFileTest();
    void identityIsTheIdAlone();
    void idsAreRandomVersion4AndDistinctAcrossThreads();
};

void TestImageItem::fieldsFromFileName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("label");
    QTest::addColumn<ImageItem::FormatCategory>("category");
    QTest::addColumn<bool>("isRaw");

    using C = ImageItem::FormatCategory;
    const struct
    {
        const char *tag, *name, *extension, *label;
        C category;
        bool isRaw;
    } rows[] = {
        {"upper-case jpeg", "PHOTO.JPEG", "jpeg", "JPG", C::jpeg, false},
        {"mixed-case tif", "a.Tif", "tif", "TIFF", C::tiff, false},
        {"heif shows as HEIC", "x.HEIF", "heif", "HEIC", C::heic, false},
        {"camera hif is heic", "DSC00001.HIF", "hif", "HIF", C::heic, false},
        {"bmp is other", "b.bmp", "bmp", "BMP", C::other, false},
        {"webp is other", "w.webp", "webp", "WEBP", C::other, false},
        {"dng is raw", "IMG_1.DNG", "dng", "DNG", C::raw, true},
        {"3fr is raw", "h.3fr", "3fr", "3FR", C::raw, true},
        {"avif via platform type", "p.avif", "avif", "AVIF", C::other, false},
        {"gif", "anim.gif", "gif", "GIF", C::gif, false},
        {"png", "s.png", "png", "PNG", C::png, false},
        {"last dot wins", "trip.2024.jpg", "jpg", "JPG", C::jpeg, false},
    };
    for (const auto &row : rows) {
        QTest::newRow(row.tag) << QString::fromUtf8(row.name) << QString::fromUtf8(row.extension)
                               << QString::fromUtf8(row.label) << row.category << row.isRaw;
    }
}

void TestImageItem::fieldsFromFileName()
{
    QFETCH(QString, name);
    QFETCH(QString, extension);
    QFETCH(QString, label);
    QFETCH(ImageItem::FormatCategory, category);
    QFETCH(bool, isRaw);

    const ImageItem item(QStringLiteral("/photos/2024 旅行/") + name);
    QCOMPARE(item.filename(), name);
    QCOMPARE(item.fileExtension(), extension);
    QCOMPARE(item.formatLabel(), label);
    QCOMPARE(item.formatCategory(), category);
    QCOMPARE(item.isRAW(), isRaw);
    QCOMPARE(item.url().toLocalFile(), item.path());
}

void TestImageItem::supportedFileTest_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("supported");

    // Raw families in any case, and whatever the platform types as an image.
    for (const char *name :
         {"a.jpg", "a.CR3", "a.srw", "logo.svg", "favicon.ico", "a.avif", "IMG_0001.HIF"})
        QTest::newRow(name) << QString::fromUtf8(name) << true;
    for (const char *name : {"notes.txt", "README", "photo.", "star-ratings.json", "clip.mp4"})
        QTest::newRow(name) << QString::fromUtf8(name) << false;
}

void TestImageItem::supportedFileTest()
{
    QFETCH(QString, name);
    QFETCH(bool, supported);
    QCOMPARE(SupportedFormats::isSupportedFile(name), supported);
}

void TestImageItem::identityIsTheIdAlone()
{
    const QString path = QStringLiteral("/tmp/same.jpg");
    const ImageItem first(path);
    const ImageItem second(path);
    QVERIFY(first != second);
    QVERIFY(!(first == second));

    const ImageItem copy = first;
    QCOMPARE(copy, first);
    QSet<ImageItem> set{first, second, copy};
    QCOMPARE(set.size(), 2);
}

void TestImageItem::idsAreRandomVersion4AndDistinctAcrossThreads()
{
    constexpr int perThread = 20000;
    auto makeIds = [] {
        QList<QUuid> ids;
        for (int i = 0; i < perThread; ++i)
            ids << ImageItem(QStringLiteral("/p/x.jpg")).id();
        return ids;
    };
    QFuture<QList<QUuid>> other = QtConcurrent::run(makeIds);
    const QList<QUuid> here = makeIds();
    const QList<QUuid> there = other.result();

    QSet<QUuid> distinct(here.cbegin(), here.cend());
    distinct.unite(QSet<QUuid>(there.cbegin(), there.cend()));
    QCOMPARE(distinct.size(), 2 * perThread);
    for (const QUuid &id : here) {
        QCOMPARE(id.version(), QUuid::Random);
        QCOMPARE(id.variant(), QUuid::DCE);
    }
}

QTEST_GUILESS_MAIN(TestImageItem)
#include "tst_imageitem.moc"
