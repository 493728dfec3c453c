#include "model/LocalFileName.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char16_t escapeBase = 0xDC80; // U+DC80..U+DCFF carry the bytes 0x80..0xFF

// Length of the valid UTF-8 sequence at p (1..4), or 0 when it is not one.
int validSequenceLength(const uchar *p, qsizetype left)
{
    const uchar lead = p[0];
    int length = 0;
    char32_t minimum = 0, code = 0;
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (left < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (p[i] & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < minimum || code > 0x10FFFF || surrogate ? 0 : length;
}

// Whether the unit at `i` stands for a raw byte: a unit in U+DC80..U+DCFF
// that is not the second half of a surrogate pair (emoji such as U+1F4F7 and
// many CJK Extension B characters end in such a unit).
bool isEscapedByte(QStringView path, qsizetype i)
{
    const char16_t c = path[i].unicode();
    if (c < escapeBase || c > 0xDCFF)
        return false;
    return i == 0 || !QChar::isHighSurrogate(path[i - 1].unicode());
}

} // namespace

QString LocalFileName::decode(const char *bytes, qsizetype length)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes);
    qsizetype valid = 0;
    while (valid < length) {
        const int n = validSequenceLength(p + valid, length - valid);
        if (n == 0)
            break;
        valid += n;
    }
    if (valid == length) // the common case: plain UTF-8
        return QString::fromUtf8(bytes, length);
    QString name = QString::fromUtf8(bytes, valid);
    for (qsizetype i = valid; i < length;) {
        const int n = validSequenceLength(p + i, length - i);
        if (n == 0) {
            name += QChar(char16_t(escapeBase + (p[i] - 0x80)));
            ++i;
        } else {
            name += QString::fromUtf8(bytes + i, n);
            i += n;
        }
    }
    return name;
}

QByteArray LocalFileName::encode(const QString &path)
{
    qsizetype first = 0;
    while (first < path.size() && !isEscapedByte(path, first))
        ++first;
    if (first == path.size())
        return path.toUtf8();
    QByteArray bytes;
    bytes.reserve(path.size() * 2);
    qsizetype runStart = 0;
    for (qsizetype i = first; i < path.size(); ++i) {
        if (isEscapedByte(path, i)) {
            bytes += QStringView(path).mid(runStart, i - runStart).toUtf8();
            bytes += char(0x80 + (path.at(i).unicode() - escapeBase));
            runStart = i + 1;
        }
    }
    bytes += QStringView(path).mid(runStart).toUtf8();
    return bytes;
}

bool LocalFileName::openForReading(QFile &file, const QString &path)
{
    const int fd = ::open(encode(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}
