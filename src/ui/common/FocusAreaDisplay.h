#pragma once

#include "imaging/FocusPoints.h"

#include <QObject>
#include <QPointF>
#include <QString>
#include <optional>

class FocusAreaOverlay;
class FocusPointCache;
class ZoomableImageView;

// The focus areas of the photo a ZoomableImageView shows: asks the screen's
// cache for them and, while they are wanted, draws them over the picture as
// soon as they are read. UI thread only.
class FocusAreaDisplay : public QObject
{
    Q_OBJECT

public:
    // `cache` outlives this.
    FocusAreaDisplay(ZoomableImageView &view, FocusPointCache &cache, QObject *parent = nullptr);

    // The photo shown now; its focus points are read unless known. Empty:
    // none.
    void setPath(const QString &path);
    const QString &path() const { return m_path; }
    void setShown(bool shown);
    bool isShown() const { return m_shown; }

    // The photo's focus points once read (no areas: it has none).
    std::optional<FocusPoints> focusPoints() const;
    // Where the loupe centres without a pointer over the picture: the
    // focus point when it is known, else the middle (fractions).
    QPointF loupeCentre() const;
    FocusAreaOverlay *overlay() const { return m_overlay; }

Q_SIGNALS:
    // The areas are wanted and the photo has none: when they are asked for,
    // or when a photo shown while they are wanted has been read.
    void focusPointsMissing();
    // The areas are wanted and drawn (a "none" said before is out of date).
    void focusPointsDrawn();

private:
    void update();
    void reportWhenMissing();

    FocusPointCache &m_cache;
    FocusAreaOverlay *m_overlay;
    QString m_path;
    bool m_shown = false;
};
