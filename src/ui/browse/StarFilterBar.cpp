#include "browse/StarFilterBar.h"

#include "browse/FilterCapsuleButton.h"
#include "common/BrowseStyle.h"
#include "common/Symbols.h"
#include "state/AppState.h"
#include "state/RejectsArchive.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace {

constexpr char kValueProperty[] = "filterValue";
constexpr char kCategoryProperty[] = "filterCategory"; // -1 for all formats

QFrame *verticalDivider(QWidget *parent)
{
    auto *divider = new QFrame(parent);
    divider->setFrameShape(QFrame::VLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setFixedHeight(18);
    QPalette palette = divider->palette();
    palette.setColor(QPalette::WindowText, BrowseStyle::withAlpha(Qt::gray, 0.35));
    divider->setPalette(palette);
    return divider;
}

// A prominent archive button, as the filter bar's archive buttons look.
QPushButton *prominentArchiveButton(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setFont(BrowseStyle::callout(parent->font()));
    button->setIcon(Symbols::icon(Symbols::Symbol::ArchiveBox, Qt::white, 14));
    BrowseStyle::makeProminent(button);
    return button;
}

} // namespace

StarFilterBar::StarFilterBar(AppState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 10, 14, 10);
    layout->setSpacing(10);
    layout->addWidget(BrowseStyle::secondaryLabel(QStringLiteral("星级"), this));
    m_starLayout = new QHBoxLayout;
    m_starLayout->setSpacing(10);
    layout->addLayout(m_starLayout);

    m_formatSection = new QWidget(this);
    m_formatLayout = new QHBoxLayout(m_formatSection);
    m_formatLayout->setContentsMargins(0, 0, 0, 0);
    m_formatLayout->setSpacing(10);
    layout->addWidget(m_formatSection);
    layout->addStretch(1);

    m_archiveRejectsButton = prominentArchiveButton(QStringLiteral("归档排除的照片"), this);
    connect(m_archiveRejectsButton, &QPushButton::clicked, this, [this] {
        if (const std::optional<FolderNode> &folder = m_state.currentFolder())
            Q_EMIT archiveRejectsRequested(
                RejectsArchive::plan(m_state.images(), m_state.rejectedPaths(), folder->path()));
    });
    layout->addWidget(m_archiveRejectsButton);
    m_archiveButton = prominentArchiveButton(QStringLiteral("归档"), this);
    connect(m_archiveButton, &QPushButton::clicked, this, [this] {
        if (m_state.currentFolder())
            Q_EMIT archiveByRatingRequested();
    });
    layout->addWidget(m_archiveButton);
    m_counts = BrowseStyle::secondaryLabel(QString(), this);
    layout->addWidget(m_counts);

    connect(&state, &AppState::ratingsChanged, this, &StarFilterBar::rebuildStarButtons);
    connect(&state, &AppState::imagesChanged, this, [this] {
        rebuildStarButtons();
        rebuildFormatButtons();
        updateCounts();
    });
    connect(&state, &AppState::starFilterChanged, this, &StarFilterBar::updateActiveButtons);
    connect(&state, &AppState::formatFilterChanged, this, &StarFilterBar::updateActiveButtons);
    connect(&state, &AppState::filteredImagesChanged, this, &StarFilterBar::updateCounts);
    for (const auto signal : {&AppState::rejectedPathsChanged, &AppState::currentFolderChanged})
        connect(&state, signal, this, &StarFilterBar::updateArchiveRejectsButton);
    connect(&state, &AppState::movingFilesChanged, this,
            &StarFilterBar::updateArchiveRejectsButton);

    rebuildStarButtons();
    rebuildFormatButtons();
    updateCounts();
    updateArchiveRejectsButton();
}

QString StarFilterBar::formatLabel(ImageItem::FormatCategory category)
{
    switch (category) {
    case ImageItem::FormatCategory::raw:
        return QStringLiteral("RAW");
    case ImageItem::FormatCategory::jpeg:
        return QStringLiteral("JPG");
    case ImageItem::FormatCategory::png:
        return QStringLiteral("PNG");
    case ImageItem::FormatCategory::heic:
        return QStringLiteral("HEIC");
    case ImageItem::FormatCategory::gif:
        return QStringLiteral("GIF");
    case ImageItem::FormatCategory::tiff:
        return QStringLiteral("TIFF");
    case ImageItem::FormatCategory::other:
        break;
    }
    return QStringLiteral("其他");
}

FilterCapsuleButton *StarFilterBar::addStarButton(const QString &label, int value, bool withStar)
{
    auto *button = new FilterCapsuleButton(label, withStar, this);
    button->setProperty(kValueProperty, value);
    connect(button, &QAbstractButton::clicked, this, [this, value] { chooseStarFilter(value); });
    m_starLayout->addWidget(button);
    m_starButtons << button;
    return button;
}

