#include "EditorFixtures.h"
#include "export/FrameExportModel.h"
#include "export/FrameExporter.h"
#include "export/LogoCatalogue.h"
#include "export/PreviewScheduler.h"
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

struct Editor
{
    Editor(const QTemporaryDir &dir, const QString &logos)
        : state(queues, dir.filePath(QStringLiteral("ratings.json")),
                dir.filePath(QStringLiteral("settings.ini")))
        , model{LogoCatalogue(logos)}
    {}

    bool run(void (FrameExporter::*flow)())
    {
        QSignalSpy finished(&exporter, &FrameExporter::finished);
        (exporter.*flow)();
        return finished.wait(10000) && finished.first().first().toBool();
    }

    QString toast() const { return state.toastMessage().value_or(QString()); }

    WorkQueues queues;
    AppState state;
    RAWProcessor raw{queues};
    FrameExportModel model;
    FrameExporter exporter{model, state, raw};
};

class TestFrameExportModel : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_logos;

    ImageItem photoItem(const QString &name, const Camera &camera, QSize size = {600, 400})
    {
        return ImageItem(writePhoto(m_dir.filePath(name), size, camera));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_logos = m_dir.filePath(QStringLiteral("Logos"));
        for (const char *brand : {"Nikon", "Leica", "Canon"})
            QVERIFY(!writeLogo(m_logos, QStringLiteral("%1.png").arg(brand)).isEmpty());
        QVERIFY(!writeBytes(m_logos + QStringLiteral("/Notes.txt"), "not a logo").isEmpty());
    }

    void logoLookup()
    {
        QCOMPARE(LogoCatalogue(m_logos).loadAvailableBrands(),
                 QStringList({"Canon", "Leica", "Nikon"})); // PNG names, sorted
        const QString folder = m_dir.filePath(QStringLiteral("SonyLogos"));
        writeLogo(folder, "SONY.png", 200);
        writeLogo(folder, "Sony-Alpha.png", 300);
        writeLogo(folder, "Pentax.PNG", 160);
        writeBytes(folder + "/Ricoh.png", "not a png at all");
        QImage(50, 50, QImage::Format_RGB32).save(folder + "/Fuji.jpg");
        const LogoCatalogue catalogue(folder);
        // Equality in any case, else the first word, else containment.
        for (const char *make : {"Sony", "  sony\n", "SONY Alpha 7", "Camera SONY"})
            QVERIFY2(catalogue.loadLogo(QString::fromLatin1(make)).width() == 200, make);
        QCOMPARE(catalogue.loadLogo(QStringLiteral("PENTAX Corporation")).width(), 160);
        for (const char *make : {"Fuji", "RICOH", "   ", "Olympus"})
            QVERIFY2(catalogue.loadLogo(QString::fromLatin1(make)).isNull(), make);
        const QString first = m_dir.filePath(QStringLiteral("first"));
        const QString second = m_dir.filePath(QStringLiteral("second"));
        QVERIFY(QDir().mkpath(first) && QDir().mkpath(second));
        const QString missing = m_dir.filePath("nowhere");
        QCOMPARE(LogoCatalogue::firstExistingFolder({missing, second, first}), second);
        QCOMPARE(LogoCatalogue::firstExistingFolder({missing}), QString());
        const QStringList candidates = LogoCatalogue::defaultCandidates();
        QVERIFY(candidates.size() >= 3 && candidates.at(1).endsWith("share/kelvane/Logos"));
        QVERIFY(LogoCatalogue(candidates.last()).loadAvailableBrands().contains("Nikon"));
    }

    // Make, logo folder, preselected brand (empty: the custom marker, the make kept).
    void brandPreselectionAndChoice()
    {
        const std::tuple<QString, bool, QString> rows[] = {
            {"NIKON CORPORATION", true, "Nikon"}, // containment
            {"Acme Optics", true, {}},            // no match
            {"NIKON CORPORATION", false, {}}};    // no logo folder
        for (const auto &[make, logoFolder, brand] : rows) {
            FrameExportModel model{LogoCatalogue(logoFolder ? m_logos : QString())};
            model.startBatch({photoItem(QStringLiteral("pre_%1_%2.jpg").arg(make).arg(logoFolder),
                                        {make.toStdString(), "Z 8", "NIKKOR Z 35mm f/1.8 S"})});
            QCOMPARE(model.availableBrands().isEmpty(), !logoFolder);
            QCOMPARE(model.selectedBrand(),
                     brand.isEmpty() ? FrameExportModel::customBrandMarker() : brand);
            QCOMPARE(model.exifData().cameraMake, brand.isEmpty() ? make : brand);
            QCOMPARE(model.isCustomBrand(), brand.isEmpty());
            QCOMPARE(model.renderInputs().logo.isNull(), brand.isEmpty());
            // The right main text starts as the (editable) parameter line.
            QCOMPARE(model.rightMainText(), QStringLiteral("35mm  f/2.8  1/500s  ISO 200"));
        }
        // A brand the user picks replaces the make; the custom marker keeps it for editing.
        FrameExportModel model{LogoCatalogue(m_logos)};
        model.startBatch({photoItem(QStringLiteral("pick.jpg"), {"Acme", "Z 8", ""})});
        model.setExifField(&EXIFData::cameraMake, QStringLiteral("My Brand"));
        model.setSelectedBrand(QStringLiteral("Leica"));
        QCOMPARE(model.exifData().cameraMake, QStringLiteral("Leica"));
        QVERIFY(!model.isCustomBrand() && !model.renderInputs().logo.isNull());
        model.setSelectedBrand(FrameExportModel::customBrandMarker());
        QVERIFY(model.isCustomBrand() && model.exifData().cameraMake == QStringLiteral("Leica"));
        // An emptied right main text stays empty (no parameter line instead).
        model.setRightMainText(QString());
        QCOMPARE(model.renderInputs().rightMainText, QString());
    }

    void everyTrackedChangeSchedulesAndEqualValuesDoNot()
    {
        FrameExportModel model{LogoCatalogue(m_logos)};
        QSignalSpy changes(&model, &FrameExportModel::renderInputsChanged);
        const auto changeAll = [&model] {
            model.setRightMainText(QStringLiteral("x"));
            model.setShowBorder(true);
            model.setPrimaryColor(Qt::red);
            model.setSecondaryColor(Qt::blue);
            model.setLogoScale(1.5);
            model.setEditMode(EditMode::both);
            model.setExifField(&EXIFData::lensModel, QStringLiteral("lens"));
            model.setSelectedBrand(FrameExportModel::customBrandMarker());
            model.setWatermarkColor(Qt::green); // through the watermark's text colour
        };
        changeAll();
        QCOMPARE(changes.count(), 9);
        QCOMPARE(model.watermark().textColor, QColor(Qt::green));
        changeAll();
        QCOMPARE(changes.count(), 9);
    }

    // Quick edits give one scaled preview; a render outdated while it runs is dropped.
    void previewIsDebouncedScaledAndCurrent()
    {
        WorkQueues queues;
        FrameExportModel model{LogoCatalogue(m_logos)};
        PreviewScheduler scheduler(model, queues.background());
        model.startSingle(photoItem("preview.jpg", {"Canon", "R5", ""}), photo(3000, 2000));
        scheduler.setPreviewBound({600, 600});
        QSignalSpy updated(&scheduler, &PreviewScheduler::previewUpdated);
        const int before = scheduler.renderCount();
        for (const char *text : {"a", "ab", "abc", "abcd", "abcde"})
            model.setRightMainText(text);
        QVERIFY(updated.wait(2000));
        QCOMPARE(scheduler.renderCount() - before, 1);
        QCOMPARE(model.previewGeneration(), 1);
        QCOMPARE(model.previewImage().size(), QSize(600, 448)); // bar: 0.08 of the longer side

        scheduler.updatePreview();              // a framed render is running...
        model.setEditMode(EditMode::watermark); // ...and is outdated at once
        QVERIFY(updated.wait(2000));
        QCOMPARE(updated.count(), 2);
        QCOMPARE(model.previewGeneration(), 2);
        QCOMPARE(model.previewImage().size(), QSize(600, 400)); // no bar
    }

    // Each batch output equals its photo's single export with the same edits;
    // an undecodable photo is skipped; the selection is cleared.
    void batchUsesEachPhotosOwnDataExceptEdits()
    {
        for (const bool handPicked : {false, true}) {
            const QString root = m_dir.filePath(QStringLiteral("own_%1").arg(handPicked));
            const QStringList paths{
                writePhoto(root + QStringLiteral("/a/canon.jpg"), {600, 400},
                           {"Canon", "Canon EOS R6", "RF70-200mm F2.8 L IS USM"}),
                writePhoto(root + QStringLiteral("/a/nikon.jpg"), {600, 400},
                           {"NIKON CORPORATION", "NIKON D800E", "85mm f/1.4", 85, 60,
                            "2023:07:14 09:30:00"}),
                writePhoto(root + QStringLiteral("/b/plain.jpg"), {300, 500})};
            const QString broken =
                writeBytes(root + QStringLiteral("/b/broken.jpg"), "broken bytes");
            const auto edit = [handPicked](FrameExportModel &model) {
                model.setExifField(&EXIFData::author, QStringLiteral("Zhang San"));
                if (handPicked) {
                    model.setSelectedBrand(QStringLiteral("Leica"));
                    model.setRightMainText(QStringLiteral("Summer trip"));
                }
            };
            const auto framedOf = [](const QString &path) {
                return QImage(QFileInfo(path).path() + "/图片边框/" +
                              QFileInfo(path).completeBaseName() + "_framed.jpg");
            };
            QList<QImage> expected;
            for (const QString &path : paths) {
                Editor alone(m_dir, m_logos);
                alone.model.startSingle(ImageItem(path), RAWProcessor::loadImageSync(path));
                edit(alone.model);
                QVERIFY(alone.run(&FrameExporter::singleExport));
                expected << framedOf(path);
                QVERIFY(QDir(QFileInfo(path).path() + "/图片边框").removeRecursively());
            }

            Editor editor(m_dir, m_logos);
            const QList<ImageItem> items{ImageItem(paths[0]), ImageItem(paths[1]),
                                         ImageItem(broken), ImageItem(paths[2])};
            editor.state.setImages(items);
            editor.state.setSelectedImageIDs({items[0].id(), items[3].id()});
            editor.model.startBatch(items);
            editor.model.setSourceImage(RAWProcessor::loadImageSync(paths[0]));
            edit(editor.model);
            QSignalSpy progress(&editor.model, &FrameExportModel::exportMessageChanged);
            QVERIFY(editor.run(&FrameExporter::batchExport));
            QCOMPARE(progress.size(), 4);
            for (int i = 0; i < 4; ++i)
                QCOMPARE(progress.at(i).first(), QStringLiteral("正在处理 %1 / 4").arg(i + 1));
            for (int i = 0; i < paths.size(); ++i)
                QCOMPARE(framedOf(paths[i]), expected[i]);
            QCOMPARE(QDir(root + "/b/图片边框").entryList(QDir::Files),
                     QStringList{"plain_framed.jpg"});
            QCOMPARE(editor.toast(),
                     QStringLiteral("已套壳 3 / 4 张，保存在 2 个文件夹的「图片边框」中"));
            QVERIFY(editor.state.selectedImageIDs().isEmpty() && !editor.model.isExporting());
        }
    }

    // A failed export: a message, no toast, nothing half-written, and the editor
    // stays usable. A watermarked single export keeps its source's EXIF,
    // upright, without the thumbnail, tagged as sRGB.
    void singleExportFailsCleanlyOrKeepsTheMetadata()
    {
        Editor editor(m_dir, m_logos);
        const QString blocked = m_dir.filePath(QStringLiteral("blocked"));
        const QString shot = writePhoto(blocked + QStringLiteral("/shot.jpg"), {800, 500});
        writeBytes(blocked + QStringLiteral("/图片边框"), "in the way"); // where the folder goes
        editor.model.startSingle(ImageItem(shot), QImage(shot));
        QVERIFY(!editor.run(&FrameExporter::singleExport));
        QVERIFY(!editor.model.isExporting() && editor.toast().isEmpty());
        QCOMPARE(editor.model.exportMessage(), QStringLiteral("导出失败"));
        QCOMPARE(QDir(blocked).entryList(QDir::Files).size(), 2);
        const QString folder = m_dir.filePath(QStringLiteral("meta"));
        const QString path = writePhoto(
            folder + QStringLiteral("/meta.one.jpg"), {600, 400},
            {"Canon", "Canon EOS R6", "RF24-70mm F2.8 L IS USM", 35, 500, "2024:05:01 14:03:22"});
        {
            auto file = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
            file->readMetadata();
            Exiv2::ExifData &exif = file->exifData();
            exif["Exif.Image.Orientation"] = uint16_t(6);
            exif["Exif.Image.Artist"] = std::string("Li Lei");
            exif["Exif.GPSInfo.GPSLatitudeRef"] = std::string("S");
            exif["Exif.GPSInfo.GPSLatitude"] = std::string("33/1 52/1 776/100");
            exif["Exif.GPSInfo.GPSLongitudeRef"] = std::string("E");
            exif["Exif.GPSInfo.GPSLongitude"] = std::string("151/1 12/1 3348/100");
            QByteArray thumbnail;
            QBuffer buffer(&thumbnail);
            QVERIFY(buffer.open(QIODevice::WriteOnly) && photo(160, 120).save(&buffer, "JPEG"));
            Exiv2::ExifThumb(exif).setJpegThumbnail(
                reinterpret_cast<const Exiv2::byte *>(thumbnail.constData()), thumbnail.size());
            file->writeMetadata();
        }
        editor.model.startSingle(ImageItem(path), QImage(path));
        editor.model.setEditMode(EditMode::watermark);
        QVERIFY(editor.run(&FrameExporter::singleExport));
        QCOMPARE(editor.toast(), FrameExporter::successMessage());
        const QString written = folder + QStringLiteral("/图片边框/meta.one_framed.jpg");
        QCOMPARE(QImage(written).size(), QImage(path).size());
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
};

QTEST_MAIN(TestFrameExportModel)
#include "tst_frameexportmodel.moc"
