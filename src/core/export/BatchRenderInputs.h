#pragma once

#include "export/LogoCatalogue.h"
#include "export/RenderPipeline.h"
#include "imaging/EXIFData.h"

// The settings of a batch export, captured once on the UI thread. The editor
// shows the first photo's EXIF; a text the user left as it came from that
// photo stands for "this photo's own value", so every photo gets its own
// camera, lens, parameter line, date, place, author and brand, while a text
// the user changed (or a brand picked by hand) applies to every photo. Any
// thread.
class BatchRenderInputs
{
public:
    BatchRenderInputs() = default;
    // `edited`: the editor's current settings; `firstPhoto`: the texts of the
    // first photo as the editor started with them (brand preselected).
    BatchRenderInputs(RenderInputs edited, EXIFData firstPhoto, bool brandByHand,
                      LogoCatalogue catalogue);

    // The inputs for one photo of the batch, given its own EXIF. Reads the
    // logo folder when the brand follows the photo.
    RenderInputs forPhoto(const EXIFData &own) const;

private:
    RenderInputs m_edited;
    EXIFData m_firstPhoto;
    bool m_brandByHand = false;
    LogoCatalogue m_catalogue{QString()};
};
