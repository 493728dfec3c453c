#pragma once

#include <QByteArray>
#include <QColorSpace>
#include <QImage>

// Brings decoded pixels into sRGB, the one colour space the rest of the
// program draws and writes in. Untagged pictures are taken as sRGB.
class ColorConverter
{
public:
    // Converts from the embedded ICC profile when one is given, else from the
    // image's own colour space. QColorSpace handles matrix/TRC profiles; other
    // RGB profiles (LUT based) go through Little CMS. Unusable profiles leave
    // the pixels as they are.
    static QImage toSRGB(QImage image, const QByteArray &iccProfile = {});

    // The colour space described by CICP/nclx code points (ITU-T H.273), as
    // HEIF and AVIF files carry it; invalid for unknown primaries.
    static QColorSpace fromCicp(int colourPrimaries, int transferCharacteristics);

private:
    static QImage convertWithLittleCms(QImage image, const QByteArray &iccProfile);
};
