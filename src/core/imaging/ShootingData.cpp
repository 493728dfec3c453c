#include "imaging/ShootingData.h"

QString ShootingData::cameraName() const
{
    // Runs per image when the grid filters by camera: no copies unless the
    // maker's word has to be put in front.
    const QStringView make(cameraMake);
    const qsizetype space = make.indexOf(QLatin1Char(' '));
    const QStringView makerWord = space < 0 ? make : make.left(space);
    if (cameraModel.isEmpty())
        return cameraMake;
    if (makerWord.isEmpty() || cameraModel.startsWith(makerWord, Qt::CaseInsensitive))
        return cameraModel;
    return makerWord.toString() + QLatin1Char(' ') + cameraModel;
}
