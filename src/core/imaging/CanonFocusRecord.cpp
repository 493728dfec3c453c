#include "imaging/CanonFocusRecord.h"

#include "imaging/FocusAreaBuilder.h"

#include <QRectF>
#include <algorithm>

namespace {

// More AF points than any camera has (the densest grids have about 1,100).
constexpr int maxCanonPoints = 2048;
// Canon stores some signed values as unsigned shorts.
int signed16(long value)
{
    return int(static_cast<qint16>(static_cast<quint16>(value)));
}

void append(QList<FocusArea> &areas, const std::optional<FocusArea> &area)
{
    if (area)
        areas.append(*area);
}

bool bitSet(const std::vector<long> &values, std::size_t maskAt, int point)
{
    const std::size_t word = maskAt + std::size_t(point / 16);
    return word < values.size() && (values[word] >> (point % 16) & 1) != 0;
}

// Where the arrays of one Canon AF record start (indexes into its shorts).
struct CanonLayout
{
    int count = 0;
    QSizeF frame;
    std::size_t widthsAt = 0, heightsAt = 0; // equal sizes: one value each
    bool sizePerPoint = false;
    std::size_t xAt = 0, yAt = 0, inFocusAt = 0;
    std::optional<std::size_t> selectedAt;
};

// The points in focus, and the selected ones (not in focus) where the record
// says which were selected; positions are from the centre of the AF frame.
QList<FocusArea> canonPoints(const std::vector<long> &v, const CanonLayout &layout, bool yDown)
{
    QList<FocusArea> areas;
    const std::size_t words = std::size_t(layout.count + 15) / 16;
    if (layout.count <= 0 || layout.count > maxCanonPoints || v.size() < layout.inFocusAt + words)
        return areas;
    for (int i = 0; i < layout.count; ++i) {
        const bool inFocus = bitSet(v, layout.inFocusAt, i);
        if (!inFocus && !(layout.selectedAt && bitSet(v, *layout.selectedAt, i)))
            continue;
        const std::size_t own = layout.sizePerPoint ? std::size_t(i) : 0;
        const double width = signed16(v[layout.widthsAt + own]);
        const double height = signed16(v[layout.heightsAt + own]);
        const double x = signed16(v[layout.xAt + std::size_t(i)]);
        const double y = signed16(v[layout.yAt + std::size_t(i)]);
        const QPointF centre(layout.frame.width() / 2 + x,
                             layout.frame.height() / 2 + (yDown ? y : -y));
        append(areas, FocusAreaBuilder::inFrame(
                          QRectF(centre.x() - width / 2, centre.y() - height / 2, width, height),
                          layout.frame, inFocus));
    }
    return areas;
}

// The AF image size, or the Canon image size where the AF one is zero.
QSizeF canonFrame(const std::vector<long> &v, std::size_t canonAt, std::size_t afAt)
{
    if (v.size() <= std::max(canonAt, afAt) + 1)
        return {};
    if (v[afAt] > 0 && v[afAt + 1] > 0)
        return QSizeF(double(v[afAt]), double(v[afAt + 1]));
    return QSizeF(double(v[canonAt]), double(v[canonAt + 1]));
}

} // namespace

QList<FocusArea> CanonFocusRecord::fromAfInfo2(const std::vector<long> &v, bool yDown)
{
    if (v.size() < 8)
        return {};
    CanonLayout layout;
    layout.count = int(std::min<long>(v[2], maxCanonPoints + 1));
    const std::size_t n = std::size_t(std::max(layout.count, 0));
    layout.frame = canonFrame(v, 4, 6);
    layout.sizePerPoint = true;
    layout.widthsAt = 8, layout.heightsAt = 8 + n, layout.xAt = 8 + 2 * n, layout.yAt = 8 + 3 * n;
    layout.inFocusAt = 8 + 4 * n;
    layout.selectedAt = layout.inFocusAt + (n + 15) / 16;
    return canonPoints(v, layout, yDown);
}

QList<FocusArea> CanonFocusRecord::fromAfInfo(const std::vector<long> &v, bool yDown)
{
    if (v.size() < 8)
        return {};
    CanonLayout layout;
    // Some files leave the count out; the valid count stands in for it.
    layout.count = int(std::min<long>(v[0] > 0 ? v[0] : v[1], maxCanonPoints + 1));
    const std::size_t n = std::size_t(std::max(layout.count, 0));
    layout.frame = canonFrame(v, 2, 4);
    layout.widthsAt = 6, layout.heightsAt = 7, layout.xAt = 8, layout.yAt = 8 + n;
    layout.inFocusAt = 8 + 2 * n;
    return canonPoints(v, layout, yDown);
}
