#pragma once

#include "model/WorkQueues.h"
#include "state/AppState.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QImage>
#include <QTest>
#include <QUrl>
#include <memory>

// Small real photo folders and a state to open them with.
namespace BrowseFixtures {

inline QString writeImage(const QString &root, const QString &relativePath,
                          QColor color = QColor(200, 120, 40))
{
    const QString path = root + QLatin1Char('/') + relativePath;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(96, 64, QImage::Format_RGB32);
    image.fill(color);
    return image.save(path) ? path : QString();
}

// Stores kept in `folder`; `queues` must outlive the state.
inline std::unique_ptr<AppState> makeState(WorkQueues &queues, const QString &folder)
{
    return std::make_unique<AppState>(queues, folder + QStringLiteral("/ratings.json"),
                                      folder + QStringLiteral("/settings.ini"));
}

inline QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Opens `path` and waits for the scan to be applied.
inline bool open(AppState &state, const QString &path, bool includeSubfolders = true)
{
    QFuture<void> done = state.openFolder(QUrl::fromLocalFile(path), includeSubfolders);
    return QTest::qWaitFor([&] { return done.isFinished(); }, 10000);
}

inline ImageItem item(const AppState &state, const QString &filename)
{
    const QList<ImageItem> &images = state.images();
    const auto found = std::ranges::find(images, filename, &ImageItem::filename);
    return found == images.end() ? ImageItem() : *found;
}

inline QStringList filenames(const QList<ImageItem> &items)
{
    QStringList names;
    for (const ImageItem &image : items)
        names << image.filename();
    return names;
}

} // namespace BrowseFixtures
