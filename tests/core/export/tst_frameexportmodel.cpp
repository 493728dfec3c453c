// The export editor's logic without a window: brands and logos, change
// tracking, the debounced preview and both export flows on real files.
#include "EditorFixtures.h"
#include "PixelProbe.h"
#include "export/FrameExportModel.h"
#include "export/FrameExporter.h"
#include "export/LogoCatalogue.h"
#include "export/PreviewScheduler.h"
#include "export/RenderPipeline.h"
#include "imaging/EXIFReader.h"
#include "imaging/RAWProcessor.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"

#include <QBuffer>
#include <QColorSpace>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace EditorFixtures;

class TestFrameExportModel : public QObject
{
    Q_OBJECT

private:
    WorkQueues m_queues;
    QTemporaryDir m_dir;
    QString m_logos;

    ImageItem photoItem(const QString &name, const Camera &camera, QSize size = {600, 400})
    {
        return ImageItem(writePhoto(m_dir.filePath(name), size, camera));
    }

    std::unique_ptr<AppState> appState()
    {
        return std::make_unique<AppState>(m_queues, m_dir.filePath(QStringLiteral("ratings.json")),
                                          m_dir.filePath(QStringLiteral("settings.ini")));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_logos = m_dir.filePath(QStringLiteral("Logos"));
        QVERIFY(!writeLogo(m_logos, QStringLiteral("Nikon.png")).isEmpty());
        QVERIFY(!writeLogo(m_logos, QStringLiteral("Leica.png")).isEmpty());
        QVERIFY(!writeLogo(m_logos, QStringLiteral("Canon.png")).isEmpty());
        QVERIFY(!writeBytes(m_logos + QStringLiteral("/Notes.txt"), "not a logo").isEmpty());
    }

    void brandListHasThePngNamesSorted()
    {
        const LogoCatalogue catalogue(m_logos);
        QCOMPARE(catalogue.loadAvailableBrands(),
                 QStringList(
                     {QStringLiteral("Canon"), QStringLiteral("Leica"), QStringLiteral("Nikon")}));
        QVERIFY(LogoCatalogue(m_dir.filePath(QStringLiteral("missing")))
                    .loadAvailableBrands()
                    .isEmpty());
    }

    void brandPreselection_data()
    {
        QTest::addColumn<QString>("make");
        QTest::addColumn<QString>("brand");
        QTest::addColumn<QString>("makeAfter");
        QTest::addColumn<bool>("custom");
        QTest::newRow("containment") << "NIKON CORPORATION"
                                     << "Nikon"
                                     << "Nikon" << false;
        QTest::newRow("leica") << "Leica Camera AG"
                               << "Leica"
                               << "Leica" << false;
        QTest::newRow("equality") << "canon"
                                  << "Canon"
                                  << "Canon" << false;
        QTest::newRow("no match") << "Acme Optics"
                                  << "自定义"
                                  << "Acme Optics" << true;
    }

    void brandPreselection()
    {
        QFETCH(QString, make);
        QFETCH(QString, brand);
        QFETCH(QString, makeAfter);
        QFETCH(bool, custom);
        FrameExportModel model{LogoCatalogue(m_logos)};
        model.startBatch({photoItem(QStringLiteral("pre_%1.jpg").arg(QTest::currentDataTag()),
                                    {make.toStdString(), "Z 8", "NIKKOR Z 35mm f/1.8 S"})});
        QCOMPARE(model.selectedBrand(), brand);
        QCOMPARE(model.exifData().cameraMake, makeAfter);
        QCOMPARE(model.isCustomBrand(), custom);
        // The right main text starts as the parameter line, so the user can edit it.
        QCOMPARE(model.rightMainText(), QStringLiteral("35mm  f/2.8  1/500s  ISO 200"));
    }

