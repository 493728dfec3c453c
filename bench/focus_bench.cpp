// Reading where the camera focused: 1,000 6-megapixel camera-like JPEGs,
// made once and kept under bench-corpus/focus-1000. A quarter each carries
// a Canon AFInfo2 record of 61 points, a Nikon AFInfo2 record, a Sony
// FocusLocation or only the EXIF SubjectArea, beside the usual camera EXIF.
// BM_ReadFocusPoints reads them with FocusPointReader; BM_Exiv2FocusBaseline
// is a bare Exiv2 open + readMetadata of the same files. Both spread the
// files over the global pool from a thread outside it.
#include "BenchCorpus.h"
#include "ImagingFixtures.h"
#include "imaging/FocusPointReader.h"
#include "imaging/ImageDecoder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentMap>
#include <atomic>
#include <benchmark/benchmark.h>
#include <exiv2/exiv2.hpp>
#include <string>

namespace {

constexpr int kFiles = 1000;

void add(Exiv2::ExifData &exif, const char *key, Exiv2::TypeId type, const std::string &text)
{
    const auto value = Exiv2::Value::create(type);
    value->read(text);
    exif.add(Exiv2::ExifKey(key), value.get());
}

// 61 points in a 5 x 13 grid (less the corners), in focus and selected
// around the n-th one.
std::string canonRecord(int n)
{
    constexpr int points = 61;
    std::string widths, heights, xs, ys;
    for (int i = 0; i < points; ++i) {
        widths += "180 ", heights += "240 ";
        xs += std::to_string(quint16(qint16((i % 13 - 6) * 400))) + ' ';
        ys += std::to_string(quint16(qint16((i / 13 - 2) * 500))) + ' ';
    }
    const int focused = n % points;
    std::string masks[2];
    for (int m = 0; m < 2; ++m) {
        for (int word = 0; word < 4; ++word)
            masks[m] += std::to_string(focused / 16 == word ? 1 << (focused % 16) : 0) + ' ';
    }
    std::string record =
        "182 2 61 61 6000 4000 6000 4000 " + widths + heights + xs + ys + masks[0] + masks[1];
    record.pop_back(); // Exiv2 reads no trailing blank
    return record;
}

void tagFocus(Exiv2::ExifData &exif, int n)
{
    constexpr auto u16 = Exiv2::unsignedShort;
    const char *makes[] = {"Canon", "NIKON CORPORATION", "SONY", "Apple"};
    const int kind = n % 4;
    add(exif, "Exif.Image.Make", Exiv2::asciiString, makes[kind]);
    add(exif, "Exif.Image.Model", Exiv2::asciiString, "Bench Camera");
    add(exif, "Exif.Image.Orientation", u16, std::to_string(n % 8 + 1));
    add(exif, "Exif.Photo.ExposureTime", Exiv2::unsignedRational, "1/250");
    add(exif, "Exif.Photo.FNumber", Exiv2::unsignedRational, "28/10");
    add(exif, "Exif.Photo.ISOSpeedRatings", u16, "400");
    add(exif, "Exif.Photo.FocalLength", Exiv2::unsignedRational, "50/1");
    add(exif, "Exif.Photo.DateTimeOriginal", Exiv2::asciiString, "2026:05:01 10:00:00");
    add(exif, "Exif.Photo.PixelXDimension", Exiv2::unsignedLong, "3000");
    add(exif, "Exif.Photo.PixelYDimension", Exiv2::unsignedLong, "2000");
    const std::string x = std::to_string(200 + n % 2600), y = std::to_string(200 + n % 1600);
    switch (kind) {
    case 0:
        add(exif, "Exif.Canon.AFInfo", u16, canonRecord(n));
        break;
    case 1:
        add(exif, "Exif.NikonAf2.Version", Exiv2::undefined, "48 49 48 48");
        add(exif, "Exif.NikonAf2.AFImageWidth", u16, "3000");
        add(exif, "Exif.NikonAf2.AFImageHeight", u16, "2000");
        add(exif, "Exif.NikonAf2.AFAreaXPosition", u16, x);
        add(exif, "Exif.NikonAf2.AFAreaYPosition", u16, y);
        add(exif, "Exif.NikonAf2.AFAreaWidth", u16, "150");
        add(exif, "Exif.NikonAf2.AFAreaHeight", u16, "150");
        break;
    case 2:
        add(exif, "Exif.Sony2.0x2027", u16, "3000 2000 " + x + ' ' + y);
        break;
    default:
        add(exif, "Exif.Photo.SubjectArea", u16, x + ' ' + y + " 400 300");
        break;
    }
}

const QStringList &corpus()
{
    static const QStringList files = [] {
        ImageDecoder::initialiseLibraries();
        const QString root = BenchCorpus::corpusRoot() + QStringLiteral("/focus-1000");
        const QString done = root + QStringLiteral("/.complete");
        QStringList paths;
        for (int n = 0; n < kFiles; ++n)
            paths << root + QStringLiteral("/DSC_%1.jpg").arg(n, 4, 10, QLatin1Char('0'));
        if (QFileInfo::exists(done))
            return paths;
        QDir(root).removeRecursively();
        QDir().mkpath(root);
        const QString plain = root + QStringLiteral("/plain.jpg");
        if (!ImagingFixtures::writePlainJpeg(plain, 3000, 2000, QColor(90, 120, 150)))
            qFatal("cannot write the focus corpus in %s", qPrintable(root));
        for (int n = 0; n < kFiles; ++n) {
            QFile::copy(plain, paths[n]);
            ImagingFixtures::editExif(paths[n], [n](Exiv2::ExifData &exif) { tagFocus(exif, n); });
        }
        QFile::remove(plain);
        QFile(done).open(QIODevice::WriteOnly);
        return paths;
    }();
    return files;
}

} // namespace

static void BM_ReadFocusPoints(benchmark::State &state)
{
    QStringList files = corpus();
    std::atomic<int> withAreas = 0;
    for (auto _ : state) {
        withAreas = 0;
        QtConcurrent::blockingMap(files, [&](const QString &path) {
            if (!FocusPointReader::read(path).isEmpty())
                ++withAreas;
        });
    }
    state.counters["files"] = double(files.size());
    state.counters["with_areas"] = double(withAreas);
}
BENCHMARK(BM_ReadFocusPoints)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_Exiv2FocusBaseline(benchmark::State &state)
{
    QStringList files = corpus();
    for (auto _ : state) {
        QtConcurrent::blockingMap(files, [](const QString &path) {
            auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
            image->readMetadata();
            benchmark::DoNotOptimize(image->exifData().count());
        });
    }
    state.counters["files"] = double(files.size());
}
BENCHMARK(BM_Exiv2FocusBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();
