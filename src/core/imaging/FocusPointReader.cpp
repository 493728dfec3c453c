#include "imaging/FocusPointReader.h"

FocusPoints FocusPointReader::read(const QString &path)
{
    Q_UNUSED(path);
    return {};
}
