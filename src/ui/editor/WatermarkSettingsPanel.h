#pragma once

#include <QWidget>

class ColorPanelCoordinator;
class CustomColorButton;
class FrameExportModel;
class ImagePickerRow;
class PositionPicker;
class QLineEdit;
class SegmentedControl;
class SliderRow;

// The watermark's settings; which rows show depends on the watermark kind.
// Every control writes straight into the model and follows its changes.
class WatermarkSettingsPanel : public QWidget
{
    Q_OBJECT

public:
    WatermarkSettingsPanel(FrameExportModel &model, ColorPanelCoordinator &coordinator,
                           QWidget *parent = nullptr);

    SliderRow *fontSizeRow() const { return m_fontSize; }
    SliderRow *opacityRow() const { return m_opacity; }
    SliderRow *rotationRow() const { return m_rotation; }

private:
    void showConfig();
    void showRowsForKind();
    template <typename Edit>
    void editWatermark(Edit edit);

    FrameExportModel &m_model;
    SegmentedControl *m_kind;
    QWidget *m_textSection;
    QLineEdit *m_text;
    QWidget *m_imageSection;
    ImagePickerRow *m_imagePicker;
    QWidget *m_positionSection;
    PositionPicker *m_position;
    SliderRow *m_fontSize;
    SliderRow *m_imageScale;
    SliderRow *m_opacity;
    SliderRow *m_margin;
    SliderRow *m_tileSpacing;
    SliderRow *m_rotation;
    QWidget *m_colorRow;
    CustomColorButton *m_color;
};
