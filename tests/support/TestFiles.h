#pragma once

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QString>

// Small helpers for tests that build folder trees on disk.
namespace TestFiles {

// Creates `relativePath` below `root` (folders included) with some bytes in it.
inline QString touch(const QString &root, const QString &relativePath, const QByteArray &data = "x")
{
    const QString path = root + QLatin1Char('/') + relativePath;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(data);
    return path;
}

inline QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QString makeDir(const QString &root, const QString &relativePath)
{
    const QString path = root + QLatin1Char('/') + relativePath;
    QDir().mkpath(path);
    return path;
}

// Every file below `folder` (hidden ones too), relative to it, sorted.
inline QStringList filesBelow(const QString &folder)
{
    QStringList names;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        names << QDir(folder).relativeFilePath(it.next());
    names.sort();
    return names;
}

} // namespace TestFiles
