#pragma once

#include "model/CullingMark.h"
#include "model/ImageItem.h"
#include "viewing/ShownPicture.h"

#include <QWidget>
#include <optional>

class CompareZoomView;
class FocusAreaDisplay;
class FocusPointCache;
class QLabel;
class StarRatingView;
class WorkQueues;

// One photo of the compare screen: its picture (a stand-in first, then the
// full one; a RAW file's preview), the file name, the star control and, with
// two panes, the role ("选定" or "候选"). The active pane has an outline in
// the accent colour.
//
// A new photo in the pane takes over the view state of the one before (the
// magnification, or 100 % when it was at 100 %, and the relative point at
// the centre), so that stepping through a burst keeps looking at the same
// spot. Only a double click or Z brings it back to fitted.
class ComparePane : public QWidget
{
    Q_OBJECT

public:
    static constexpr int outlineWidth = 3;
    // The bar under the picture with its outline.
    static constexpr int footerHeight = 30 + outlineWidth;

    // The focus areas come from `focusPoints`, the screen's, which outlives
    // the pane.
    ComparePane(WorkQueues &queues, FocusPointCache &focusPoints, QWidget *parent = nullptr);

    void showItem(const ImageItem &item, ShownPicture::Neighbourhood neighbourhood);
    void clear();
    const std::optional<ImageItem> &item() const { return m_picture->item(); }
    void setRating(int rating);
    void setMark(const CullingMark &mark);
    const CullingMark &shownMark() const { return m_mark; }
    void setRole(const QString &role);
    void setActive(bool active);
    bool isActive() const { return m_active; }

    CompareZoomView *zoomView() const { return m_zoom; }
    FocusAreaDisplay &focusAreas() const { return *m_focusAreas; }
    ShownPicture &picture() const { return *m_picture; }
    StarRatingView *stars() const { return m_stars; }
    QString filenameText() const;
    QString roleText() const;
    // A picture of the pane's item (stand-in or full) is on screen.
    bool showsPicture() const;

Q_SIGNALS:
    void activated();
    void ratingChosen(int rating);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    struct ViewState
    {
        qreal magnification;
        bool atActualPixels;
        QPointF centre; // relative point of the picture at the view's centre
    };
    std::optional<ViewState> zoomedViewState() const;
    void restore(const ViewState &state);
    void updatePicture();
    void layoutParts();

    ShownPicture *m_picture;
    CompareZoomView *m_zoom;
    FocusAreaDisplay *m_focusAreas;
    QWidget *m_bar;
    QLabel *m_filename;
    StarRatingView *m_stars;
    QLabel *m_markView;
    CullingMark m_mark;
    QLabel *m_role;
    QLabel *m_message;
    bool m_active = false;
    // The view state the next picture takes over.
    std::optional<ViewState> m_carriedView;
};
