#include "browse/FilterMenuBar.h"

#include "browse/FilterCapsuleButton.h"
#include "common/BrowseStyle.h"
#include "common/CullingMarkMenu.h"
#include "state/AppState.h"

#include <QActionGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>

namespace {

using Field = ImageListPipeline::ShootingField;
using Key = SortOrder::Key;

const QString kChevron = QStringLiteral(" ▾");
const QString kAll = QStringLiteral("全部");
const QString kWaiting = QStringLiteral("正在读取拍摄信息");

QString flagText(FlagFilter filter)
{
    switch (filter) {
    case FlagFilter::pick:
        return QStringLiteral("留用");
    case FlagFilter::unflagged:
        return QStringLiteral("未标记");
    case FlagFilter::reject:
        return QStringLiteral("排除");
    case FlagFilter::hideRejects:
        return QStringLiteral("隐藏排除");
    case FlagFilter::all:
        break;
    }
    return kAll;
}

QString labelFilterText(std::optional<ColourLabel> label)
{
    if (!label)
        return kAll;
    if (*label == ColourLabel::none)
        return QStringLiteral("无标签");
    return AppState::labelText(*label);
}

QString sortKeyText(Key key)
{
    switch (key) {
    case Key::captureTime:
        return QStringLiteral("拍摄时间");
    case Key::rating:
        return QStringLiteral("评分");
    case Key::modified:
        return QStringLiteral("修改时间");
    case Key::fileName:
        break;
    }
    return QStringLiteral("文件名");
}

Field fieldOf(FilterMenuBar::Choice choice)
{
    return choice == FilterMenuBar::Choice::camera ? Field::camera : Field::lens;
}

// A checkable entry of `group` carrying `value`; choosing it calls `choose`.
template <typename Value, typename Choose>
QAction *addChoice(QMenu &menu, QActionGroup &group, const QString &text, const Value &value,
                   Choose choose, const QIcon &icon = {})
{
    QAction *action = menu.addAction(icon, text);
    action->setCheckable(true);
    action->setData(QVariant::fromValue(value));
    group.addAction(action);
    QObject::connect(action, &QAction::triggered, &menu, [choose, value] { choose(value); });
    return action;
}

// Checks the entry of `group` whose value is `current`.
template <typename Value>
void checkValue(QActionGroup &group, const Value &current)
{
    for (QAction *action : group.actions()) {
        if (action->data().value<Value>() == current)
            action->setChecked(true);
    }
}

QActionGroup &groupOf(QMenu &menu, int index = 0)
{
    return *menu.findChildren<QActionGroup *>(Qt::FindDirectChildrenOnly).at(index);
}

} // namespace

FilterMenuBar::FilterMenuBar(AppState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 0, 14, 8);
    layout->setSpacing(10);
    addCapsule(Choice::flag, QStringLiteral("旗标"));
    addCapsule(Choice::label, QStringLiteral("颜色"));
    addCapsule(Choice::camera, QStringLiteral("相机"));
    addCapsule(Choice::lens, QStringLiteral("镜头"));
    layout->addStretch(1);
    addCapsule(Choice::sort, QStringLiteral("排序"));
    buildFlagMenu();
    buildLabelMenu();
    buildSortMenu();
    rebuildShootingMenus();

    connect(&state, &AppState::flagFilterChanged, this, &FilterMenuBar::showFlagFilter);
    connect(&state, &AppState::labelFilterChanged, this, &FilterMenuBar::showLabelFilter);
    connect(&state, &AppState::sortOrderChanged, this, &FilterMenuBar::showSortOrder);
    connect(&state, &AppState::shootingFilterChanged, this, &FilterMenuBar::showShootingFilters);
    connect(&state, &AppState::imagesChanged, this, &FilterMenuBar::rebuildShootingMenus);
    connect(&state, &AppState::shootingDataCompleted, this, [this] {
        rebuildShootingMenus();
        showSortOrder();
    });
}

