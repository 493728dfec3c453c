#include "viewer/ImageViewerView.h"

#include "common/BusyIndicator.h"
#include "common/CullingMarkMenu.h"
#include "common/DesktopFileRevealer.h"
#include "common/FocusAreaDisplay.h"
#include "common/Symbols.h"
#include "common/ZoomableImageView.h"
#include "state/AppState.h"
#include "state/CompareSession.h"
#include "viewer/RawDecodeControl.h"
#include "viewer/RoundSymbolButton.h"
#include "viewer/ViewerButtonStyle.h"
#include "viewer/ViewerStatusBar.h"
#include "viewing/FocusPointCache.h"
#include "viewing/ShownPicture.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

using Symbols::Symbol;

const QString secondaryText = QStringLiteral("color: rgba(255, 255, 255, 178);");
constexpr int edgeInset = 12;
constexpr int actionRowTrailing = 16;
constexpr int actionRowBottom = 44;

using Theme::TextStyle;

// The back button's chevron in title-3 size, the arrows' in title-2.
int backGlyph()
{
    return ViewerButtonStyle::glyphSize(TextStyle::title3);
}

int arrowGlyph()
{
    return ViewerButtonStyle::glyphSize(TextStyle::title2);
}

QWidget *makeLoadingColumn(QWidget *parent)
{
    auto *column = new QWidget(parent);
    column->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *layout = new QVBoxLayout(column);
    layout->setSpacing(12);
    layout->addWidget(new BusyIndicator(32, column), 0, Qt::AlignHCenter);
    auto *text = new QLabel(QStringLiteral("正在加载..."), column);
    text->setStyleSheet(secondaryText);
    layout->addWidget(text, 0, Qt::AlignHCenter);
    return column;
}

QWidget *makeErrorColumn(QWidget *parent, QLabel *text)
{
    auto *column = new QWidget(parent);
    column->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *layout = new QVBoxLayout(column);
    layout->setSpacing(8);
    auto *symbol = new QLabel(column);
    const int glyph = ViewerButtonStyle::glyphSize(Theme::TextStyle::largeTitle);
    symbol->setPixmap(
        Symbols::icon(Symbol::WarningTriangle, QColor(255, 204, 0), glyph).pixmap(glyph, glyph));
    layout->addWidget(symbol, 0, Qt::AlignHCenter);
    text->setParent(column);
    text->setStyleSheet(secondaryText);
    text->setAlignment(Qt::AlignCenter);
    layout->addWidget(text, 0, Qt::AlignHCenter);
    return column;
}

// The keys of the loupe, listed in the picture's menu.
const char *const keyHints[] = {"Z 100% / 适合", "F 全屏", "A 对焦点",
                                "0 清除评分",    "C 对比", "Delete 移到废纸篓"};

void defaultRawExportConfirmation(QWidget *parent, std::function<void(bool)> answer)
{
    QMessageBox *alert = ImageViewerView::createRawExportAlert(parent);
    QObject::connect(alert, &QMessageBox::finished, alert, [alert, answer = std::move(answer)] {
        const QAbstractButton *clicked = alert->clickedButton();
        answer(clicked && alert->buttonRole(const_cast<QAbstractButton *>(clicked)) ==
                              QMessageBox::AcceptRole);
    });
    alert->open();
}

} // namespace

