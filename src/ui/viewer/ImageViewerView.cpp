#include "viewer/ImageViewerView.h"

#include "common/BusyIndicator.h"
#include "common/DesktopFileRevealer.h"
#include "common/Symbols.h"
#include "imaging/ImageLoadError.h"
#include "state/AppState.h"
#include "viewing/NeighbourPrefetchCache.h"
#include "viewer/RawDecodeControl.h"
#include "viewer/RoundSymbolButton.h"
#include "viewing/ShownImageLoader.h"
#include "viewer/ViewerButtonStyle.h"
#include "viewer/ViewerStatusBar.h"
#include "common/ZoomableImageView.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
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

QString unknownFailureText()
{
    return ImageLoadError::decodeFailed().errorDescription();
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

ImageViewerView::ImageViewerView(AppState &appState, QWidget *parent)
    : QWidget(parent)
    , m_appState(appState)
    , m_loader(new ShownImageLoader(this))
    , m_prefetch(new NeighbourPrefetchCache(this))
    , m_revealer(std::make_unique<DesktopFileRevealer>(
          [this](const QString &text) { m_appState.setToastMessage(text); }))
    , m_confirmRawExport(defaultRawExportConfirmation)
    , m_zoomView(new ZoomableImageView(this))
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
    , m_rawControl(new RawDecodeControl(m_actionRow))
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
    m_actionRow->setAttribute(Qt::WA_TranslucentBackground);
    auto *actions = new QHBoxLayout(m_actionRow);
    actions->setContentsMargins(0, 0, 0, 0);
    actions->setSpacing(8);
    actions->addWidget(m_exportButton);
    actions->addWidget(m_rawControl);

    connect(m_backButton, &QAbstractButton::clicked, this, &ImageViewerView::goBack);
    connect(m_previousButton, &QAbstractButton::clicked, this, &ImageViewerView::showPrevious);
    connect(m_nextButton, &QAbstractButton::clicked, this, &ImageViewerView::showNext);
    connect(m_exportButton, &QPushButton::clicked, this, &ImageViewerView::requestFrameExport);
    connect(m_rawControl, &RawDecodeControl::decodeRequested, this, &ImageViewerView::decodeRAW);
    connect(m_statusBar, &ViewerStatusBar::ratingChosen, this, [this](int rating) {
        if (m_item)
            m_appState.updateRating(rating, *m_item);
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
    connectLoader();
    connect(m_prefetch, &NeighbourPrefetchCache::prefetched, this,
            [this](const QUuid &id, const QImage &image) {
                if (m_awaitingPrefetch && m_item && m_item->id() == id)
                    finishLoad(m_generation, image);
            });
    connect(m_prefetch, &NeighbourPrefetchCache::prefetchFailed, this, [this](const QUuid &id) {
        // Load it here after all: that reports the error text of this file.
        if (m_awaitingPrefetch && m_item && m_item->id() == id)
            load();
    });

    followSelection();
}

ImageViewerView::~ImageViewerView()
{
    // Leaving the screen with the editor open must not leave keys paused.
    if (m_showFrameExport)
        m_appState.setSheetPresented(false);
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
    if (m_displayImage.isNull())
        return nullptr;
    auto *menu = new QMenu(parent);
    menu->addAction(QStringLiteral("在访达中显示"), this, &ImageViewerView::revealInFileManager);
    menu->addAction(QStringLiteral("复制图片"), this, &ImageViewerView::copyImage);
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
    if (!m_item || m_isLoading || m_displayImage.isNull())
        return;
    if (!m_rawDecoded) {
        setShowFrameExport(true);
        return;
    }
    const quint64 generation = m_generation;
    QPointer<ImageViewerView> self(this);
    m_confirmRawExport(this, [self, generation](bool proceed) {
        if (self && proceed && generation == self->m_generation && !self->m_displayImage.isNull())
            self->setShowFrameExport(true);
    });
}

void ImageViewerView::decodeRAW()
{
    if (!m_item || !m_item->isRAW() || m_isLoading || m_isDecodingRAW)
        return;
    m_isDecodingRAW = true;
    updateScreen();
    m_loader->decodeRAW(*m_item);
}

void ImageViewerView::revealInFileManager()
{
    if (m_item && m_revealer)
        m_revealer->reveal(m_item->path());
}

void ImageViewerView::copyImage()
{
    if (m_displayImage.isNull())
        return;
    QGuiApplication::clipboard()->clear();
    QGuiApplication::clipboard()->setImage(m_displayImage);
}

void ImageViewerView::frameExportClosed()
{
    setShowFrameExport(false);
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
        release();
        return;
    }
    showItem(*selected);
}

void ImageViewerView::showItem(const ImageItem &item)
{
    if (m_item && *m_item == item)
        return;
    m_item = item;
    load();
}

void ImageViewerView::release()
{
    if (!m_item)
        return;
    ++m_generation;
    m_item.reset();
    m_displayImage = {};
    m_standIn = {};
    m_fittedRendition = {};
    m_errorMessage.reset();
    m_isLoading = m_isDecodingRAW = m_rawDecoded = m_awaitingPrefetch = false;
    m_loader->cancel();
    m_prefetch->clear();
    m_zoomView->setImage({});
    updateScreen();
}

void ImageViewerView::load()
{
    const quint64 generation = ++m_generation;
    m_isLoading = true;
    m_errorMessage.reset();
    m_displayImage = {};
    m_isDecodingRAW = false;
    m_rawDecoded = false;
    m_awaitingPrefetch = false;
    m_standIn = {};
    m_fittedRendition = {};
    m_prefetch->setView(m_zoomView->size(), m_zoomView->devicePixelRatioF());
    m_prefetch->focusOn(neighbourhood());

    if (const auto kept = m_prefetch->image(*m_item)) {
        // Whatever the loader still decodes is for an image left behind.
        m_loader->cancel();
        m_fittedRendition = m_prefetch->fittedRendition(*m_item);
        finishLoad(generation, *kept);
        return;
    }
    updateScreen();
    if (m_prefetch->isPrefetching(*m_item)) {
        m_loader->cancel();
        m_awaitingPrefetch = true;
        return;
    }
    // Supersedes whatever the loader decodes, unless that is this image.
    m_loader->load(*m_item, viewPixels());
}

QSize ImageViewerView::viewPixels() const
{
    return (QSizeF(m_zoomView->size()) * m_zoomView->devicePixelRatioF()).toSize();
}

void ImageViewerView::connectLoader()
{
    const auto isShownLoad = [this](const QUuid &id) {
        return m_item && m_item->id() == id && m_isLoading && !m_awaitingPrefetch;
    };
    const auto isShownDecode = [this](const QUuid &id) {
        return m_item && m_item->id() == id && m_isDecodingRAW;
    };
    connect(m_loader, &ShownImageLoader::standInLoaded, this,
            [this, isShownLoad](const QUuid &id, const ViewPicture &standIn) {
                if (!isShownLoad(id))
                    return;
                m_standIn = standIn;
                updateScreen();
            });
    connect(m_loader, &ShownImageLoader::loaded, this,
            [this, isShownLoad](const QUuid &id, const QImage &image) {
                if (isShownLoad(id))
                    finishLoad(m_generation, image);
                else
                    Q_EMIT staleResultDiscarded();
            });
    connect(m_loader, &ShownImageLoader::loadFailed, this,
            [this, isShownLoad](const QUuid &id, const QString &message) {
                if (isShownLoad(id))
                    failLoad(m_generation, message);
                else
                    Q_EMIT staleResultDiscarded();
            });
    connect(m_loader, &ShownImageLoader::decoded, this,
            [this, isShownDecode](const QUuid &id, const QImage &image) {
                if (isShownDecode(id))
                    finishDecode(m_generation, image);
                else
                    Q_EMIT staleResultDiscarded();
            });
    connect(m_loader, &ShownImageLoader::decodeFailed, this,
            [this, isShownDecode](const QUuid &id, const QString &message) {
                if (isShownDecode(id))
                    failDecode(m_generation, message);
                else
                    Q_EMIT staleResultDiscarded();
            });
    connect(m_loader, &ShownImageLoader::discarded, this, &ImageViewerView::staleResultDiscarded);
}

bool ImageViewerView::isStale(quint64 generation)
{
    if (generation == m_generation)
        return false;
    // The user has moved on: this result belongs to another image.
    Q_EMIT staleResultDiscarded();
    return true;
}

void ImageViewerView::finishLoad(quint64 generation, const QImage &image)
{
    if (isStale(generation))
        return;
    if (image.isNull()) {
        failLoad(generation, unknownFailureText());
        return;
    }
    m_awaitingPrefetch = false;
    m_displayImage = image;
    m_standIn = {};
    m_isLoading = false;
    updateScreen();
    prefetchNeighbours();
}

void ImageViewerView::failLoad(quint64 generation, const QString &message)
{
    if (isStale(generation))
        return;
    m_awaitingPrefetch = false;
    m_errorMessage = message;
    m_standIn = {};
    m_isLoading = false;
    updateScreen();
    prefetchNeighbours();
}

void ImageViewerView::finishDecode(quint64 generation, const QImage &image)
{
    if (isStale(generation))
        return;
    if (image.isNull()) {
        failDecode(generation, unknownFailureText());
        return;
    }
    m_displayImage = image;
    m_rawDecoded = true;
    m_isDecodingRAW = false;
    m_appState.setToastMessage(QStringLiteral("RAW 解码成功"));
    updateScreen();
}

void ImageViewerView::failDecode(quint64 generation, const QString &message)
{
    if (isStale(generation))
        return;
    // The preview stays on screen, so the reason goes to the toast; the
    // button comes back for another try.
    m_errorMessage = message;
    m_isDecodingRAW = false;
    m_appState.setToastMessage(QStringLiteral("RAW 解码失败: ") + message);
    updateScreen();
}

QList<ImageItem> ImageViewerView::neighbourhood() const
{
    const QList<ImageItem> &images = m_appState.filteredImages();
    const int index = m_appState.currentIndex();
    if (!m_item || index < 0 || index >= images.size() || images[index] != *m_item)
        return {};
    QList<ImageItem> items{*m_item};
    if (index + 1 < images.size())
        items.append(images[index + 1]);
    if (index >= 1)
        items.append(images[index - 1]);
    return items;
}

void ImageViewerView::prefetchNeighbours()
{
    const QList<ImageItem> wanted = neighbourhood();
    if (wanted.isEmpty())
        return;
    // The shown picture is kept unless it is a full RAW decode (not a preview).
    const QImage shown = m_rawDecoded ? QImage() : m_displayImage;
    m_prefetch->retainAndPrefetch(wanted, *m_item, shown);
}

void ImageViewerView::setShowFrameExport(bool shown)
{
    if (m_showFrameExport == shown)
        return;
    m_showFrameExport = shown;
    m_appState.setSheetPresented(shown);
    if (shown)
        Q_EMIT exportRequested(*m_item, m_displayImage);
}

void ImageViewerView::updateScreen()
{
    const bool hasImage = !m_displayImage.isNull();
    const bool showsStandIn = !hasImage && m_standIn.isStandIn();
    if (showsStandIn)
        m_zoomView->setStandIn(m_standIn.image, m_standIn.fullSize);
    else
        m_zoomView->setImage(m_displayImage, m_fittedRendition);
    m_zoomView->setVisible(hasImage || showsStandIn);
    m_loadingColumn->setVisible(m_item && m_isLoading && !showsStandIn);
    m_errorColumn->setVisible(m_item && !m_isLoading && !hasImage && m_errorMessage);
    m_errorText->setText(m_errorMessage.value_or(QString()));

    const bool isRAW = m_item && m_item->isRAW();
    m_statusBar->setFile(m_item ? m_item->filename() : QString(), isRAW);
    m_exportButton->setVisible(m_item && !m_isLoading && hasImage);
    m_rawControl->setVisible(isRAW && !m_isLoading);
    m_rawControl->setForm(m_isDecodingRAW ? RawDecodeControl::Form::decoding
                          : m_rawDecoded  ? RawDecodeControl::Form::decoded
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
    m_statusBar->setRating(m_item ? m_appState.rating(*m_item) : 0);
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