FilterCapsuleButton *FilterMenuBar::addCapsule(Choice choice, const QString &caption)
{
    layout()->addWidget(BrowseStyle::secondaryLabel(caption, this));

    auto *button = new FilterCapsuleButton(QString(), false, this);
    auto *menu = new QMenu(button);
    connect(button, &QAbstractButton::clicked, menu,
            [button, menu] { menu->popup(button->mapToGlobal(QPoint(0, button->height() + 2))); });
    layout()->addWidget(button);
    m_buttons[size_t(choice)] = button;
    m_menus[size_t(choice)] = menu;
    return button;
}

FilterCapsuleButton *FilterMenuBar::button(Choice choice) const
{
    return m_buttons[size_t(choice)];
}

QMenu *FilterMenuBar::menu(Choice choice) const
{
    return m_menus[size_t(choice)];
}

QString FilterMenuBar::unknownValueText(Field field)
{
    return field == Field::camera ? QStringLiteral("未知相机") : QStringLiteral("未知镜头");
}

void FilterMenuBar::buildFlagMenu()
{
    QMenu &flagMenu = *menu(Choice::flag);
    auto *group = new QActionGroup(&flagMenu);
    const auto choose = [this](int filter) { m_state.setFlagFilter(FlagFilter(filter)); };
    for (const FlagFilter filter : {FlagFilter::all, FlagFilter::pick, FlagFilter::unflagged,
                                    FlagFilter::reject, FlagFilter::hideRejects}) {
        if (filter == FlagFilter::hideRejects)
            flagMenu.addSeparator();
        addChoice(flagMenu, *group, flagText(filter), int(filter), choose);
    }
    showFlagFilter();
}

void FilterMenuBar::showFlagFilter()
{
    const FlagFilter current = m_state.flagFilter();
    checkValue(groupOf(*menu(Choice::flag)), int(current));
    button(Choice::flag)->setText(flagText(current) + kChevron);
    button(Choice::flag)->setActive(current != FlagFilter::all);
}

void FilterMenuBar::buildLabelMenu()
{
    // Values: -1 for every label, else the ColourLabel (none: no label).
    QMenu &labelMenu = *menu(Choice::label);
    auto *group = new QActionGroup(&labelMenu);
    const auto choose = [this](int value) {
        m_state.setLabelFilter(value < 0 ? std::nullopt : std::optional(ColourLabel(value)));
    };
    addChoice(labelMenu, *group, kAll, -1, choose);
    addChoice(labelMenu, *group, labelFilterText(ColourLabel::none), int(ColourLabel::none),
              choose);
    labelMenu.addSeparator();
    for (const ColourLabel label : {ColourLabel::red, ColourLabel::yellow, ColourLabel::green,
                                    ColourLabel::blue, ColourLabel::purple}) {
        addChoice(labelMenu, *group, AppState::labelText(label), int(label), choose,
                  CullingMarkMenu::labelIcon(label));
    }
    showLabelFilter();
}

void FilterMenuBar::showLabelFilter()
{
    const std::optional<ColourLabel> current = m_state.labelFilter();
    checkValue(groupOf(*menu(Choice::label)), current ? int(*current) : -1);
    button(Choice::label)->setText(labelFilterText(current) + kChevron);
    button(Choice::label)->setActive(current.has_value());
}

void FilterMenuBar::buildSortMenu()
{
    QMenu &sortMenu = *menu(Choice::sort);
    auto *keys = new QActionGroup(&sortMenu);
    for (const Key key : {Key::fileName, Key::captureTime, Key::rating, Key::modified}) {
        addChoice(sortMenu, *keys, sortKeyText(key), int(key), [this](int chosen) {
            m_state.setSortOrder({Key(chosen), m_state.sortOrder().descending});
        });
    }
    sortMenu.addSeparator();
    auto *directions = new QActionGroup(&sortMenu);
    const auto chooseDirection = [this](bool descending) {
        m_state.setSortOrder({m_state.sortOrder().key, descending});
    };
    addChoice(sortMenu, *directions, QStringLiteral("升序"), false, chooseDirection);
    addChoice(sortMenu, *directions, QStringLiteral("降序"), true, chooseDirection);
    showSortOrder();
}

