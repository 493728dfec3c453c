#include "export/FrameExportModel.h"

#include "imaging/EXIFReader.h"

FrameExportModel::FrameExportModel(LogoCatalogue catalogue, QObject *parent)
    : QObject(parent)
    , m_catalogue(std::move(catalogue))
{}

void FrameExportModel::startSingle(const ImageItem &item, const QImage &sourceImage)
{
    m_sourceImage = sourceImage;
    start({item});
}

void FrameExportModel::startBatch(const QList<ImageItem> &items)
{
    start(items);
}

void FrameExportModel::start(const QList<ImageItem> &items)
{
    m_items = items;
    // Metadata only (no pixels): a few milliseconds for the first file.
    setExifData(items.isEmpty() ? EXIFData() : EXIFReader::read(items.first().path()));
    m_availableBrands = m_catalogue.loadAvailableBrands();
    Q_EMIT availableBrandsChanged();
    preselectBrand();
    setRightMainText(m_exifData.parameterLine());
    m_startExif = m_exifData;
    m_startBrand = m_selectedBrand;
}

void FrameExportModel::preselectBrand()
{
    const QString brand = LogoCatalogue::brandForMake(m_availableBrands, m_exifData.cameraMake);
    setSelectedBrand(brand.isEmpty() ? customBrandMarker() : brand);
}

void FrameExportModel::setSourceImage(const QImage &image)
{
    if (image.cacheKey() == m_sourceImage.cacheKey() && image.isNull() == m_sourceImage.isNull())
        return;
    m_sourceImage = image;
    Q_EMIT sourceImageChanged();
}

void FrameExportModel::setExifData(const EXIFData &exif)
{
    if (exif == m_exifData)
        return;
    m_exifData = exif;
    Q_EMIT exifDataChanged();
    Q_EMIT renderInputsChanged();
}

void FrameExportModel::setExifField(QString EXIFData::*field, const QString &value)
{
    EXIFData exif = m_exifData;
    exif.*field = value;
    setExifData(exif);
}

void FrameExportModel::setRightMainText(const QString &text)
{
    if (text == m_rightMainText)
        return;
    m_rightMainText = text;
    Q_EMIT rightMainTextChanged(text);
    Q_EMIT renderInputsChanged();
}

void FrameExportModel::setShowBorder(bool show)
{
    if (show == m_showBorder)
        return;
    m_showBorder = show;
    Q_EMIT showBorderChanged(show);
    Q_EMIT renderInputsChanged();
}

void FrameExportModel::setPrimaryColor(const QColor &color)
{
    if (color == m_primaryColor)
        return;
    m_primaryColor = color;
    Q_EMIT primaryColorChanged(color);
    Q_EMIT renderInputsChanged();
}

void FrameExportModel::setSecondaryColor(const QColor &color)
{
    if (color == m_secondaryColor)
        return;
    m_secondaryColor = color;
    Q_EMIT secondaryColorChanged(color);
    Q_EMIT renderInputsChanged();
}

void FrameExportModel::setLogoScale(double scale)
{
    if (scale == m_logoScale)
        return;
    m_logoScale = scale;
    Q_EMIT logoScaleChanged(scale);
    Q_EMIT renderInputsChanged();
}

void FrameExportModel::setSelectedBrand(const QString &brand)
{
    if (brand == m_selectedBrand)
        return;
    m_selectedBrand = brand;
    const bool custom = brand == customBrandMarker();
    if (custom != m_isCustomBrand) {
        m_isCustomBrand = custom;
        Q_EMIT customBrandChanged(custom);
    }
    Q_EMIT selectedBrandChanged(brand);
    Q_EMIT renderInputsChanged();
    if (!custom)
        setExifField(&EXIFData::cameraMake, brand);
}

void FrameExportModel::setEditMode(EditMode mode)
{
    if (mode == m_editMode)
        return;
    m_editMode = mode;
    Q_EMIT editModeChanged(mode);
    Q_EMIT renderInputsChanged();
}

void FrameExportModel::setWatermark(const WatermarkConfig &config)
{
    if (config == m_watermark)
        return;
    m_watermark = config;
    Q_EMIT watermarkChanged();
    Q_EMIT renderInputsChanged();
}

void FrameExportModel::setWatermarkColor(const QColor &color)
{
    if (color == m_watermarkColor)
        return;
    m_watermarkColor = color;
    Q_EMIT watermarkColorChanged(color);
    WatermarkConfig config = m_watermark;
    config.textColor = color;
    setWatermark(config);
}

void FrameExportModel::setPreviewImage(const QImage &image)
{
    m_previewImage = image;
    ++m_previewGeneration;
    Q_EMIT previewImageChanged();
}

void FrameExportModel::setInitialLoading(bool loading)
{
    if (loading == m_isInitialLoading)
        return;
    m_isInitialLoading = loading;
    Q_EMIT initialLoadingChanged(loading);
}

void FrameExportModel::setExporting(bool exporting)
{
    if (exporting == m_isExporting)
        return;
    m_isExporting = exporting;
    Q_EMIT exportingChanged(exporting);
}

void FrameExportModel::setExportMessage(const QString &message)
{
    if (message == m_exportMessage)
        return;
    m_exportMessage = message;
    Q_EMIT exportMessageChanged(message);
}

FrameStyle FrameExportModel::currentStyle() const
{
    FrameStyle style;
    style.backgroundColor = Qt::white;
    style.textColor = m_primaryColor;
    style.secondaryTextColor = m_secondaryColor;
    style.barHeight = 0.08;
    style.padding = 0.02;
    style.borderEnabled = m_showBorder;
    style.borderWidth = 1.0;
    style.logoScale = m_logoScale;
    return style;
}

RenderInputs FrameExportModel::renderInputs() const
{
    RenderInputs inputs;
    inputs.style = currentStyle();
    inputs.exif = m_exifData;
    inputs.logo = m_catalogue.loadLogo(m_exifData.cameraMake);
    inputs.rightMainText = m_rightMainText;
    inputs.mode = m_editMode;
    inputs.watermark = m_watermark;
    return inputs;
}

BatchRenderInputs FrameExportModel::batchRenderInputs() const
{
    const bool brandByHand =
        m_selectedBrand != m_startBrand || m_exifData.cameraMake != m_startExif.cameraMake;
    return BatchRenderInputs(renderInputs(), m_startExif, brandByHand, m_catalogue);
}
