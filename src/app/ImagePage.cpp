#include "app/ImagePage.h"

#include <QLabel>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QShortcut>
#include <QWheelEvent>
#include <algorithm>

#include "app/ImageView.h"
#include "app/PixelReadout.h"
#include "platform/gui/Dialogs.h"
#include "viewers/KmgDecoder.h"
#include "viewers/TargaDecoder.h"

namespace vorlr {
namespace {

constexpr int kFirstLeft = 10, kFirstTop = 10;

int toCoordinate(int64_t v) {
    // Qt coordinates are int and widget sizes stop at QWIDGETSIZE_MAX.
    return static_cast<int>(std::clamp<int64_t>(v, 0, QWIDGETSIZE_MAX));
}

void paintBlack(QWidget* w) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, Qt::black);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

const char* const kPageTip =
    "Ctrl+wheel, Ctrl+plus, Ctrl+minus: zoom (25 % to 1600 %)\n"
    "Ctrl+0: 100 %    Ctrl+9: Fit the whole picture\n"
    "Ctrl+Shift+T: checkerboard behind transparent pixels\n"
    "Pointer over a picture: sub-image, x, y, colour, palette index or alpha\n"
    "Ctrl+G or \"Show pictures\" in a folder's menu: the folder's pictures as thumbnails";

}  // namespace

// The KMG decoder's pictures are the image views of ImageViewList.
class ImagePage::Views final : public KmgTarget {
public:
    explicit Views(ImagePage& page) : page_(page), list_(page.ctx_.state.ImageViewList) {}
    Bitmap24& firstPicture() override { return list_[0]->picture(); }
    void setSubImageCount(int count) override {
        list_.resize(static_cast<size_t>(std::max(count, 1)), nullptr);
    }
    Bitmap24& beginSubImage(int index, KmgLayout::Position at) override {
        ImageView*& view = list_[static_cast<size_t>(index)];
        if (!view) {
            view = new ImageView(page_.content_);  // owned by the window through sbImage
            page_.watch(view);
            view->setDisplay(page_.zoom_.factor(), page_.checkerboard_);
            view->show();
        }
        view->pictureChanged();
        view->setPlace(QPoint(toCoordinate(at.left), toCoordinate(at.top)));
        return view->picture();
    }
    void pictureDone(int index) override {
        if (ImageView* view = list_[static_cast<size_t>(index)]) view->pictureChanged();
    }

private:
    ImagePage& page_;
    std::vector<ImageView*>& list_;
};

ImagePage::ImagePage(QWidget* tsImage, PageContext context) : tsImage_(tsImage), ctx_(context) {
    // The readout and the checkerboard need each picture's transparency and palette indexes;
    // the colours decoded stay the same.
    ctx_.state.keepAlpha = true;
    ctx_.state.keepIndexes = true;

    sbImage_ = new QScrollArea(tsImage);
    sbImage_->setObjectName(QStringLiteral("sbImage"));
    sbImage_->setGeometry(0, 0, 561, 491);
    sbImage_->setWidgetResizable(false);
    paintBlack(sbImage_->viewport());
    content_ = new QWidget;
    content_->setObjectName(QStringLiteral("sbImageContent"));
    paintBlack(content_);
    sbImage_->setWidget(content_);
    viewport_ = sbImage_->viewport();
    viewport_->installEventFilter(this);
    viewport_->setMouseTracking(true);  // where the pointer is, for the zoom keys
    readout_ = std::make_unique<PixelReadout>(*sbImage_);
    for (QScrollBar* bar : {sbImage_->horizontalScrollBar(), sbImage_->verticalScrollBar()})
        connect(bar, &QScrollBar::valueChanged, this, [this] { updateReadout(); });

    imDot_ = new ImageView(content_);
    imDot_->setObjectName(QStringLiteral("imDot"));
    Bitmap24 dot(1, 1);
    dot.row(0)[0] = dot.row(0)[1] = dot.row(0)[2] = 0;
    imDot_->setPicture(dot);
    imDot_->hide();

    auto* first = new ImageView(content_);
    first->setObjectName(QStringLiteral("imImage"));
    first->setPlace(QPoint(kFirstLeft, kFirstTop));
    first->setPicture(imDot_->picture());  // a 1 x 1 black picture until an image is decoded
    watch(first);
    ctx_.state.ImageViewList.assign(1, first);
    ctx_.state.FirstView = first;
    updateContentSize();

    const int tab = ctx_.pageControl.indexOf(tsImage_);
    if (tab >= 0) ctx_.pageControl.setTabToolTip(tab, QString::fromLatin1(kPageTip));
    buildKeys();
}