void StarFilterBar::rebuildStarButtons()
{
    const QList<int> ratings = m_state.availableStarRatings();
    if (ratings == m_offeredRatings)
        return;
    m_offeredRatings = ratings;
    qDeleteAll(m_starButtons);
    m_starButtons.clear();
    addStarButton(QStringLiteral("全部"), 0, false);
    if (ratings.contains(0))
        addStarButton(QStringLiteral("无星"), -1, false);
    for (const int stars : ratings) {
        if (stars > 0)
            addStarButton(QString::number(stars) + QStringLiteral("星"), stars, true);
    }
    updateActiveButtons();
}

void StarFilterBar::rebuildFormatButtons()
{
    const QList<ImageItem::FormatCategory> formats = m_state.availableFormats();
    if (m_formatsBuilt && formats == m_offeredFormats)
        return;
    m_formatsBuilt = true;
    m_offeredFormats = formats;
    qDeleteAll(m_formatSection->findChildren<QWidget *>(Qt::FindDirectChildrenOnly));
    m_formatButtons.clear();
    m_formatSection->setVisible(formats.size() >= 2);
    if (formats.size() < 2)
        return;
    m_formatLayout->addWidget(verticalDivider(m_formatSection));
    m_formatLayout->addWidget(BrowseStyle::secondaryLabel(QStringLiteral("格式"), m_formatSection));
    const auto addButton = [this](const QString &label,
                                  std::optional<ImageItem::FormatCategory> category) {
        auto *button = new FilterCapsuleButton(label, false, m_formatSection);
        button->setProperty(kCategoryProperty, category ? int(*category) : -1);
        connect(button, &QAbstractButton::clicked, this,
                [this, category] { m_state.setFormatFilter(category); });
        m_formatLayout->addWidget(button);
        m_formatButtons << button;
    };
    addButton(QStringLiteral("全部"), std::nullopt);
    for (const ImageItem::FormatCategory category : formats)
        addButton(formatLabel(category), category);
    updateActiveButtons();
}

void StarFilterBar::updateActiveButtons()
{
    for (FilterCapsuleButton *button : std::as_const(m_starButtons))
        button->setActive(button->property(kValueProperty).toInt() == m_state.starFilter());
    const int format = m_state.formatFilter() ? int(*m_state.formatFilter()) : -1;
    for (FilterCapsuleButton *button : std::as_const(m_formatButtons))
        button->setActive(button->property(kCategoryProperty).toInt() == format);
    m_archiveButton->setVisible(m_state.starFilter() >= 1);
}

void StarFilterBar::updateCounts()
{
    m_counts->setText(QStringLiteral("%1 / %2 张")
                          .arg(m_state.filteredImages().size())
                          .arg(m_state.images().size()));
}

void StarFilterBar::updateArchiveRejectsButton()
{
    // Only the rejected paths are looked at, and only when they change.
    const std::optional<FolderNode> &folder = m_state.currentFolder();
    m_archiveRejectsButton->setVisible(
        folder && !m_state.isMovingFiles() &&
        RejectsArchive::hasPending(m_state.rejectedPaths(), folder->path()));
}

void StarFilterBar::chooseStarFilter(int value)
{
    m_state.setStarFilter(value);
    const qsizetype shown = m_state.filteredImages().size();
    if (value == 0)
        m_state.setStatusMessage(QStringLiteral("共 %1 张图片").arg(m_state.images().size()));
    else if (value < 0)
        m_state.setStatusMessage(QStringLiteral("无星: %1 张").arg(shown));
    else
        m_state.setStatusMessage(QStringLiteral("%1星: %2 张").arg(value).arg(shown));
}

QStringList StarFilterBar::starButtonLabels() const
{
    QStringList labels;
    for (const FilterCapsuleButton *button : m_starButtons)
        labels << button->text();
    return labels;
}

QStringList StarFilterBar::formatButtonLabels() const
{
    QStringList labels;
    for (const FilterCapsuleButton *button : m_formatButtons)
        labels << button->text();
    return labels;
}

FilterCapsuleButton *StarFilterBar::starButton(const QString &label) const
{
    for (FilterCapsuleButton *button : m_starButtons) {
        if (button->text() == label)
            return button;
    }
    return nullptr;
}

FilterCapsuleButton *StarFilterBar::formatButton(const QString &label) const
{
    for (FilterCapsuleButton *button : m_formatButtons) {
        if (button->text() == label)
            return button;
    }
    return nullptr;
}

QString StarFilterBar::countsText() const
{
    return m_counts->text();
}

void StarFilterBar::paintEvent(QPaintEvent *)
{
    // The bar material: the window colour, a shade lighter than the grid.
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
}
