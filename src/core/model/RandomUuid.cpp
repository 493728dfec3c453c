#include "model/RandomUuid.h"

#include <QRandomGenerator>

QUuid RandomUuid::create()
{
    thread_local QRandomGenerator64 generator(QRandomGenerator::system()->generate64());
    const quint64 high = generator.generate64();
    const quint64 low = generator.generate64();
    // Version 4 in the time_hi field, RFC 4122 variant in clock_seq_hi.
    const quint16 timeHigh = quint16(((high & 0xffff) & 0x0fff) | 0x4000);
    const uchar clockSeqHigh = uchar(((low >> 56) & 0x3f) | 0x80);
    return QUuid(uint(high >> 32), ushort(high >> 16), timeHigh, clockSeqHigh, uchar(low >> 48),
                 uchar(low >> 40), uchar(low >> 32), uchar(low >> 24), uchar(low >> 16),
                 uchar(low >> 8), uchar(low));
}
