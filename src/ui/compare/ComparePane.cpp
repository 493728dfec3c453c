#include "compare/ComparePane.h"

#include "common/CullingMarkBadge.h"
#include "common/FocusAreaDisplay.h"
#include "common/StarRatingView.h"
#include "common/Theme.h"
#include "compare/CompareZoomView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace {

constexpr int starSize = 12;
constexpr int barHeight = ComparePane::footerHeight - ComparePane::outlineWidth;
const QString barText = QStringLiteral("color: rgba(255, 255, 255, 204);");

} // namespace

ComparePane::ComparePane(WorkQueues &queues, FocusPointCache &focusPoints, QWidget *parent)
    : QWidget(parent)
    , m_picture(new ShownPicture(queues, this))
    , m_zoom(new CompareZoomView(queues, this))
    , m_focusAreas(new FocusAreaDisplay(*m_zoom, focusPoints, this))
    , m_bar(new QWidget(this))
    , m_filename(new QLabel(m_bar))
    , m_stars(new StarRatingView(0, 5, starSize, m_bar))
    , m_markView(new QLabel(m_bar))
    , m_role(new QLabel(m_bar))
    , m_message(new QLabel(this))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_bar->setFont(Theme::font(Theme::TextStyle::caption));
    m_filename->setStyleSheet(barText);
    // A long name gives up width rather than pushing the stars out.
    m_filename->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_role->setStyleSheet(barText + QStringLiteral("background: rgba(255, 255, 255, 38);"
                                                   "border-radius: 4px; padding: 1px 6px;"));
    m_role->hide();
    m_stars->setInteractive(true);
    auto *row = new QHBoxLayout(m_bar);
    row->setContentsMargins(12, 0, 12, 0);
    row->setSpacing(8);
    row->addWidget(m_role, 0, Qt::AlignVCenter);
    row->addWidget(m_filename, 1);
    row->addWidget(m_stars);
    row->addWidget(m_markView);
    m_markView->hide();
    m_message->setStyleSheet(QStringLiteral("color: rgba(255, 255, 255, 178);"));
    m_message->setAlignment(Qt::AlignCenter);
    m_message->setAttribute(Qt::WA_TransparentForMouseEvents);

    connect(m_zoom, &CompareZoomView::pressed, this, &ComparePane::activated);
    connect(m_stars, &StarRatingView::rateRequested, this, [this](int rating) {
        Q_EMIT activated();
        Q_EMIT ratingChosen(rating);
    });
    connect(m_picture, &ShownPicture::changed, this, &ComparePane::updatePicture);
    updatePicture();
}

void ComparePane::showItem(const ImageItem &item, ShownPicture::Neighbourhood neighbourhood)
{
    if (m_picture->item() == item)
        return;
    // While a step is still loading, the state to carry is the one kept.
    if (!m_carriedView)
        m_carriedView = zoomedViewState();
    m_filename->setText(item.filename());
    layoutParts();
    m_picture->setNeighbourhood(std::move(neighbourhood));
    m_picture->setView(m_zoom->size(), m_zoom->devicePixelRatioF());
    m_picture->show(item);
    m_focusAreas->setPath(item.path());
}

void ComparePane::clear()
{
    m_carriedView.reset();
    m_filename->clear();
    m_picture->clear();
    m_focusAreas->setPath(QString());
}

std::optional<ComparePane::ViewState> ComparePane::zoomedViewState() const
{
    if (!m_zoom->showsPicture() || m_zoom->magnification() == 1.0)
        return std::nullopt;
    const QPointF centre = QRectF(m_zoom->rect()).center();
    return ViewState{m_zoom->magnification(),
                     qFuzzyCompare(m_zoom->magnification(), m_zoom->actualPixelsMagnification()),
                     m_zoom->relativePointAt(centre)};
}

void ComparePane::restore(const ViewState &state)
{
    const qreal magnification =
        state.atActualPixels ? m_zoom->actualPixelsMagnification() : state.magnification;
    m_zoom->showRelativePoint(magnification, state.centre, QRectF(m_zoom->rect()).center());
}

void ComparePane::updatePicture()
{
    const ShownPicture &picture = *m_picture;
    const bool hasImage = !picture.image().isNull();
    const bool showsStandIn = !hasImage && picture.standIn().isStandIn();
    // While the next picture is on its way the last one stays (hidden), so
    // that its view state is there to carry over.
    if (showsStandIn)
        m_zoom->setStandIn(picture.standIn().image, picture.standIn().fullSize);
    else if (hasImage)
        m_zoom->setImage(picture.image(), picture.fittedRendition());
    if ((hasImage || showsStandIn) && m_carriedView) {
        restore(*m_carriedView);
        m_carriedView.reset();
    }
    m_zoom->setVisible(hasImage || showsStandIn);
    if (picture.state() == ShownPicture::State::failed)
        m_message->setText(picture.errorMessage());
    else
        m_message->setText(picture.isLoading() ? QStringLiteral("正在加载...") : QString());
    m_message->setVisible(!m_zoom->isVisible() && !m_message->text().isEmpty());
}

void ComparePane::setRating(int rating)
{
    m_stars->setRating(rating);
}

void ComparePane::setMark(const CullingMark &mark)
{
    if (mark == m_mark)
        return;
    m_mark = mark;
    m_markView->setVisible(!mark.isEmpty());
    m_markView->setPixmap(CullingMarkBadge::pixmap(mark, starSize, devicePixelRatioF()));
}

void ComparePane::setRole(const QString &role)
{
    m_role->setText(role);
    m_role->setVisible(!role.isEmpty());
}

void ComparePane::setActive(bool active)
{
    if (m_active == active)
        return;
    m_active = active;
    update();
}

QString ComparePane::filenameText() const
{
    return m_filename->text();
}

QString ComparePane::roleText() const
{
    return m_role->text();
}

bool ComparePane::showsPicture() const
{
    return m_zoom->isVisibleTo(this) && m_zoom->showsPicture();
}

void ComparePane::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    painter.fillRect(m_bar->geometry(), QColor(28, 28, 30));
    if (!m_active)
        return;
    QPen outline(Theme::accent(), outlineWidth);
    outline.setJoinStyle(Qt::MiterJoin);
    painter.setPen(outline);
    const qreal half = outlineWidth / 2.0;
    painter.drawRect(QRectF(rect()).adjusted(half, half, -half, -half));
}

void ComparePane::resizeEvent(QResizeEvent *)
{
    layoutParts();
}

void ComparePane::layoutParts()
{
    const QRect inner = rect().adjusted(outlineWidth, outlineWidth, -outlineWidth, -outlineWidth);
    const QRect picture = inner.adjusted(0, 0, 0, -barHeight);
    m_zoom->setGeometry(picture);
    m_message->setGeometry(picture);
    m_bar->setGeometry(inner.left(), picture.bottom() + 1, inner.width(), barHeight);
}