ImagePage::~ImagePage() {
    closing_ = true;  // the views and the viewport send their last events while they go
    delete grid_.data();  // its workers end before the archive they read can go
    readout_.reset();
    if (sbImage_) delete sbImage_.data();  // takes imDot and every image view with it
    ctx_.state.ImageViewList.clear();
    ctx_.state.FirstView = nullptr;
}

// The page's keys act wherever the focus is in the window while the page is in front: a
// shortcut of tsImage is live only while tsImage shows, and silent while the main panel is
// disabled (a directory loading).
void ImagePage::buildKeys() {
    auto key = [this](std::initializer_list<QKeySequence> keys, void (ImagePage::*run)()) {
        auto* s = new QShortcut(tsImage_);
        s->setKeys(keys);
        s->setContext(Qt::WindowShortcut);
        s->setAutoRepeat(false);
        connect(s, &QShortcut::activated, this, [this, run] { guarded([&] { (this->*run)(); }, tsImage_); });
    };
    key({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal),
         QKeySequence(Qt::ControlModifier | Qt::KeypadModifier | Qt::Key_Plus)},
        &ImagePage::zoomIn);
    key({QKeySequence(Qt::CTRL | Qt::Key_Minus),
         QKeySequence(Qt::ControlModifier | Qt::KeypadModifier | Qt::Key_Minus)},
        &ImagePage::zoomOut);
    key({QKeySequence(Qt::CTRL | Qt::Key_0)}, &ImagePage::zoomReset);
    key({QKeySequence(Qt::CTRL | Qt::Key_9)}, &ImagePage::zoomFit);
    key({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T)}, &ImagePage::toggleCheckerboard);
}

void ImagePage::ResetImageViews() {
    leavePictures();
    readout_->hide();
    focus_.reset();
    auto& list = ctx_.state.ImageViewList;
    // Out of the list and unwatched before they go: a view freed under the pointer makes Qt send
    // enter and leave events, and the readout must never reach a view that is being destroyed.
    std::vector<ImageView*> going(list.begin() + std::min<size_t>(1, list.size()), list.end());
    list.resize(1);
    if (!list[0]) list[0] = ctx_.state.FirstView;
    QWidget* window = tsImage_->window();
    window->setUpdatesEnabled(false);
    {
        // The enter events of what now lies under the pointer: the readout stays hidden until
        // the pointer moves.
        const QScopedValueRollback<bool> freeing(freeing_, true);
        for (ImageView* view : going) freeView(view);
    }
    window->setUpdatesEnabled(true);
    ctx_.pageControl.setCurrentWidget(tsImage_);
}

void ImagePage::freeView(ImageView* view) {
    if (!view) return;
    view->removeEventFilter(this);
    delete view;
}

bool ImagePage::isWatched(QObject* object) const {
    if (object == viewport_) return true;
    const auto& list = ctx_.state.ImageViewList;
    return std::find(list.begin(), list.end(), object) != list.end();
}

QSize ImagePage::layoutSize() const {
    QRect area(0, 0, 1, 1);
    for (ImageView* view : ctx_.state.ImageViewList)
        if (view) area |= QRect(view->place(), QSize(view->picture().width(), view->picture().height()));
    return QSize(std::min(area.right() + 1 + kFirstLeft, QWIDGETSIZE_MAX),
                 std::min(area.bottom() + 1 + kFirstTop, QWIDGETSIZE_MAX));
}

