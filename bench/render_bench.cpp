// Frame/watermark rendering and JPEG export at 24 MP, beside libjpeg-turbo's
// own encode of the same pixels as the baseline for exportAsJPEG.
#include "export/FrameRenderer.h"
#include "export/RenderPipeline.h"
#include "export/WatermarkRenderer.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <exiv2/exiv2.hpp>
#include <turbojpeg.h>

namespace {

// Smooth gradients with mild noise: encodes like a photo, unlike a plain fill.
const QImage &photo24MP()
{
    static const QImage photo = [] {
        QImage image(6000, 4000, QImage::Format_RGB32);
        QRandomGenerator noise(42);
        for (int y = 0; y < image.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int n = int(noise.bounded(16)) - 8;
                line[x] = qRgb(std::clamp(x * 255 / 6000 + n, 0, 255),
                               std::clamp(y * 255 / 4000 + n, 0, 255),
                               std::clamp(128 + ((x / 40 + y / 40) % 2) * 40 + n, 0, 255));
            }
        }
        return image;
    }();
    return photo;
}

const QImage &brandLogo()
{
    static const QImage logo = [] {
        QImage image(800, 300, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        for (int y = 60; y < 240; ++y)
            for (int x = 40; x < 760; ++x)
                image.setPixel(x, y, qRgba(200, 20, 30, 255));
        return image;
    }();
    return logo;
}

EXIFData sampleExif()
{
    EXIFData exif;
    exif.cameraMake = "NIKON CORPORATION";
    exif.cameraModel = "NIKON Z 8";
    exif.lensModel = "NIKKOR Z 24-120mm f/4 S";
    exif.focalLength = "50mm";
    exif.aperture = "f/4";
    exif.shutterSpeed = "1/250s";
    exif.iso = "ISO 100";
    exif.author = "Kelvane";
    return exif;
}

// The editor's render pipeline in mode both: text watermark and frame with logo.
RenderInputs bothInputs()
{
    RenderInputs inputs;
    inputs.mode = EditMode::both;
    inputs.exif = sampleExif();
    inputs.logo = brandLogo();
    inputs.rightMainText = inputs.exif.parameterLine();
    return inputs;
}

QImage renderBoth(const QImage &photo)
{
    return RenderPipeline::render(photo, bothInputs());
}

const QImage &framed24MP()
{
    static const QImage framed = renderBoth(photo24MP());
    return framed;
}

void BM_WatermarkAndFrame24MP(benchmark::State &state)
{
    const QImage &photo = photo24MP();
    for (auto _ : state) {
        QImage result = renderBoth(photo);
        benchmark::DoNotOptimize(result.constBits());
    }
}
BENCHMARK(BM_WatermarkAndFrame24MP)->Unit(benchmark::kMillisecond)->UseRealTime();

// A camera's EXIF as an export carries it over.
ExportMetadata cameraMetadata()
{
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = std::string("Canon");
    exif["Exif.Image.Model"] = std::string("Canon EOS R6");
    exif["Exif.Image.Orientation"] = uint16_t(6);
    exif["Exif.Image.Artist"] = std::string("Bench");
    exif["Exif.Photo.LensModel"] = std::string("RF70-200mm F2.8 L IS USM");
    exif["Exif.Photo.FocalLength"] = Exiv2::URational(85, 1);
    exif["Exif.Photo.FNumber"] = Exiv2::URational(28, 10);
    exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 1250);
    exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(160);
    exif["Exif.Photo.DateTimeOriginal"] = std::string("2024:05:01 14:03:22");
    exif["Exif.GPSInfo.GPSLatitudeRef"] = std::string("N");
    exif["Exif.GPSInfo.GPSLatitude"] = std::string("39/1 54/1 1512/100");
    exif["Exif.GPSInfo.GPSLongitudeRef"] = std::string("E");
    exif["Exif.GPSInfo.GPSLongitude"] = std::string("116/1 24/1 2664/100");
    return ExportMetadata(exif);
}

void BM_ExportJpeg24MP(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("bench_framed.jpg");
    const QImage &photo = photo24MP();
    const ExportMetadata metadata = cameraMetadata();
    for (auto _ : state) {
        // Decoration and file as the export flows make them (render, encode,
        // write, fsync, rename); the frame is painted as the encoder reads it.
        if (!RenderPipeline::exportAsJPEG(photo, bothInputs(), path, 0.95, metadata))
            state.SkipWithError("export failed");
        state.PauseTiming();
        QFile::remove(path);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ExportJpeg24MP)->Unit(benchmark::kMillisecond)->UseRealTime();

// exportAsJPEG alone (encode, temporary file, fsync, rename) on the framed pixels.
void BM_ExportAsJpegOnly24MP(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("bench_framed.jpg");
    const QImage &framed = framed24MP();
    qint64 bytes = 0;
    for (auto _ : state) {
        if (!FrameRenderer::exportAsJPEG(framed, path))
            state.SkipWithError("export failed");
        state.PauseTiming();
        bytes = QFileInfo(path).size();
        QFile::remove(path);
        state.ResumeTiming();
    }
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_ExportAsJpegOnly24MP)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline: TurboJPEG encode of the same 6000 x 4480 pixels, quality 95, 4:2:0.
void BM_LibjpegEncodeQ95(benchmark::State &state)
{
    const QImage &framed = framed24MP();
    tjhandle handle = tjInitCompress();
    const int pixelFormat = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? TJPF_BGRX : TJPF_XRGB;
    unsigned long size = 0;
    for (auto _ : state) {
        unsigned char *jpeg = nullptr;
        size = 0;
        if (tjCompress2(handle, framed.constBits(), framed.width(), int(framed.bytesPerLine()),
                        framed.height(), pixelFormat, &jpeg, &size, TJSAMP_420, 95, 0) != 0)
            state.SkipWithError(tjGetErrorStr2(handle));
        benchmark::DoNotOptimize(jpeg);
        tjFree(jpeg);
    }
    tjDestroy(handle);
    state.counters["bytes"] = double(size);
}
BENCHMARK(BM_LibjpegEncodeQ95)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TiledWatermark24MP(benchmark::State &state)
{
    WatermarkConfig config;
    config.kind = WatermarkConfig::Kind::tiled;
    const QImage &photo = photo24MP();
    for (auto _ : state) {
        QImage result = WatermarkRenderer::apply(photo, config).value_or(photo);
        benchmark::DoNotOptimize(result.constBits());
    }
}
BENCHMARK(BM_TiledWatermark24MP)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // fonts need the GUI application
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    photo24MP();
    framed24MP();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
