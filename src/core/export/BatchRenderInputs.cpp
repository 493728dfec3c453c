#include "export/BatchRenderInputs.h"

#include <utility>

BatchRenderInputs::BatchRenderInputs(RenderInputs edited, EXIFData firstPhoto, bool brandByHand,
                                     LogoCatalogue catalogue)
    : m_edited(std::move(edited))
    , m_firstPhoto(std::move(firstPhoto))
    , m_brandByHand(brandByHand)
    , m_catalogue(std::move(catalogue))
{}

RenderInputs BatchRenderInputs::forPhoto(const EXIFData &own) const
{
    RenderInputs inputs = m_edited;
    for (QString EXIFData::*field :
         {&EXIFData::cameraModel, &EXIFData::lensModel, &EXIFData::focalLength, &EXIFData::aperture,
          &EXIFData::shutterSpeed, &EXIFData::iso, &EXIFData::dateTaken, &EXIFData::location,
          &EXIFData::author}) {
        if (m_edited.exif.*field == m_firstPhoto.*field)
            inputs.exif.*field = own.*field;
    }
    if (m_edited.rightMainText == m_firstPhoto.parameterLine())
        inputs.rightMainText = own.parameterLine();
    if (!m_brandByHand) {
        // The preselection the editor makes for a photo it is opened with.
        const QString brand =
            LogoCatalogue::brandForMake(m_catalogue.loadAvailableBrands(), own.cameraMake);
        inputs.exif.cameraMake = brand.isEmpty() ? own.cameraMake : brand;
        inputs.logo = m_catalogue.loadLogo(inputs.exif.cameraMake);
    }
    return inputs;
}
