#include "editor/WatermarkSettingsPanel.h"

#include "editor/CustomColorButton.h"
#include "editor/EditorStyle.h"
#include "editor/ImagePickerRow.h"
#include "editor/PositionPicker.h"
#include "editor/SegmentedControl.h"
#include "editor/SliderRow.h"
#include "export/FrameExportModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

using Kind = WatermarkConfig::Kind;

// A label above its control, 4 apart.
QWidget *labelled(const QString &label, QWidget *control, QWidget *parent)
{
    auto *section = new QWidget(parent);
    auto *layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(EditorStyle::secondaryLabel(label, section));
    control->setParent(section);
    layout->addWidget(control, 0, Qt::AlignLeft);
    return section;
}

} // namespace

template <typename Edit>
void WatermarkSettingsPanel::editWatermark(Edit edit)
{
    WatermarkConfig config = m_model.watermark();
    edit(config);
    m_model.setWatermark(config);
}

WatermarkSettingsPanel::WatermarkSettingsPanel(FrameExportModel &model,
                                               ColorPanelCoordinator &coordinator, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_kind(new SegmentedControl(
          {QStringLiteral("文字"), QStringLiteral("图片"), QStringLiteral("平铺")}, this))
    , m_text(new QLineEdit(this))
    , m_imagePicker(new ImagePickerRow(this))
    , m_position(new PositionPicker(this))
    , m_fontSize(new SliderRow(QStringLiteral("文字大小"), 0.015, 0.1, SliderRow::percent, this))
    , m_imageScale(new SliderRow(QStringLiteral("图像尺寸"), 0.05, 0.5, SliderRow::percent, this))
    , m_opacity(new SliderRow(QStringLiteral("不透明度"), 0.1, 1.0, SliderRow::percent, this))
    , m_margin(new SliderRow(QStringLiteral("边距"), 0.0, 0.1, SliderRow::percent, this))
    , m_tileSpacing(new SliderRow(QStringLiteral("平铺间距"), 0.05, 0.5, SliderRow::percent, this))
    , m_rotation(new SliderRow(QStringLiteral("旋转角度"), -90, 90, SliderRow::degrees, this))
    , m_color(new CustomColorButton(coordinator, this))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);
    m_kind->setAccessibleName(QStringLiteral("类型"));
    column->addWidget(m_kind);

    m_text->setFont(EditorStyle::callout());
    m_textSection = labelled(QStringLiteral("水印文字"), m_text, this);
    static_cast<QVBoxLayout *>(m_textSection->layout())->setAlignment(m_text, {});
    column->addWidget(m_textSection);
    m_imageSection = labelled(QStringLiteral("水印图片"), m_imagePicker, this);
    static_cast<QVBoxLayout *>(m_imageSection->layout())->setAlignment(m_imagePicker, {});
    column->addWidget(m_imageSection);
    m_positionSection = labelled(QStringLiteral("位置"), m_position, this);
    column->addWidget(m_positionSection);
    for (SliderRow *row :
         {m_fontSize, m_imageScale, m_opacity, m_margin, m_tileSpacing, m_rotation})
        column->addWidget(row);

    m_colorRow = new QWidget(this);
    auto *colorLayout = new QHBoxLayout(m_colorRow);
    colorLayout->setContentsMargins(0, 0, 0, 0);
    colorLayout->addWidget(EditorStyle::secondaryLabel(QStringLiteral("文字颜色"), m_colorRow));
    colorLayout->addStretch();
    m_color->setParent(m_colorRow);
    colorLayout->addWidget(m_color);
    column->addWidget(m_colorRow);

    connect(m_kind, &SegmentedControl::currentIndexChanged, this, [this](int index) {
        editWatermark([index](WatermarkConfig &c) { c.kind = WatermarkConfig::allKinds[index]; });
    });
    connect(m_text, &QLineEdit::textEdited, this, [this](const QString &text) {
        editWatermark([&text](WatermarkConfig &c) { c.text = text; });
    });
    connect(m_imagePicker, &ImagePickerRow::imagePathChosen, this, [this](const QString &path) {
        editWatermark([&path](WatermarkConfig &c) { c.imageURL = path; });
    });
    connect(m_position, &PositionPicker::positionChosen, this,
            [this](WatermarkConfig::Position position) {
                editWatermark([position](WatermarkConfig &c) { c.position = position; });
            });
    const struct
    {
        SliderRow *row;
        double WatermarkConfig::*member;
    } sliders[] = {{m_fontSize, &WatermarkConfig::fontSize},
                   {m_imageScale, &WatermarkConfig::imageScale},
                   {m_opacity, &WatermarkConfig::opacity},
                   {m_margin, &WatermarkConfig::margin},
                   {m_tileSpacing, &WatermarkConfig::tileSpacing},
                   {m_rotation, &WatermarkConfig::tileRotationDegrees}};
    for (const auto &slider : sliders) {
        connect(slider.row, &SliderRow::valueChanged, this,
                [this, member = slider.member](double value) {
                    editWatermark([member, value](WatermarkConfig &c) { c.*member = value; });
                });
    }
    connect(m_color, &CustomColorButton::colorPicked, &m_model,
            &FrameExportModel::setWatermarkColor);
    connect(&m_model, &FrameExportModel::watermarkChanged, this,
            &WatermarkSettingsPanel::showConfig);
    connect(&m_model, &FrameExportModel::watermarkColorChanged, m_color,
            &CustomColorButton::setColor);
    m_color->setColor(m_model.watermarkColor());
    showConfig();
}

void WatermarkSettingsPanel::showConfig()
{
    const WatermarkConfig &config = m_model.watermark();
    m_kind->setCurrentIndex(int(config.kind));
    if (m_text->text() != config.text)
        m_text->setText(config.text);
    m_imagePicker->setImagePath(config.imageURL);
    m_position->setPosition(config.position);
    m_fontSize->setValue(config.fontSize);
    m_imageScale->setValue(config.imageScale);
    m_opacity->setValue(config.opacity);
    m_margin->setValue(config.margin);
    m_tileSpacing->setValue(config.tileSpacing);
    m_rotation->setValue(config.tileRotationDegrees);
    showRowsForKind();
}

void WatermarkSettingsPanel::showRowsForKind()
{
    const Kind kind = m_model.watermark().kind;
    const bool text = kind == Kind::text;
    const bool image = kind == Kind::image;
    const bool tiled = kind == Kind::tiled;
    m_textSection->setVisible(text || tiled);
    m_imageSection->setVisible(image || tiled);
    m_positionSection->setVisible(text || image);
    m_fontSize->setVisible(text || tiled);
    m_imageScale->setVisible(image || tiled);
    m_margin->setVisible(text || image);
    m_tileSpacing->setVisible(tiled);
    m_rotation->setVisible(tiled);
    m_colorRow->setVisible(text || tiled);
}