    void noLogoFolderMeansCustomBrand()
    {
        FrameExportModel model{LogoCatalogue(QString())};
        model.startBatch(
            {photoItem(QStringLiteral("nofolder.jpg"), {"NIKON CORPORATION", "Z 8", ""})});
        QVERIFY(model.availableBrands().isEmpty());
        QCOMPARE(model.selectedBrand(), FrameExportModel::customBrandMarker());
        QCOMPARE(model.exifData().cameraMake, QStringLiteral("NIKON CORPORATION"));
        QVERIFY(model.renderInputs().logo.isNull());
    }

    void brandChoice()
    {
        FrameExportModel model{LogoCatalogue(m_logos)};
        model.startBatch({photoItem(QStringLiteral("choice.jpg"), {"Acme", "A1", ""})});
        model.setExifField(&EXIFData::cameraMake, QStringLiteral("My Brand"));
        model.setSelectedBrand(QStringLiteral("Leica"));
        QCOMPARE(model.exifData().cameraMake, QStringLiteral("Leica"));
        QVERIFY(!model.isCustomBrand());
        QVERIFY(!model.renderInputs().logo.isNull());
        model.setSelectedBrand(FrameExportModel::customBrandMarker());
        QVERIFY(model.isCustomBrand());
        QCOMPARE(model.exifData().cameraMake, QStringLiteral("Leica")); // kept for editing
    }

    void logoLookup()
    {
        const QString folder = m_dir.filePath(QStringLiteral("SonyLogos"));
        writeLogo(folder, QStringLiteral("SONY.png"), 200);
        writeLogo(folder, QStringLiteral("Sony-Alpha.png"), 300);
        writeLogo(folder, QStringLiteral("Pentax.PNG"), 160);
        writeBytes(folder + QStringLiteral("/Ricoh.png"), "not a png at all");
        QImage(50, 50, QImage::Format_RGB32).save(folder + QStringLiteral("/Fuji.jpg"));
        const LogoCatalogue catalogue(folder);
        QCOMPARE(catalogue.loadLogo(QStringLiteral("Sony")).width(), 200); // equality, any case
        QCOMPARE(catalogue.loadLogo(QStringLiteral("  sony\n")).width(), 200);
        QCOMPARE(catalogue.loadLogo(QStringLiteral("SONY Alpha 7")).width(), 200); // first word
        QCOMPARE(catalogue.loadLogo(QStringLiteral("PENTAX Corporation")).width(), 160);
        QVERIFY(catalogue.loadLogo(QStringLiteral("Fuji")).isNull());  // only PNG files
        QVERIFY(catalogue.loadLogo(QStringLiteral("RICOH")).isNull()); // matches, does not load
        QVERIFY(catalogue.loadLogo(QStringLiteral("   ")).isNull());
        QVERIFY(catalogue.loadLogo(QStringLiteral("Olympus")).isNull());
    }

    void logoFolderSearchOrder()
    {
        const QString first = m_dir.filePath(QStringLiteral("first"));
        const QString second = m_dir.filePath(QStringLiteral("second"));
        QDir().mkpath(first);
        QDir().mkpath(second);
        const QString missing = m_dir.filePath(QStringLiteral("nowhere"));
        QCOMPARE(LogoCatalogue::firstExistingFolder({missing, first, second}), first);
        QCOMPARE(LogoCatalogue::firstExistingFolder({second, first}), second);
        QCOMPARE(LogoCatalogue::firstExistingFolder({missing}), QString());
        // The installed share folder comes after the executable's own folder and
        // before the source tree, which ships the project's wordmarks.
        const QStringList candidates = LogoCatalogue::defaultCandidates();
        QVERIFY(candidates.size() >= 3);
        QVERIFY(candidates.at(1).endsWith(QStringLiteral("share/kelvane/Logos")));
        QVERIFY(LogoCatalogue(candidates.last()).loadAvailableBrands().contains("Nikon"));
    }

