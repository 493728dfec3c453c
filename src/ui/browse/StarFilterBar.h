#pragma once

#include "model/ImageItem.h"
#include "state/ArchiveItem.h"

#include <QList>
#include <QWidget>

class AppState;
class FilterCapsuleButton;
class QHBoxLayout;
class QLabel;
class QPushButton;

// The bar over the grid: the star filter buttons ("全部", "无星", one per
// rating that occurs), the format filter buttons when the images have two or
// more formats, "归档排除的照片" while rejected photos wait outside their
// archive folder (RejectsArchive) and no archive runs, the "归档" button while
// a star filter is set, and the counts.
// Buttons are rebuilt only when the ratings or formats on offer change.
class StarFilterBar : public QWidget
{
    Q_OBJECT

public:
    explicit StarFilterBar(AppState &state, QWidget *parent = nullptr);

    // For tests and tools: the labels of the buttons on offer, in order.
    QStringList starButtonLabels() const;
    QStringList formatButtonLabels() const;
    FilterCapsuleButton *starButton(const QString &label) const;
    FilterCapsuleButton *formatButton(const QString &label) const;
    QPushButton *archiveButton() const { return m_archiveButton; }
    QPushButton *archiveRejectsButton() const { return m_archiveRejectsButton; }
    QString countsText() const;

    static QString formatLabel(ImageItem::FormatCategory category);

Q_SIGNALS:
    // "归档" was pressed while a folder is open.
    void archiveByRatingRequested();
    // "归档排除的照片" was pressed while a folder is open: `plan` moves its
    // rejected photos (RejectsArchive).
    void archiveRejectsRequested(const ArchiveItem &plan);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void rebuildStarButtons();
    void rebuildFormatButtons();
    void updateActiveButtons();
    void updateCounts();
    void updateArchiveRejectsButton();
    void chooseStarFilter(int value);
    FilterCapsuleButton *addStarButton(const QString &label, int value, bool withStar);

    AppState &m_state;
    QHBoxLayout *m_starLayout;
    QWidget *m_formatSection;
    QHBoxLayout *m_formatLayout;
    QPushButton *m_archiveRejectsButton;
    QPushButton *m_archiveButton;
    QLabel *m_counts;
    QList<FilterCapsuleButton *> m_starButtons;
    QList<FilterCapsuleButton *> m_formatButtons;
    QList<int> m_offeredRatings{-2}; // nothing built yet
    QList<ImageItem::FormatCategory> m_offeredFormats;
    bool m_formatsBuilt = false;
};
