#include "BenchCorpus.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

namespace BenchCorpus {

QString corpusRoot()
{
    const QString root = QStringLiteral(KELVANE_BENCH_CORPUS_DIR);
    QDir().mkpath(root);
    return root;
}

QString scanTree()
{
    const QString root = corpusRoot() + QStringLiteral("/scan-100k");
    const QString done = root + QStringLiteral("/.complete");
    if (QFileInfo::exists(done))
        return root;
    QDir(root).removeRecursively();
    const char *extensions[] = {"jpg", "CR3", "heic", "NEF", "png"};
    for (int folder = 0; folder < 500; ++folder) {
        const QString dir = root + QStringLiteral("/day%1/roll").arg(folder);
        QDir().mkpath(dir);
        for (int i = 0; i < 200; ++i) {
            QFile file(dir + QStringLiteral("/IMG_%1.%2")
                                 .arg(folder * 200 + i)
                                 .arg(QLatin1String(extensions[i % 5])));
            if (!file.open(QIODevice::WriteOnly))
                qFatal("cannot create the scan corpus in %s", qPrintable(root));
        }
        QFile(dir + QStringLiteral("/notes.txt")).open(QIODevice::WriteOnly);
        QFile(dir + QStringLiteral("/.DS_Store")).open(QIODevice::WriteOnly);
    }
    QFile(done).open(QIODevice::WriteOnly);
    return root;
}

namespace {

// Gradients, hills and fine noise: encodes and decodes like a photograph,
// unlike a flat test card.
QImage photoLike(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator noise(17);
    const int w = size.width(), h = size.height();
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int n = int(noise.bounded(16u)) - 8;
            const bool hill = y > h * 6 / 10 + (x * 7 / w) * h / 40;
            const int r = hill ? 40 + x % 60 : 90 + 120 * x / w;
            const int g = hill ? 110 + (x / 90) % 40 : 140 + 80 * y / h;
            const int b = hill ? 50 : 230 - 60 * y / h;
            line[x] = qRgb(std::clamp(r + n, 0, 255), std::clamp(g + n, 0, 255),
                           std::clamp(b + n, 0, 255));
        }
    }
    return image;
}

} // namespace

QString distinct24MP(int count)
{
    const QString root = corpusRoot() + QStringLiteral("/distinct24mp-%1").arg(count);
    const QString photos = root + QStringLiteral("/photos");
    if (QFileInfo::exists(root + QStringLiteral("/.complete")))
        return photos;
    QDir(root).removeRecursively();
    QDir().mkpath(photos);
    QImage picture = photoLike(QSize(6000, 4000));
    for (int i = 0; i < count; ++i) {
        // A block of its own colour per file: distinct pixels, the same decode work.
        QPainter(&picture).fillRect(0, 0, 600, 400, QColor::fromHsv(i * 37 % 360, 200, 200));
        const QString path = photos + QStringLiteral("/DSC_%1.jpg").arg(i, 4, 10, QLatin1Char('0'));
        if (!picture.save(path, "JPEG", 90))
            qFatal("cannot write the 24 MP corpus in %s", qPrintable(root));
    }
    QFile(root + QStringLiteral("/.complete")).open(QIODevice::WriteOnly);
    return photos;
}

} // namespace BenchCorpus
