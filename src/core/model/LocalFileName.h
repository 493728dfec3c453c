#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// File names as the kernel stores them (bytes) and as the program handles
// them (QString), without loss. Names in UTF-8 decode as Qt decodes them; a
// byte that is not part of valid UTF-8 (a Latin-1 name from an old camera
// card or a Windows share) becomes the lone surrogate U+DC80 + byte, as
// Python's surrogateescape does, and encodes back to the same byte. Only a
// lone unit counts: the second half of a pair (U+1F4F7 is D83D DCF7) is text.
// QFile::decodeName would turn it into U+FFFD and the file could never be
// opened again. Any thread.
class LocalFileName
{
public:
    static QString decode(const char *bytes, qsizetype length);
    static QString decode(const QByteArray &bytes)
    {
        return decode(bytes.constData(), bytes.size());
    }
    static QByteArray encode(const QString &path);

    // Opens for reading by the exact bytes of the name (Qt's own classes
    // would re-encode an escaped name). False when the file cannot be opened.
    static bool openForReading(QFile &file, const QString &path);
};