void FilterMenuBar::showSortOrder()
{
    QMenu &sortMenu = *menu(Choice::sort);
    const SortOrder current = m_state.sortOrder();
    const bool ready = m_state.isShootingDataComplete();
    QActionGroup &keys = groupOf(sortMenu, 0);
    checkValue(keys, int(current.key));
    checkValue(groupOf(sortMenu, 1), current.descending);
    for (QAction *action : keys.actions()) {
        const Key key = Key(action->data().toInt());
        action->setEnabled(ready || (key != Key::captureTime && key != Key::modified));
    }
    const QString arrow = current.descending ? QStringLiteral(" ↓") : QStringLiteral(" ↑");
    button(Choice::sort)->setText(sortKeyText(current.key) + arrow + kChevron);
    button(Choice::sort)->setActive(!current.isScannerOrder());
}

void FilterMenuBar::rebuildShootingMenus()
{
    rebuildShootingMenu(Choice::camera);
    rebuildShootingMenu(Choice::lens);
    showShootingFilters();
}

void FilterMenuBar::rebuildShootingMenu(Choice choice)
{
    // Values: no QString for every one, else the camera or lens (empty: none named).
    const Field field = fieldOf(choice);
    QMenu &valueMenu = *menu(choice);
    valueMenu.clear();
    qDeleteAll(valueMenu.findChildren<QActionGroup *>(Qt::FindDirectChildrenOnly));
    auto *group = new QActionGroup(&valueMenu);
    const auto choose = [this, field](const QVariant &value) {
        m_state.setShootingFilter(field,
                                  value.isNull() ? std::nullopt : std::optional(value.toString()));
    };
    addChoice(valueMenu, *group, kAll, QVariant(), choose);
    // Counting looks up every image: not while the data is still being read
    // (the capsule is disabled then), only once it is complete.
    const QList<ImageListPipeline::ValueCount> values =
        m_state.isShootingDataComplete() ? m_state.shootingValues(field)
                                         : QList<ImageListPipeline::ValueCount>();
    if (!values.isEmpty())
        valueMenu.addSeparator();
    for (const ImageListPipeline::ValueCount &entry : values) {
        const QString name = entry.value.isEmpty() ? unknownValueText(field) : entry.value;
        addChoice(valueMenu, *group, QStringLiteral("%1 (%2)").arg(name).arg(entry.count),
                  QVariant(entry.value.isNull() ? QStringLiteral("") : entry.value), choose);
    }
}

void FilterMenuBar::showShootingFilters()
{
    const bool ready = m_state.isShootingDataComplete();
    for (const Choice choice : {Choice::camera, Choice::lens}) {
        const Field field = fieldOf(choice);
        const std::optional<QString> &current = m_state.shootingFilter(field);
        for (QAction *action : groupOf(*menu(choice)).actions()) {
            const QVariant value = action->data();
            if (value.isNull() ? !current : current && value.toString() == *current)
                action->setChecked(true);
        }
        FilterCapsuleButton *capsule = button(choice);
        capsule->setEnabled(ready);
        capsule->setToolTip(ready ? QString() : kWaiting);
        const QString shown = !current             ? kAll
                              : current->isEmpty() ? unknownValueText(field)
                                                   : *current;
        capsule->setText(shown + kChevron);
        capsule->setActive(current.has_value());
    }
}

QSize FilterMenuBar::minimumSizeHint() const
{
    return {0, QWidget::minimumSizeHint().height()};
}

void FilterMenuBar::paintEvent(QPaintEvent *)
{
    // The same material as the filter bar above it.
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
}