ImageViewerView::ImageViewerView(AppState &appState, WorkQueues &queues, QWidget *parent)
    : QWidget(parent)
    , m_appState(appState)
    , m_picture(new ShownPicture(queues, this))
    , m_revealer(std::make_unique<DesktopFileRevealer>(
          [this](const QString &text) { m_appState.setToastMessage(text); }))
    , m_confirmRawExport(defaultRawExportConfirmation)
    , m_zoomView(new ZoomableImageView(queues, this))
    , m_loadingColumn(makeLoadingColumn(this))
    , m_errorText(new QLabel)
    , m_statusBar(new ViewerStatusBar(this))
    , m_backButton(new RoundSymbolButton(Symbol::ChevronLeft, backGlyph(), 8,
                                         QColor(255, 255, 255, 40), 1.0, this))
    , m_previousButton(new RoundSymbolButton(Symbol::ChevronLeft, arrowGlyph(), 10,
                                             QColor(255, 255, 255, 38), 1.4, this))
    , m_nextButton(new RoundSymbolButton(Symbol::ChevronRight, arrowGlyph(), 10,
                                         QColor(255, 255, 255, 38), 1.4, this))
    , m_actionRow(new QWidget(this))
    , m_exportButton(
          new QPushButton(Symbols::icon(Symbol::ShareUp, Qt::white,
                                        ViewerButtonStyle::glyphSize(TextStyle::caption)),
                          QStringLiteral("边框水印"), m_actionRow))
    , m_compareButton(new QPushButton(QStringLiteral("对比"), m_actionRow))
    , m_rawControl(new RawDecodeControl(m_actionRow))
    , m_focusPoints(new FocusPointCache(queues, this))
    , m_focusAreas(new FocusAreaDisplay(*m_zoomView, *m_focusPoints, this))
{
    m_errorColumn = makeErrorColumn(this, m_errorText);
    m_errorColumn->stackUnder(m_statusBar);
    m_loadingColumn->stackUnder(m_statusBar);
    m_backButton->setToolTip(QStringLiteral("返回网格视图 (Esc)"));
    // The menu belongs to the picture only, not to the bars and buttons over it.
    m_zoomView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_zoomView, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        if (QMenu *menu = createContextMenu(this)) {
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(m_zoomView->mapToGlobal(pos));
        }
    });
    ViewerButtonStyle::applyProminentSmall(m_exportButton);
    ViewerButtonStyle::applyProminentSmall(m_compareButton);
    m_compareButton->setToolTip(QStringLiteral("与下一张对比 (C)"));
    m_actionRow->setAttribute(Qt::WA_TranslucentBackground);
    auto *actions = new QHBoxLayout(m_actionRow);
    actions->setContentsMargins(0, 0, 0, 0);
    actions->setSpacing(8);
    actions->addWidget(m_compareButton);
    actions->addWidget(m_exportButton);
    actions->addWidget(m_rawControl);

    connect(m_backButton, &QAbstractButton::clicked, this, &ImageViewerView::goBack);
    connect(m_previousButton, &QAbstractButton::clicked, this, &ImageViewerView::showPrevious);
    connect(m_nextButton, &QAbstractButton::clicked, this, &ImageViewerView::showNext);
    connect(m_exportButton, &QPushButton::clicked, this, &ImageViewerView::requestFrameExport);
    connect(m_compareButton, &QPushButton::clicked, this,
            [this] { m_appState.compare().openFromViewer(); });
    connect(m_rawControl, &RawDecodeControl::decodeRequested, this, &ImageViewerView::decodeRAW);
    connect(m_statusBar, &ViewerStatusBar::ratingChosen, this, [this](int rating) {
        if (item())
            m_appState.updateRating(rating, *item());
    });

    connect(m_statusBar, &ViewerStatusBar::focusAreasToggleRequested, this,
            &ImageViewerView::toggleFocusAreas);
    connect(m_statusBar, &ViewerStatusBar::fullScreenToggleRequested, this,
            &ImageViewerView::fullScreenToggleRequested);
    connect(m_focusAreas, &FocusAreaDisplay::focusPointsMissing, this,
            [this] { m_appState.setStatusMessage(QStringLiteral("没有对焦点信息")); });
    connect(m_focusAreas, &FocusAreaDisplay::focusPointsDrawn, this, [this] {
        if (m_appState.statusMessage() == QStringLiteral("没有对焦点信息"))
            m_appState.setStatusMessage(QString());
    });

    connect(&m_appState, &AppState::selectedImageChanged, this, &ImageViewerView::followSelection);
    connect(&m_appState, &AppState::viewerActiveChanged, this, &ImageViewerView::followSelection);
    connect(&m_appState, &AppState::currentIndexChanged, this, &ImageViewerView::updateNavigation);
    connect(&m_appState, &AppState::filteredImagesChanged, this,
            &ImageViewerView::updateNavigation);
    connect(&m_appState.starRatingStore(), &StarRatingStore::ratingChanged, this,
            &ImageViewerView::updateRating);
    connect(&m_appState.starRatingStore(), &StarRatingStore::ratingsRemoved, this,
            &ImageViewerView::updateRating);
    connect(&m_appState.cullingMarks(), &CullingMarkStore::markChanged, this,
            &ImageViewerView::updateRating);
    connect(&m_appState.cullingMarks(), &CullingMarkStore::marksChanged, this,
            &ImageViewerView::updateRating);
    m_picture->setNeighbourhood([this](const ImageItem &shown) { return neighbourhood(shown); });
    connect(m_picture, &ShownPicture::changed, this, &ImageViewerView::updateScreen);
    connect(m_picture, &ShownPicture::staleResultDiscarded, this,
            &ImageViewerView::staleResultDiscarded);
    connect(m_picture, &ShownPicture::developed, this,
            [this] { m_appState.setToastMessage(QStringLiteral("RAW 解码成功")); });
    // The preview stays on screen, so the reason goes to the toast.
    connect(m_picture, &ShownPicture::developmentFailed, this, [this](const QString &message) {
        m_appState.setToastMessage(QStringLiteral("RAW 解码失败: ") + message);
    });

    followSelection();
}

