#include "imaging/EXIFData.h"

#include <QStringList>

QString EXIFData::parameterLine() const
{
    QStringList parts;
    for (const QString *part : {&focalLength, &aperture, &shutterSpeed, &iso}) {
        if (!part->isEmpty())
            parts << *part;
    }
    return parts.join(QStringLiteral("  "));
}
