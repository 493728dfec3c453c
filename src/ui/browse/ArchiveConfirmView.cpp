#include "browse/ArchiveConfirmView.h"

#include "common/BrowseStyle.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kPathLines = 2;

// The path as shown: it may break after any separator, and a path longer
// than two lines loses its middle, keeping the start and the folder's name.
QString wrappablePath(const QString &path, const QFont &font, int width)
{
    const QFontMetrics metrics(font);
    const QString elided = metrics.elidedText(path, Qt::ElideMiddle, kPathLines * width - 24);
    QString shown = elided;
    shown.replace(QLatin1Char('/'), QStringLiteral("/\u200b"));
    return shown;
}

} // namespace

ArchiveConfirmView::ArchiveConfirmView(const QString &targetPath, const QString &description,
                                       qsizetype imageCount, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("归档确认"));
    setFixedWidth(sheetWidth);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);

    auto *title = new QLabel(QStringLiteral("归档确认"), this);
    title->setFont(BrowseStyle::headline(font()));
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);

    auto *details = new QVBoxLayout;
    details->setSpacing(8);
    m_sentence = new QLabel(QStringLiteral("将 %1 张").arg(imageCount) + description +
                                QStringLiteral("移动到："),
                            this);
    m_sentence->setFont(BrowseStyle::callout(font()));
    m_sentence->setWordWrap(true);
    details->addWidget(m_sentence);

    auto *pathBox = new QFrame(this);
    pathBox->setObjectName(QStringLiteral("pathBox"));
    pathBox->setStyleSheet(
        QStringLiteral("#pathBox { background: rgba(128,128,128,0.1); border-radius: 6px; }"));
    auto *pathRow = new QHBoxLayout(pathBox);
    pathRow->setContentsMargins(8, 8, 8, 8);
    m_path = new QLabel(pathBox);
    m_path->setFont(BrowseStyle::callout(font()));
    m_path->setWordWrap(true);
    m_path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette secondary = m_path->palette();
    secondary.setColor(QPalette::WindowText, BrowseStyle::secondaryText(secondary));
    m_path->setPalette(secondary);
    pathRow->addWidget(m_path, 1);
    m_change = new QPushButton(QStringLiteral("更改"), pathBox);
    m_change->setAutoDefault(false);
    m_change->setFont(BrowseStyle::sized(font(), 11));
    connect(m_change, &QPushButton::clicked, this, &ArchiveConfirmView::changeFolder);
    pathRow->addWidget(m_change, 0, Qt::AlignVCenter);
    details->addWidget(pathBox);
    layout->addLayout(details);

    auto *buttons = new QHBoxLayout;
    m_cancel = new QPushButton(QStringLiteral("取消"), this);
    m_cancel->setAutoDefault(false);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(m_cancel);
    buttons->addStretch(1);
    m_confirm = new QPushButton(QStringLiteral("确认归档"), this);
    m_confirm->setDefault(true);
    BrowseStyle::makeProminent(m_confirm);
    connect(m_confirm, &QPushButton::clicked, this, [this] {
        Q_EMIT confirmed(m_targetPath);
        accept();
    });
    buttons->addWidget(m_confirm);
    layout->addLayout(buttons);

    setTargetPath(targetPath);
}

QString ArchiveConfirmView::sentence() const
{
    return m_sentence->text();
}

QString ArchiveConfirmView::shownPath() const
{
    QString shown = m_path->text();
    return shown.remove(QChar(0x200b));
}

void ArchiveConfirmView::setTargetPath(const QString &path)
{
    m_targetPath = QDir::cleanPath(path);
    // The label's width: the sheet less its padding, the box's padding and the button.
    const int width = sheetWidth - 40 - 16 - m_change->sizeHint().width() - 8;
    m_path->setText(wrappablePath(QDir::toNativeSeparators(m_targetPath), m_path->font(), width));
    m_path->setToolTip(m_targetPath);
}

void ArchiveConfirmView::changeFolder()
{
    const QString start = QFileInfo(m_targetPath).absolutePath();
    const QString chosen = m_chooseFolder ? m_chooseFolder(this, start) : QString();
    if (!chosen.isEmpty())
        setTargetPath(chosen);
}

QString ArchiveConfirmView::chooseFolderWithDialog(QWidget *parent, const QString &startFolder)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("选择文件夹"));
    dialog.setDirectory(startFolder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}