ImageViewerView::~ImageViewerView()
{
    // Leaving the screen with the editor open must not leave keys paused.
    if (m_showFrameExport)
        m_appState.setSheetPresented(false);
}

bool ImageViewerView::showsPicture() const
{
    return !m_picture->image().isNull() || m_picture->standIn().isStandIn();
}

std::optional<QString> ImageViewerView::errorMessage() const
{
    if (m_picture->state() != ShownPicture::State::failed)
        return std::nullopt;
    return m_picture->errorMessage();
}

NeighbourPrefetchCache &ImageViewerView::prefetchCache() const
{
    return m_picture->prefetchCache();
}

const ShownImageLoader &ImageViewerView::shownImageLoader() const
{
    return m_picture->loader();
}

void ImageViewerView::setFileRevealer(std::unique_ptr<FileRevealer> revealer)
{
    m_revealer = std::move(revealer);
}

void ImageViewerView::setRawExportConfirmation(RawExportConfirmation confirmation)
{
    m_confirmRawExport = std::move(confirmation);
}

QMessageBox *ImageViewerView::createRawExportAlert(QWidget *parent)
{
    auto *alert = new QMessageBox(parent);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    alert->setIcon(QMessageBox::Warning);
    alert->setWindowTitle(QStringLiteral("提示"));
    alert->setText(QStringLiteral("提示"));
    alert->setInformativeText(
        QStringLiteral("RAW 已解码，使用套壳功能可能要加载较长时间，是否继续？"));
    QPushButton *proceed = alert->addButton(QStringLiteral("继续"), QMessageBox::AcceptRole);
    QPushButton *cancel = alert->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    alert->setDefaultButton(proceed);
    alert->setEscapeButton(cancel);
    return alert;
}

QMenu *ImageViewerView::createContextMenu(QWidget *parent)
{
    if (displayImage().isNull())
        return nullptr;
    auto *menu = new QMenu(parent);
    menu->addAction(QStringLiteral("在访达中显示"), this, &ImageViewerView::revealInFileManager);
    menu->addAction(QStringLiteral("复制图片"), this, &ImageViewerView::copyImage);
    menu->addSeparator();
    QAction *focusAreas =
        menu->addAction(QStringLiteral("显示对焦点"), this, &ImageViewerView::toggleFocusAreas);
    focusAreas->setCheckable(true);
    focusAreas->setChecked(m_focusAreas->isShown());
    menu->addSeparator();
    if (item()) {
        CullingMarkMenu::addEntries(*menu, m_appState, *item());
        CullingMarkMenu::addTrashEntry(*menu, m_appState, {*item()});
        menu->addSeparator();
    }
    for (const char *hint : keyHints)
        menu->addAction(QString::fromUtf8(hint))->setEnabled(false);
    return menu;
}

void ImageViewerView::goBack()
{
    m_appState.setViewerActive(false);
}

void ImageViewerView::showPrevious()
{
    if (m_appState.currentIndex() >= 1)
        m_appState.selectImage(m_appState.currentIndex() - 1);
    else
        m_appState.setStatusMessage(QStringLiteral("已是第一张"));
}

void ImageViewerView::showNext()
{
    m_appState.nextImage();
}

void ImageViewerView::requestFrameExport()
{
    if (!item() || isLoading() || displayImage().isNull())
        return;
    if (!isRawDecoded()) {
        setShowFrameExport(true);
        return;
    }
    // Opened only if the answer comes while the development is still shown.
    QPointer<ImageViewerView> self(this);
    m_confirmRawExport(this, [self, shown = displayImage().cacheKey()](bool proceed) {
        if (self && proceed && self->isRawDecoded() && self->displayImage().cacheKey() == shown)
            self->setShowFrameExport(true);
    });
}

void ImageViewerView::decodeRAW()
{
    m_picture->develop();
}

void ImageViewerView::revealInFileManager()
{
    if (item() && m_revealer)
        m_revealer->reveal(item()->path());
}

void ImageViewerView::copyImage()
{
    if (displayImage().isNull())
        return;
    QGuiApplication::clipboard()->clear();
    QGuiApplication::clipboard()->setImage(displayImage());
}

void ImageViewerView::frameExportClosed()
{
    setShowFrameExport(false);
}

void ImageViewerView::toggleActualPixels()
{
    if (showsPicture())
        m_zoomView->toggleActualPixels(m_focusAreas->loupeCentre());
}