void ImagePage::updateContentSize() {
    if (zoom_.fitting()) zoom_.fit(layoutSize(), sbImage_->maximumViewportSize());
    const double z = zoom_.factor();
    for (ImageView* view : ctx_.state.ImageViewList)
        if (view) view->setDisplay(z, checkerboard_);
    const QSize layout = layoutSize();
    content_->resize(ImageZoom::scaled(layout.width(), z), ImageZoom::scaled(layout.height(), z));
}

void ImagePage::ShowKmgEntry() {
    ResetImageViews();
    ViewerState& state = ctx_.state;
    Views views(*this);
    KmgKind kind;
    try {
        kind = decodeKmg(state.EntryFile(), state, views);
    } catch (...) {
        updateContentSize();  // the views made so far stay
        throw;
    }
    updateContentSize();
    ctx_.statusBar.setPanelText(3, kmgTypeText(kind));
    if (afterKmgDecoded) afterKmgDecoded();
    sbImage_->viewport()->update();
}

void ImagePage::ShowTargaEntry() {
    ViewerState& state = ctx_.state;
    const TargaHeader header = readTargaHeader(state.EntryFile(), state);
    if (!targaDepthSupported(header.bitsPerPixel)) {
        showInformationText(unsupportedTargaText(header.bitsPerPixel), tsImage_->window());
        return;
    }
    readTargaPrelude(state.EntryFile(), state, header);
    ResetImageViews();
    ImageView* first = state.ImageViewList[0];
    decodeTargaPixels(state.EntryFile(), state, header, first->picture());
    first->pictureChanged();
    updateContentSize();
    ctx_.statusBar.setPanelText(3, targaTypeText(header.bitsPerPixel));
    sbImage_->viewport()->update();
}

QPoint ImagePage::zoomAnchor() const {
    return pointer_ ? *pointer_ : sbImage_->viewport()->rect().center();
}

void ImagePage::applyZoom(QPoint anchor) {
    QScrollBar* h = sbImage_->horizontalScrollBar();
    QScrollBar* v = sbImage_->verticalScrollBar();
    // The layout point under the anchor, in 100 % pixels, before the views change. Steps in a
    // row about the same point keep the point of the first: a page smaller than the viewport
    // cannot scroll it into place, and the next step would start from where it was left.
    const QPoint scroll(h->value(), v->value());
    if (!focus_ || focus_->anchor != anchor || focus_->scroll != scroll) {
        const double before = ctx_.state.FirstView ? ctx_.state.FirstView->zoom() : 1;
        focus_ = Focus{anchor, scroll, QPointF((scroll.x() + anchor.x()) / before,
                                                (scroll.y() + anchor.y()) / before)};
    }
    updateContentSize();
    const double z = zoom_.factor();
    h->setValue(static_cast<int>(focus_->layout.x() * z) - anchor.x());
    v->setValue(static_cast<int>(focus_->layout.y() * z) - anchor.y());
    focus_->scroll = QPoint(h->value(), v->value());
    sbImage_->viewport()->update();
}

void ImagePage::zoomIn() {
    zoom_.stepIn();
    applyZoom(zoomAnchor());
}

void ImagePage::zoomOut() {
    zoom_.stepOut();
    applyZoom(zoomAnchor());
}

void ImagePage::zoomReset() {
    zoom_.reset();
    applyZoom(zoomAnchor());
}

void ImagePage::zoomFit() {
    zoom_.fit(layoutSize(), sbImage_->maximumViewportSize());
    applyZoom(QPoint(0, 0));
}

void ImagePage::toggleCheckerboard() {
    checkerboard_ = !checkerboard_;
    updateContentSize();
    if (grid_) grid_->setCheckerboard(checkerboard_);
}

void ImagePage::watch(ImageView* view) {
    view->setMouseTracking(true);
    view->installEventFilter(this);
}