    void everyTrackedChangeSchedulesAndEqualValuesDoNot()
    {
        FrameExportModel model{LogoCatalogue(m_logos)};
        QSignalSpy changes(&model, &FrameExportModel::renderInputsChanged);
        model.setRightMainText(QStringLiteral("x"));
        model.setShowBorder(true);
        model.setPrimaryColor(Qt::red);
        model.setSecondaryColor(Qt::blue);
        model.setLogoScale(1.5);
        model.setEditMode(EditMode::both);
        model.setExifField(&EXIFData::lensModel, QStringLiteral("lens"));
        model.setSelectedBrand(FrameExportModel::customBrandMarker());
        QCOMPARE(changes.count(), 8);
        model.setWatermarkColor(Qt::green); // through the watermark's text colour
        QCOMPARE(changes.count(), 9);
        QCOMPARE(model.watermark().textColor, QColor(Qt::green));
        model.setRightMainText(QStringLiteral("x"));
        model.setShowBorder(true);
        model.setLogoScale(1.5);
        model.setWatermarkColor(Qt::green);
        QCOMPARE(changes.count(), 9);
    }

    void fiveQuickEditsGiveOnePreview()
    {
        FrameExportModel model{LogoCatalogue(m_logos)};
        PreviewScheduler scheduler(model);
        model.startSingle(photoItem(QStringLiteral("debounce.jpg"), {"Canon", "R5", ""}),
                          photo(1200, 800));
        QSignalSpy updated(&scheduler, &PreviewScheduler::previewUpdated);
        const int before = scheduler.renderCount();
        for (const char *text : {"a", "ab", "abc", "abcd", "abcde"})
            model.setRightMainText(text);
        QVERIFY(updated.wait(2000));
        QCOMPARE(scheduler.renderCount() - before, 1);
        QCOMPARE(model.previewGeneration(), 1);
        QVERIFY(!model.previewImage().isNull());
    }

    void stalePreviewIsDropped()
    {
        FrameExportModel model{LogoCatalogue(m_logos)};
        PreviewScheduler scheduler(model);
        model.startSingle(photoItem(QStringLiteral("stale.jpg"), {"Canon", "R5", ""}),
                          photo(1500, 1000));
        QSignalSpy updated(&scheduler, &PreviewScheduler::previewUpdated);
        scheduler.updatePreview();              // a framed render is running...
        model.setEditMode(EditMode::watermark); // ...and is outdated at once
        QVERIFY(updated.wait(2000));
        QCOMPARE(updated.count(), 1);
        QCOMPARE(model.previewGeneration(), 1);
        // The watermark-only preview has the photo's proportions: no bar below.
        const QImage preview = model.previewImage();
        QCOMPARE(preview.width() * 2, preview.height() * 3);
    }

    void previewIsScaledButLooksLikeTheExport()
    {
        FrameExportModel model{LogoCatalogue(m_logos)};
        PreviewScheduler scheduler(model);
        model.startSingle(photoItem(QStringLiteral("scaled.jpg"), {"Canon", "R5", ""}),
                          photo(3000, 2000));
        scheduler.setPreviewBound({600, 600});
        QSignalSpy updated(&scheduler, &PreviewScheduler::previewUpdated);
        scheduler.updatePreview();
        QVERIFY(updated.wait(2000));
        // 600 x 400 photo, bar 0.08 of the longer side = 48.
        QCOMPARE(model.previewImage().size(), QSize(600, 448));
    }

    void emptyRightMainTextLeavesTheRightBlockEmpty()
    {
        auto state = appState();
        RAWProcessor raw(m_queues);
        const QString folder = m_dir.filePath(QStringLiteral("right"));
        const QString path =
            writePhoto(folder + QStringLiteral("/right.jpg"), {900, 600}, {"Canon", "EOS R5", ""});
        const auto rightBlockInk = [&](const QString &rightText) {
            FrameExportModel model{LogoCatalogue(m_logos)};
            FrameExporter exporter(model, *state, raw);
            model.startSingle(ImageItem(path), QImage(path));
            model.setRightMainText(rightText);
            QSignalSpy finished(&exporter, &FrameExporter::finished);
            exporter.singleExport();
            if (!finished.wait(5000) || !finished.first().first().toBool())
                return QRect(-1, -1, 1, 1);
            const QStringList files = framedFiles(folder);
            const QImage written(folder + QStringLiteral("/图片边框/") + files.last());
            // The right half of the bar (bar 72 px high under the 600 px photo).
            return PixelProbe::changedBounds(written, QRect(450, 600, 450, 72), Qt::white, 40);
        };
        QVERIFY(!rightBlockInk(QStringLiteral("35mm  f/2.8")).isEmpty());
        QVERIFY(rightBlockInk(QString()).isEmpty());
        QCOMPARE(framedFiles(folder).size(), 2);
    }

