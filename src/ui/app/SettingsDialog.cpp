#include "app/SettingsDialog.h"

#include "common/Theme.h"
#include "state/ViewerSettings.h"
#include "state/XmpRatingSync.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

SettingsDialog::SettingsDialog(XmpRatingSync &sync, ViewerSettings &viewer, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("设置"));
    setObjectName(QStringLiteral("settingsDialog"));

    // The title inside the dialog too: a window manager may show none.
    auto *title = new QLabel(QStringLiteral("设置"), this);
    title->setFont(Theme::font(Theme::TextStyle::headline, QFont::Bold));
    title->setAlignment(Qt::AlignCenter);

    m_xmpSync = new QCheckBox(QStringLiteral("将评分同步到 XMP 附属文件"), this);
    m_xmpSync->setChecked(sync.isEnabled());
    connect(m_xmpSync, &QCheckBox::toggled, &sync, &XmpRatingSync::setEnabled);

    auto *explanation =
        new QLabel(QStringLiteral("评分写入照片旁的 .xmp 文件，也读取其他程序留下的评分。"), this);
    explanation->setWordWrap(true);
    QPalette palette = explanation->palette();
    palette.setColor(QPalette::WindowText, Theme::secondaryText());
    explanation->setPalette(palette);

    m_autoAdvance = new QCheckBox(QStringLiteral("评分后自动跳到下一张"), this);
    m_autoAdvance->setChecked(viewer.autoAdvance());
    connect(m_autoAdvance, &QCheckBox::toggled, &viewer, &ViewerSettings::setAutoAdvance);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton *done = buttons->button(QDialogButtonBox::Close);
    done->setText(QStringLiteral("完成"));
    done->setIcon(QIcon()); // the style's close cross does not fit "完成"
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(10);
    layout->addWidget(title);
    layout->addSpacing(4);
    layout->addWidget(m_xmpSync);
    layout->addWidget(explanation);
    layout->addSpacing(4);
    layout->addWidget(m_autoAdvance);
    layout->addSpacing(6);
    layout->addWidget(buttons);
    setFixedWidth(460);
}