// The readout follows the pointer over the views, and what lies under it as the views zoom
// or scroll.
void ImagePage::showReadout(QPoint pointer) {
    if (closing_ || !viewport_) return;
    const auto& list = ctx_.state.ImageViewList;
    QWidget* viewport = viewport_;
    if (!grid_ && viewport->rect().contains(pointer)) {
        for (size_t i = 0; i < list.size(); ++i) {
            ImageView* view = list[i];
            if (!view || !view->isVisible()) continue;
            const QPoint pixel = view->pixelAt(view->mapFrom(viewport, pointer));
            if (pixel.x() < 0) continue;
            return readout_->show(PixelReadoutText(view->picture(), static_cast<int>(i), pixel), pointer);
        }
    }
    readout_->hide();
}

void ImagePage::updateReadout() {
    if (pointer_) showReadout(*pointer_);
}

bool ImagePage::eventFilter(QObject* watched, QEvent* event) {
    // The pointer is followed in the viewport's own coordinates: under some window managers a
    // frameless window's idea of its place on the screen is off, and with it every mapping
    // from global positions.
    if (closing_ || !viewport_) return false;
    // Only the viewport and the views of the list: anything else is on its way out.
    if (!isWatched(watched) || freeing_) return false;
    QWidget* viewport = viewport_;
    switch (event->type()) {
    case QEvent::MouseMove:
    case QEvent::Enter:
        if (auto* moved = dynamic_cast<QSinglePointEvent*>(event)) {
            const QPoint at = watched == viewport
                                  ? moved->position().toPoint()
                                  : static_cast<QWidget*>(watched)->mapTo(viewport, moved->position().toPoint());
            if (pointer_ != at) focus_.reset();  // a zoom after a move is about the new point
            pointer_ = at;
            guarded([&] { showReadout(at); }, tsImage_);
        }
        break;
    case QEvent::Leave:
        // A view that zooms or moves under the pointer is left too, the pointer still on it.
        if (watched == viewport) pointer_.reset();
        guarded([this] { pointer_ ? showReadout(*pointer_) : readout_->hide(); }, tsImage_);
        break;
    case QEvent::Resize:  // scroll bars come and go as the views zoom: the line moves along
        if (watched == viewport && readout_->label()->isVisible()) guarded([this] { updateReadout(); }, tsImage_);
        break;
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (wheel->modifiers() & Qt::ControlModifier) {
            // One step a notch (120); touchpads send smaller turns that add up.
            wheelRest_ += wheel->angleDelta().y();
            const QPoint at = watched == viewport ? wheel->position().toPoint()
                                                  : static_cast<QWidget*>(watched)->mapTo(
                                                        viewport, wheel->position().toPoint());
            pointer_ = at;
            guarded([&] {
                for (; wheelRest_ >= 120; wheelRest_ -= 120) {
                    zoom_.stepIn();
                    applyZoom(at);
                }
                for (; wheelRest_ <= -120; wheelRest_ += 120) {
                    zoom_.stepOut();
                    applyZoom(at);
                }
            }, tsImage_);
            return true;
        }
        break;
    }
    default: break;
    }
    return QObject::eventFilter(watched, event);
}

void ImagePage::showPictures(std::string folder, std::vector<PictureItem> items,
                             PictureBytesFor bytesFor, std::function<void(const PictureItem&)> onPick) {
    leavePictures();
    readout_->hide();
    auto* grid = new PictureGrid(tsImage_, std::move(folder), std::move(items), std::move(bytesFor));
    grid->setGeometry(sbImage_->geometry());
    grid->setCheckerboard(checkerboard_);
    grid->onPick = std::move(onPick);
    grid_ = grid;
    sbImage_->hide();
    grid->show();
    ctx_.pageControl.setCurrentWidget(tsImage_);
}

void ImagePage::leavePictures() {
    if (!grid_) return;
    PictureGrid* grid = grid_;
    grid_ = nullptr;
    grid->stop();
    grid->hide();
    grid->deleteLater();  // a pick from the grid's own handler may have brought us here
    sbImage_->show();
}

}  // namespace vorlr