    void watermarkOnlyExportKeepsTheSizeAndTheFramedName()
    {
        auto state = appState();
        RAWProcessor raw(m_queues);
        FrameExportModel model{LogoCatalogue(m_logos)};
        FrameExporter exporter(model, *state, raw);
        const QString folder = m_dir.filePath(QStringLiteral("wm"));
        const QString path = writePhoto(folder + QStringLiteral("/shot.one.jpg"), {800, 500});
        model.startSingle(ImageItem(path), QImage(path));
        model.setEditMode(EditMode::watermark);
        QSignalSpy finished(&exporter, &FrameExporter::finished);
        exporter.singleExport();
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.first().first().toBool(), true);
        QCOMPARE(framedFiles(folder), QStringList{QStringLiteral("shot.one_framed.jpg")});
        QCOMPARE(QImage(folder + QStringLiteral("/图片边框/shot.one_framed.jpg")).size(),
                 QSize(800, 500));
        QCOMPARE(state->toastMessage().value_or(QString()), FrameExporter::successMessage());
        QVERIFY(!model.isExporting());
    }

    void singleExportFailureKeepsTheEditorUsable()
    {
        auto state = appState();
        RAWProcessor raw(m_queues);
        FrameExportModel model{LogoCatalogue(m_logos)};
        FrameExporter exporter(model, *state, raw);
        const QString folder = m_dir.filePath(QStringLiteral("blocked"));
        const QString path = writePhoto(folder + QStringLiteral("/a.jpg"), {400, 300});
        // A file where the destination folder should be: it cannot be created.
        writeBytes(folder + QStringLiteral("/图片边框"), "in the way");
        model.startSingle(ImageItem(path), QImage(path));
        QSignalSpy finished(&exporter, &FrameExporter::finished);
        exporter.singleExport();
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(model.exportMessage(), QStringLiteral("导出失败"));
        QVERIFY(!model.isExporting());
        QVERIFY(!state->toastMessage().has_value());
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2); // nothing half-written
    }

    void batchSkipsAnUndecodableImageAndClearsTheSelection()
    {
        auto state = appState();
        RAWProcessor raw(m_queues);
        FrameExportModel model{LogoCatalogue(m_logos)};
        FrameExporter exporter(model, *state, raw);
        const QString folder = m_dir.filePath(QStringLiteral("batch"));
        const QList<ImageItem> items{
            ImageItem(
                writePhoto(folder + QStringLiteral("/1.jpg"), {500, 300}, {"Canon", "R6", ""})),
            ImageItem(writeBytes(folder + QStringLiteral("/2.jpg"), "broken jpeg bytes")),
            ImageItem(writePhoto(folder + QStringLiteral("/3.jpg"), {300, 500}))};
        state->setImages(items);
        state->setSelectedImageIDs({items[0].id(), items[2].id()});
        model.startBatch(items);
        model.setSourceImage(QImage(items[0].path()));

        QStringList progress;
        connect(&model, &FrameExportModel::exportMessageChanged, this,
                [&progress](const QString &message) { progress << message; });
        QSignalSpy finished(&exporter, &FrameExporter::finished);
        exporter.batchExport();
        QVERIFY(finished.wait(10000));
        QCOMPARE(progress,
                 QStringList({QStringLiteral("正在处理 1 / 3"), QStringLiteral("正在处理 2 / 3"),
                              QStringLiteral("正在处理 3 / 3")}));
        QCOMPARE(state->toastMessage().value_or(QString()), QStringLiteral("已套壳 2 / 3 张"));
        QVERIFY(state->selectedImageIDs().isEmpty());
        QVERIFY(!model.isExporting());
        QCOMPARE(framedFiles(folder),
                 QStringList({QStringLiteral("1_framed.jpg"), QStringLiteral("3_framed.jpg")}));
        // The portrait keeps its own size.
        QCOMPARE(QImage(folder + QStringLiteral("/图片边框/3_framed.jpg")).size(), QSize(300, 540));
    }

    // Each photo of a batch is framed with its own EXIF, except for what the
    // user edited: every output equals the single export of that photo with
    // the same edits.
    void batchUsesEachPhotosOwnDataExceptEdits_data()
    {
        QTest::addColumn<bool>("handPicked");
        QTest::newRow("own data, typed author") << false;
        QTest::newRow("hand-picked brand and right text") << true;
    }

    void batchUsesEachPhotosOwnDataExceptEdits()
    {
        QFETCH(bool, handPicked);
        auto state = appState();
        RAWProcessor raw(m_queues);
        const QString root = m_dir.filePath(QStringLiteral("own_%1").arg(handPicked));
        const QString canon = writePhoto(root + QStringLiteral("/a/canon.jpg"), {600, 400},
                                         {"Canon", "Canon EOS R6", "RF70-200mm F2.8 L IS USM"});
        const QString nikon = writePhoto(root + QStringLiteral("/a/nikon.jpg"), {600, 400},
                                         {"NIKON CORPORATION", "NIKON D800E", "85mm f/1.4"});
        {
            auto file = Exiv2::ImageFactory::open(QFile::encodeName(nikon).toStdString());
            file->readMetadata();
            Exiv2::ExifData &exif = file->exifData();
            exif["Exif.Photo.FocalLength"] = Exiv2::URational(85, 1);
            exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 60);
            exif["Exif.Photo.DateTimeOriginal"] = std::string("2023:07:14 09:30:00");
            file->writeMetadata();
        }
        const QString plain = writePhoto(root + QStringLiteral("/b/plain.jpg"), {600, 400});
        const auto edit = [handPicked](FrameExportModel &model) {
            model.setExifField(&EXIFData::author, QStringLiteral("Zhang San"));
            if (handPicked) {
                model.setSelectedBrand(QStringLiteral("Leica"));
                model.setRightMainText(QStringLiteral("Summer trip"));
            }
        };
        const auto exportAlone = [&](const QString &path) {
            FrameExportModel model{LogoCatalogue(m_logos)};
            FrameExporter exporter(model, *state, raw);
            model.startSingle(ImageItem(path), RAWProcessor::loadImageSync(path));
            edit(model);
            QSignalSpy finished(&exporter, &FrameExporter::finished);
            exporter.singleExport();
            return finished.wait(5000) ? QImage(QFileInfo(path).path() + "/图片边框/" +
                                                QFileInfo(path).completeBaseName() + "_framed.jpg")
                                       : QImage();
        };
        QList<QImage> expected;
        for (const QString &path : {canon, nikon, plain}) {
            expected << exportAlone(path);
            QVERIFY(!expected.last().isNull());
            QDir(QFileInfo(path).path() + "/图片边框").removeRecursively();
        }

        FrameExportModel model{LogoCatalogue(m_logos)};
        FrameExporter exporter(model, *state, raw);
        model.startBatch({ImageItem(canon), ImageItem(nikon), ImageItem(plain)});
        model.setSourceImage(RAWProcessor::loadImageSync(canon));
        edit(model);
        QSignalSpy finished(&exporter, &FrameExporter::finished);
        exporter.batchExport();
        QVERIFY(finished.wait(10000));
        QCOMPARE(QImage(root + "/a/图片边框/canon_framed.jpg"), expected[0]);
        QCOMPARE(QImage(root + "/a/图片边框/nikon_framed.jpg"), expected[1]);
        QCOMPARE(QImage(root + "/b/图片边框/plain_framed.jpg"), expected[2]);
        QCOMPARE(state->toastMessage().value_or(QString()),
                 QStringLiteral("已套壳 3 / 3 张，保存在 2 个文件夹的「图片边框」中"));
    }

    // An export keeps its source's EXIF, upright and without the source's
    // thumbnail, and is tagged as sRGB.
    void exportKeepsTheSourcesMetadata()
    {
        auto state = appState();
        RAWProcessor raw(m_queues);
        FrameExportModel model{LogoCatalogue(m_logos)};
        FrameExporter exporter(model, *state, raw);
        const QString path = writePhoto(m_dir.filePath(QStringLiteral("meta/meta.jpg")), {600, 400},
                                        {"Canon", "Canon EOS R6", "RF24-70mm F2.8 L IS USM"});
        {
            auto file = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
            file->readMetadata();
            Exiv2::ExifData &exif = file->exifData();
            exif["Exif.Image.Orientation"] = uint16_t(6);
            exif["Exif.Image.Artist"] = std::string("Li Lei");
            exif["Exif.Photo.DateTimeOriginal"] = std::string("2024:05:01 14:03:22");
            exif["Exif.GPSInfo.GPSLatitudeRef"] = std::string("S");
            exif["Exif.GPSInfo.GPSLatitude"] = std::string("33/1 52/1 776/100");
            exif["Exif.GPSInfo.GPSLongitudeRef"] = std::string("E");
            exif["Exif.GPSInfo.GPSLongitude"] = std::string("151/1 12/1 3348/100");
            const QByteArray thumbnail = [] {
                QByteArray bytes;
                QBuffer buffer(&bytes);
                buffer.open(QIODevice::WriteOnly);
                photo(160, 120).save(&buffer, "JPEG");
                return bytes;
            }();
            Exiv2::ExifThumb(exif).setJpegThumbnail(
                reinterpret_cast<const Exiv2::byte *>(thumbnail.constData()), thumbnail.size());
            file->writeMetadata();
        }
        model.startSingle(ImageItem(path), QImage(path));
        QSignalSpy finished(&exporter, &FrameExporter::finished);
        exporter.singleExport();
        QVERIFY(finished.wait(5000));
        const QString written = m_dir.filePath(QStringLiteral("meta/图片边框/meta_framed.jpg"));
        const EXIFData source = EXIFReader::read(path);
        QVERIFY(!source.location.isEmpty() && !source.author.isEmpty());
        QCOMPARE(EXIFReader::read(written), source);

        auto file = Exiv2::ImageFactory::open(QFile::encodeName(written).toStdString());
        file->readMetadata();
        Exiv2::ExifData &exif = file->exifData();
        QCOMPARE(exif["Exif.Image.Orientation"].toLong(), 1L);
        QVERIFY(std::none_of(exif.begin(), exif.end(), [](const Exiv2::Exifdatum &datum) {
            return datum.groupName() == "Thumbnail";
        }));
        QCOMPARE(QImage(written).colorSpace(), QColorSpace(QColorSpace::SRgb));
    }

    void watermarkImageThatIsNotAnImage()
    {
        const QString fake =
            writeBytes(m_dir.filePath(QStringLiteral("logo.png")), "text, not PNG");
        RenderInputs inputs;
        inputs.mode = EditMode::both;
        inputs.watermark.kind = WatermarkConfig::Kind::image;
        inputs.watermark.imageURL = fake;
        const QImage photoImage = photo(400, 300);
        const QImage result = RenderPipeline::render(photoImage, inputs);
        QCOMPARE(result.size(), QSize(400, 332));
        inputs.watermark.kind = WatermarkConfig::Kind::tiled; // falls back to the text tile
        QCOMPARE(RenderPipeline::render(photoImage, inputs).size(), QSize(400, 332));
        QVERIFY(RenderPipeline::render(QImage(), inputs).isNull());
    }
};

QTEST_MAIN(TestFrameExportModel)
#include "tst_frameexportmodel.moc"
