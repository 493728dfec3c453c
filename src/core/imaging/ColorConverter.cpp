#include "imaging/ColorConverter.h"

#include <lcms2.h>
#include <memory>

namespace {

bool isColourTransformFormat(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
        return true;
    default:
        return false;
    }
}

QImage toTransformableFormat(const QImage &image)
{
    if (isColourTransformFormat(image.format()))
        return image;
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                         : QImage::Format_RGB32);
}

struct ProfileCloser
{
    void operator()(void *profile) const { cmsCloseProfile(profile); }
};
using ProfilePtr = std::unique_ptr<void, ProfileCloser>;

} // namespace

QImage ColorConverter::toSRGB(QImage image, const QByteArray &iccProfile)
{
    if (image.isNull())
        return image;
    QColorSpace source = image.colorSpace();
    if (!iccProfile.isEmpty()) {
        source = QColorSpace::fromIccProfile(iccProfile);
        if (!source.isValid())
            return convertWithLittleCms(std::move(image), iccProfile);
    }
    const QColorSpace sRGB(QColorSpace::SRgb);
    if (!source.isValid() || source == sRGB) {
        image.setColorSpace(sRGB);
        return image;
    }
    image = toTransformableFormat(image);
    image.setColorSpace(source);
    image.convertToColorSpace(sRGB);
    return image;
}

QImage ColorConverter::convertWithLittleCms(QImage image, const QByteArray &iccProfile)
{
    ProfilePtr input(cmsOpenProfileFromMem(iccProfile.constData(),
                                           static_cast<cmsUInt32Number>(iccProfile.size())));
    if (!input || cmsGetColorSpace(input.get()) != cmsSigRgbData)
        return image;
    ProfilePtr output(cmsCreate_sRGBProfile());
    // 8-bit BGRA in memory is QImage's ARGB32 on little-endian machines; the
    // alpha (or padding) byte is carried over untouched.
    image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                          : QImage::Format_RGB32);
    cmsHTRANSFORM transform =
        cmsCreateTransform(input.get(), TYPE_BGRA_8, output.get(), TYPE_BGRA_8, INTENT_PERCEPTUAL,
                           cmsFLAGS_COPY_ALPHA);
    if (!transform)
        return image;
    for (int y = 0; y < image.height(); ++y) {
        uchar *line = image.scanLine(y);
        cmsDoTransform(transform, line, line, static_cast<cmsUInt32Number>(image.width()));
    }
    cmsDeleteTransform(transform);
    image.setColorSpace(QColorSpace(QColorSpace::SRgb));
    return image;
}

QColorSpace ColorConverter::fromCicp(int colourPrimaries, int transferCharacteristics)
{
    // Qt has no BT.709 or PQ/HLG curves; BT.709-family curves are close to
    // sRGB's, which is also what displays use for them.
    QColorSpace::TransferFunction transfer = QColorSpace::TransferFunction::SRgb;
    float gamma = 0.0f;
    switch (transferCharacteristics) {
    case 4:
        transfer = QColorSpace::TransferFunction::Gamma;
        gamma = 2.2f;
        break;
    case 5:
        transfer = QColorSpace::TransferFunction::Gamma;
        gamma = 2.8f;
        break;
    case 8:
        transfer = QColorSpace::TransferFunction::Linear;
        break;
    default:
        break;
    }
    switch (colourPrimaries) {
    case 1:
    case 2: // unspecified: taken as sRGB
        return QColorSpace(QColorSpace::Primaries::SRgb, transfer, gamma);
    case 12:
        return QColorSpace(QColorSpace::Primaries::DciP3D65, transfer, gamma);
    case 9:
        return QColorSpace(QPointF(0.3127, 0.3290), QPointF(0.708, 0.292), QPointF(0.170, 0.797),
                           QPointF(0.131, 0.046), transfer, gamma);
    default:
        return {};
    }
}
