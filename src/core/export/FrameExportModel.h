#pragma once

#include "export/BatchRenderInputs.h"
#include "export/EditMode.h"
#include "export/FrameStyle.h"
#include "export/LogoCatalogue.h"
#include "export/RenderPipeline.h"
#include "export/WatermarkConfig.h"
#include "imaging/EXIFData.h"
#include "model/ImageItem.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>

// The export editor's state, without widgets: what the user edits, the image
// the preview is built from, the last preview and the export progress. UI
// thread only. Setters notify only on a real change; every change of an input
// of the render also emits renderInputsChanged, which the preview scheduler
// follows.
class FrameExportModel : public QObject
{
    Q_OBJECT

public:
    // The brand picker's entry for a typed brand name, and the value of
    // selectedBrand while the user types one.
    static QString customBrandMarker() { return QStringLiteral("自定义"); }
    static constexpr std::array<double, 8> logoScaleOptions{0.5, 0.7, 0.8, 0.9, 1.0, 1.2, 1.5, 2.0};

    explicit FrameExportModel(LogoCatalogue catalogue = LogoCatalogue(), QObject *parent = nullptr);

    // Single mode: the item and its decoded image; the EXIF is read from the
    // item's file. Then brands, brand preselection and the right main text.
    void startSingle(const ImageItem &item, const QImage &sourceImage);
    // Batch mode: `items` must not be empty; the EXIF is read from the first
    // item's file. The source image arrives later (setSourceImage).
    void startBatch(const QList<ImageItem> &items);

    const QList<ImageItem> &items() const { return m_items; }
    const LogoCatalogue &catalogue() const { return m_catalogue; }

    const QImage &sourceImage() const { return m_sourceImage; }
    const EXIFData &exifData() const { return m_exifData; }
    const QImage &previewImage() const { return m_previewImage; }
    bool isExporting() const { return m_isExporting; }
    bool isInitialLoading() const { return m_isInitialLoading; }
    int previewGeneration() const { return m_previewGeneration; }
    const QString &exportMessage() const { return m_exportMessage; }
    const QString &rightMainText() const { return m_rightMainText; }
    bool showBorder() const { return m_showBorder; }
    const QColor &primaryColor() const { return m_primaryColor; }
    const QColor &secondaryColor() const { return m_secondaryColor; }
    double logoScale() const { return m_logoScale; }
    const QStringList &availableBrands() const { return m_availableBrands; }
    const QString &selectedBrand() const { return m_selectedBrand; }
    bool isCustomBrand() const { return m_isCustomBrand; }
    EditMode editMode() const { return m_editMode; }
    const WatermarkConfig &watermark() const { return m_watermark; }
    const QColor &watermarkColor() const { return m_watermarkColor; }

    void setSourceImage(const QImage &image);
    void setExifData(const EXIFData &exif);
    void setExifField(QString EXIFData::*field, const QString &value);
    void setRightMainText(const QString &text);
    void setShowBorder(bool show);
    void setPrimaryColor(const QColor &color);
    void setSecondaryColor(const QColor &color);
    void setLogoScale(double scale);
    // The brand picker: a brand name writes it into the camera make (so the
    // logo lookup finds it); the custom marker lets the make field be typed.
    void setSelectedBrand(const QString &brand);
    void setEditMode(EditMode mode);
    void setWatermark(const WatermarkConfig &config);
    // Also becomes the watermark's text colour.
    void setWatermarkColor(const QColor &color);

    // Set by the preview scheduler and the export flows.
    void setPreviewImage(const QImage &image); // counts a new preview generation
    void setInitialLoading(bool loading);
    void setExporting(bool exporting);
    void setExportMessage(const QString &message);

    FrameStyle currentStyle() const;
    // A snapshot of everything the render needs, the logo looked up for the
    // current camera make (read from disk now).
    RenderInputs renderInputs() const;
    // The same snapshot for a batch, which frames each photo with its own
    // EXIF wherever the user left the first photo's values as they came.
    BatchRenderInputs batchRenderInputs() const;

Q_SIGNALS:
    void sourceImageChanged();
    void exifDataChanged();
    void previewImageChanged();
    void exportingChanged(bool exporting);
    void initialLoadingChanged(bool loading);
    void exportMessageChanged(const QString &message);
    void rightMainTextChanged(const QString &text);
    void showBorderChanged(bool show);
    void primaryColorChanged(const QColor &color);
    void secondaryColorChanged(const QColor &color);
    void logoScaleChanged(double scale);
    void availableBrandsChanged();
    void selectedBrandChanged(const QString &brand);
    void customBrandChanged(bool custom);
    void editModeChanged(EditMode mode);
    void watermarkChanged();
    void watermarkColorChanged(const QColor &color);
    // Any input of the render changed: the preview is out of date.
    void renderInputsChanged();

private:
    void start(const QList<ImageItem> &items);
    void preselectBrand();

    LogoCatalogue m_catalogue;
    QList<ImageItem> m_items;
    QImage m_sourceImage;
    EXIFData m_exifData;
    // The first item's texts and brand as start() set them up, before any edit.
    EXIFData m_startExif;
    QString m_startBrand;
    QImage m_previewImage;
    bool m_isExporting = false;
    bool m_isInitialLoading = true;
    int m_previewGeneration = 0;
    QString m_exportMessage;
    QString m_rightMainText;
    bool m_showBorder = false;
    QColor m_primaryColor = Qt::black;
    QColor m_secondaryColor = QColor(128, 128, 128);
    double m_logoScale = 1.0;
    QStringList m_availableBrands;
    QString m_selectedBrand;
    bool m_isCustomBrand = false;
    EditMode m_editMode = EditMode::frame;
    WatermarkConfig m_watermark;
    QColor m_watermarkColor = Qt::white;
};
