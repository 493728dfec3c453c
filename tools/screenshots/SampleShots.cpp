// The generated sample folder itself: one of its photos, to check the generator.
#include "ScreenshotScene.h"

#include <QImage>

KELVANE_SCREENSHOT_SCENE("sample-photo")
{
    context.save(QImage(context.sampleFolder + QStringLiteral("/IMG_1.jpg")),
                 QStringLiteral("sample-photo"));
}
