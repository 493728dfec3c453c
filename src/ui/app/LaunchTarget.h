#pragma once

#include <QString>

// What a path from the command line (or handed over by a second start) asks
// to open: a readable folder; an image, whose folder opens with the image
// shown; or nothing, with the reason in words for the user.
class LaunchTarget
{
public:
    static LaunchTarget fromPath(const QString &path);

    bool isValid() const { return !m_folder.isEmpty(); }
    const QString &folder() const { return m_folder; }
    // Set when an image was named: show it once its folder is open.
    const QString &image() const { return m_image; }
    // Why nothing can be opened; empty when valid.
    const QString &problem() const { return m_problem; }

private:
    static bool isReadableFolder(const QString &path);

    QString m_folder;
    QString m_image;
    QString m_problem;
};
