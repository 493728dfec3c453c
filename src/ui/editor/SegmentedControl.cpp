#include "editor/SegmentedControl.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QToolButton>

namespace {

QString segmentStyle(bool first, bool last)
{
    const QString radius =
        QStringLiteral("border-top-left-radius:%1px;border-bottom-left-radius:%1px;"
                       "border-top-right-radius:%2px;border-bottom-right-radius:%2px;")
            .arg(first ? 6 : 0)
            .arg(last ? 6 : 0);
    return QStringLiteral("QToolButton{background:#ececee;color:#1d1d1f;border:1px solid #d2d2d7;"
                          "%1%2padding:4px 8px;}"
                          "QToolButton:hover{background:#e2e2e6;}"
                          "QToolButton:checked{background:#ffffff;font-weight:600;"
                          "border:1px solid #b8b8be;}")
        .arg(radius, first ? QString() : QStringLiteral("border-left:none;"));
}

} // namespace

SegmentedControl::SegmentedControl(const QStringList &labels, QWidget *parent)
    : QWidget(parent)
    , m_group(new QButtonGroup(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int i = 0; i < labels.size(); ++i) {
        auto *segment = new QToolButton(this);
        segment->setText(labels.at(i));
        segment->setCheckable(true);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        segment->setStyleSheet(segmentStyle(i == 0, i == labels.size() - 1));
        m_group->addButton(segment, i);
        layout->addWidget(segment);
    }
    if (!labels.isEmpty())
        m_group->button(0)->setChecked(true);
    connect(m_group, &QButtonGroup::idClicked, this,
            [this](int id) { Q_EMIT currentIndexChanged(id); });
}

int SegmentedControl::currentIndex() const
{
    return m_group->checkedId();
}

void SegmentedControl::setCurrentIndex(int index)
{
    if (auto *segment = m_group->button(index))
        segment->setChecked(true);
}
