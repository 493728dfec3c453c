#pragma once

#include <QWidget>

class ColorPanelCoordinator;
class CustomColorButton;
class FrameExportModel;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QVBoxLayout;

// The frame's settings: brand picker with logo scale and custom brand field,
// the six bar texts, the two text colours and the border switch. Every control
// writes straight into the model and follows the model's changes.
class FrameSettingsPanel : public QWidget
{
    Q_OBJECT

public:
    FrameSettingsPanel(FrameExportModel &model, ColorPanelCoordinator &coordinator,
                       QWidget *parent = nullptr);

private:
    QWidget *makeBrandPicker();
    QLineEdit *addFieldSection(QVBoxLayout *column, const QString &label);
    QWidget *makeColorRow(const QString &label, CustomColorButton *swatch);
    void showBrands();
    void showExif();

    FrameExportModel &m_model;
    QComboBox *m_brand;
    QComboBox *m_logoScale;
    QLineEdit *m_customMake;
    QLineEdit *m_cameraModel;
    QLineEdit *m_lens;
    QLineEdit *m_rightMain;
    QLineEdit *m_date;
    QLineEdit *m_location;
    QLineEdit *m_author;
    CustomColorButton *m_primary;
    CustomColorButton *m_secondary;
    QCheckBox *m_border;
};
