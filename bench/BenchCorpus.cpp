#include "BenchCorpus.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

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

} // namespace BenchCorpus
