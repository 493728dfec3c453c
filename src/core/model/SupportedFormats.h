#pragma once

#include <QSet>
#include <QString>

// The file-name extensions Kelvane treats as images. Members are lower case and
// carry no dot; compare them with an already lower-cased extension.
class SupportedFormats
{
public:
    static const QSet<QString> &standardExtensions();
    static const QSet<QString> &rawExtensions();
    static const QSet<QString> &allExtensions();

    // True when a file with this name is an image: its lower-cased extension is
    // one of ours, or the MIME database types the extension as an image.
    // Thread-safe; looks only at the name, never at the file.
    static bool isSupportedFile(const QString &fileName);
    static bool isSupportedExtension(const QString &lowerCaseExtension);
};
