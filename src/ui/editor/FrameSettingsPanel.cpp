#include "editor/FrameSettingsPanel.h"

#include "editor/CustomColorButton.h"
#include "editor/EditorStyle.h"
#include "editor/WheelFocusGuard.h"
#include "export/FrameExportModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

// Replaces a field's text only when it differs, so typing keeps the cursor.
void showText(QLineEdit *field, const QString &text)
{
    if (field->text() != text)
        field->setText(text);
}

QVBoxLayout *group(QVBoxLayout *column)
{
    auto *layout = new QVBoxLayout;
    layout->setSpacing(4);
    layout->setContentsMargins(0, 0, 0, 0);
    column->addLayout(layout);
    return layout;
}

} // namespace

FrameSettingsPanel::FrameSettingsPanel(FrameExportModel &model, ColorPanelCoordinator &coordinator,
                                       QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_primary(new CustomColorButton(coordinator, this))
    , m_secondary(new CustomColorButton(coordinator, this))
    , m_border(new QCheckBox(QStringLiteral("显示边框"), this))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);
    column->addWidget(makeBrandPicker());

    m_cameraModel = addFieldSection(column, QStringLiteral("相机型号"));
    m_lens = addFieldSection(column, QStringLiteral("镜头"));
    m_rightMain = addFieldSection(column, QStringLiteral("右侧主文字"));
    m_date = addFieldSection(column, QStringLiteral("拍摄日期"));
    m_location = addFieldSection(column, QStringLiteral("位置"));
    m_author = addFieldSection(column, QStringLiteral("作者"));

    const struct
    {
        QLineEdit *field;
        QString EXIFData::*member;
    } exifFields[] = {
        {m_cameraModel, &EXIFData::cameraModel}, {m_lens, &EXIFData::lensModel},
        {m_date, &EXIFData::dateTaken},          {m_location, &EXIFData::location},
        {m_author, &EXIFData::author},           {m_customMake, &EXIFData::cameraMake}};
    for (const auto &binding : exifFields) {
        connect(binding.field, &QLineEdit::textEdited, this,
                [this, member = binding.member](const QString &text) {
                    m_model.setExifField(member, text);
                });
    }
    connect(m_rightMain, &QLineEdit::textEdited, &m_model, &FrameExportModel::setRightMainText);

    column->addWidget(makeColorRow(QStringLiteral("主文字颜色"), m_primary));
    column->addWidget(makeColorRow(QStringLiteral("副文字颜色"), m_secondary));
    connect(m_primary, &CustomColorButton::colorPicked, &m_model,
            &FrameExportModel::setPrimaryColor);
    connect(m_secondary, &CustomColorButton::colorPicked, &m_model,
            &FrameExportModel::setSecondaryColor);

    m_border->setFont(EditorStyle::callout());
    column->addWidget(m_border);
    connect(m_border, &QCheckBox::toggled, &m_model, &FrameExportModel::setShowBorder);

    connect(&m_model, &FrameExportModel::availableBrandsChanged, this,
            &FrameSettingsPanel::showBrands);
    connect(&m_model, &FrameExportModel::selectedBrandChanged, this,
            &FrameSettingsPanel::showBrands);
    connect(&m_model, &FrameExportModel::customBrandChanged, m_customMake, &QWidget::setVisible);
    connect(&m_model, &FrameExportModel::exifDataChanged, this, &FrameSettingsPanel::showExif);
    connect(&m_model, &FrameExportModel::rightMainTextChanged, this,
            [this](const QString &text) { showText(m_rightMain, text); });
    connect(&m_model, &FrameExportModel::primaryColorChanged, m_primary,
            &CustomColorButton::setColor);
    connect(&m_model, &FrameExportModel::secondaryColorChanged, m_secondary,
            &CustomColorButton::setColor);
    connect(&m_model, &FrameExportModel::showBorderChanged, m_border, &QCheckBox::setChecked);
    connect(&m_model, &FrameExportModel::logoScaleChanged, this, [this](double scale) {
        const QSignalBlocker blocker(m_logoScale);
        m_logoScale->setCurrentIndex(m_logoScale->findData(scale));
    });

    showBrands();
    showExif();
    showText(m_rightMain, m_model.rightMainText());
    m_customMake->setVisible(m_model.isCustomBrand());
    m_primary->setColor(m_model.primaryColor());
    m_secondary->setColor(m_model.secondaryColor());
    m_border->setChecked(m_model.showBorder());
}

QWidget *FrameSettingsPanel::makeBrandPicker()
{
    auto *box = new QWidget(this);
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(EditorStyle::secondaryLabel(QStringLiteral("相机 Logo"), box));

    auto *row = new QHBoxLayout;
    row->setSpacing(8);
    m_brand = new QComboBox(box);
    m_brand->setObjectName(QStringLiteral("brandPicker"));
    m_brand->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_brand->setMaxVisibleItems(16);
    new WheelFocusGuard(m_brand);
    row->addWidget(m_brand, 1);
    m_logoScale = new QComboBox(box);
    m_logoScale->setObjectName(QStringLiteral("logoScalePicker"));
    m_logoScale->setFixedWidth(80);
    new WheelFocusGuard(m_logoScale);
    for (double option : FrameExportModel::logoScaleOptions)
        m_logoScale->addItem(QString::asprintf("%.1fx", option), option);
    m_logoScale->setCurrentIndex(m_logoScale->findData(m_model.logoScale()));
    row->addWidget(m_logoScale);
    layout->addLayout(row);

    m_customMake = new QLineEdit(box);
    m_customMake->setObjectName(QStringLiteral("customMake"));
    m_customMake->setPlaceholderText(QStringLiteral("输入品牌名"));
    m_customMake->setFont(EditorStyle::callout());
    layout->addWidget(m_customMake);

    connect(m_brand, &QComboBox::activated, this,
            [this](int index) { m_model.setSelectedBrand(m_brand->itemText(index)); });
    connect(m_logoScale, &QComboBox::activated, this,
            [this](int index) { m_model.setLogoScale(m_logoScale->itemData(index).toDouble()); });
    return box;
}

QLineEdit *FrameSettingsPanel::addFieldSection(QVBoxLayout *column, const QString &label)
{
    QVBoxLayout *section = group(column);
    section->addWidget(EditorStyle::secondaryLabel(label, this));
    auto *field = new QLineEdit(this);
    field->setFont(EditorStyle::callout());
    field->setAccessibleName(label);
    section->addWidget(field);
    return field;
}

QWidget *FrameSettingsPanel::makeColorRow(const QString &label, CustomColorButton *swatch)
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(EditorStyle::secondaryLabel(label, row));
    layout->addStretch();
    swatch->setParent(row);
    swatch->setAccessibleName(label);
    layout->addWidget(swatch);
    return row;
}

void FrameSettingsPanel::showBrands()
{
    const QSignalBlocker blocker(m_brand);
    m_brand->clear();
    for (const QString &brand : m_model.availableBrands())
        m_brand->addItem(brand);
    if (!m_model.availableBrands().isEmpty())
        m_brand->insertSeparator(m_brand->count());
    m_brand->addItem(FrameExportModel::customBrandMarker());
    m_brand->setCurrentIndex(m_brand->findText(m_model.selectedBrand(), Qt::MatchExactly));
}

void FrameSettingsPanel::showExif()
{
    const EXIFData &exif = m_model.exifData();
    showText(m_customMake, exif.cameraMake);
    showText(m_cameraModel, exif.cameraModel);
    showText(m_lens, exif.lensModel);
    showText(m_date, exif.dateTaken);
    showText(m_location, exif.location);
    showText(m_author, exif.author);
}