void ImageViewerView::toggleFocusAreas()
{
    m_focusAreas->setShown(!m_focusAreas->isShown());
    m_statusBar->focusAreasButton()->setChecked(m_focusAreas->isShown());
}

void ImageViewerView::setFullScreenShown(bool fullScreen)
{
    m_statusBar->fullScreenButton()->setChecked(fullScreen);
}

void ImageViewerView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
}

void ImageViewerView::resizeEvent(QResizeEvent *)
{
    layoutOverlays();
}

void ImageViewerView::followSelection()
{
    const std::optional<ImageItem> &selected = m_appState.selectedImage();
    if (!m_appState.isViewerActive() || !selected) {
        m_picture->clear();
        m_focusAreas->setPath(QString());
        return;
    }
    m_picture->setView(m_zoomView->size(), m_zoomView->devicePixelRatioF());
    m_picture->show(*selected);
    // Read for every photo shown: Z centres on the focus point even while
    // the areas are not drawn.
    m_focusAreas->setPath(selected->path());
}

QList<ImageItem> ImageViewerView::neighbourhood(const ImageItem &shown) const
{
    const QList<ImageItem> &images = m_appState.filteredImages();
    const int index = m_appState.currentIndex();
    if (index < 0 || index >= images.size() || images[index] != shown)
        return {};
    QList<ImageItem> items{shown};
    if (index + 1 < images.size())
        items.append(images[index + 1]);
    if (index >= 1)
        items.append(images[index - 1]);
    return items;
}

void ImageViewerView::setShowFrameExport(bool shown)
{
    if (m_showFrameExport == shown)
        return;
    m_showFrameExport = shown;
    m_appState.setSheetPresented(shown);
    if (shown)
        Q_EMIT exportRequested(*item(), displayImage());
}

void ImageViewerView::updateScreen()
{
    const ShownPicture &picture = *m_picture;
    const bool hasImage = !picture.image().isNull();
    const bool showsStandIn = !hasImage && picture.standIn().isStandIn();
    if (showsStandIn)
        m_zoomView->setStandIn(picture.standIn().image, picture.standIn().fullSize);
    else
        m_zoomView->setImage(picture.image(), picture.fittedRendition());
    m_zoomView->setVisible(hasImage || showsStandIn);
    const bool loading = picture.isLoading();
    m_loadingColumn->setVisible(loading && !showsStandIn);
    m_errorColumn->setVisible(picture.state() == ShownPicture::State::failed);
    m_errorText->setText(picture.errorMessage());

    const bool isRAW = item() && item()->isRAW();
    m_statusBar->setFile(item() ? item()->filename() : QString(), isRAW);
    m_exportButton->setVisible(item() && !loading && hasImage);
    m_compareButton->setVisible(item().has_value());
    m_rawControl->setVisible(isRAW && !loading);
    m_rawControl->setForm(isDecodingRAW()  ? RawDecodeControl::Form::decoding
                          : isRawDecoded() ? RawDecodeControl::Form::decoded
                                           : RawDecodeControl::Form::decodeButton);
    updateRating();
    updateNavigation();
}

void ImageViewerView::updateNavigation()
{
    const int index = m_appState.currentIndex();
    const qsizetype count = m_appState.filteredImages().size();
    m_statusBar->setPosition(index, count);
    m_previousButton->setVisible(index >= 1);
    m_nextButton->setVisible(index < count - 1);
    layoutOverlays();
}

void ImageViewerView::updateRating()
{
    m_statusBar->setRating(item() ? m_appState.rating(*item()) : 0);
    m_statusBar->setMark(item() ? m_appState.mark(*item()) : CullingMark());
}

void ImageViewerView::layoutOverlays()
{
    const QRect area = rect();
    m_zoomView->setGeometry(area);

    const int barHeight = m_statusBar->sizeHint().height();
    m_statusBar->setGeometry(0, area.height() - barHeight, area.width(), barHeight);

    m_backButton->move(edgeInset, edgeInset);
    const int arrowTop = (area.height() - m_previousButton->height()) / 2;
    m_previousButton->move(edgeInset, arrowTop);
    m_nextButton->move(area.width() - edgeInset - m_nextButton->width(), arrowTop);

    m_actionRow->layout()->activate();
    m_actionRow->adjustSize();
    m_actionRow->move(area.width() - actionRowTrailing - m_actionRow->width(),
                      area.height() - actionRowBottom - m_actionRow->height());

    for (QWidget *column : {m_loadingColumn, m_errorColumn}) {
        column->layout()->activate();
        column->adjustSize();
        column->move((area.width() - column->width()) / 2, (area.height() - column->height()) / 2);
    }
}
