#include "app/ImagePage.h"

#include <QScrollArea>
#include <algorithm>

#include "app/ImageView.h"
#include "platform/Dialogs.h"
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
            view->show();
        }
        view->pictureChanged();
        view->move(toCoordinate(at.left), toCoordinate(at.top));
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
    sbImage_ = new QScrollArea(tsImage);
    sbImage_->setObjectName(QStringLiteral("sbImage"));
    sbImage_->setGeometry(0, 0, 561, 491);
    sbImage_->setWidgetResizable(false);
    paintBlack(sbImage_->viewport());
    content_ = new QWidget;
    content_->setObjectName(QStringLiteral("sbImageContent"));
    paintBlack(content_);
    sbImage_->setWidget(content_);

    imDot_ = new ImageView(content_);
    imDot_->setObjectName(QStringLiteral("imDot"));
    Bitmap24 dot(1, 1);
    dot.row(0)[0] = dot.row(0)[1] = dot.row(0)[2] = 0;
    imDot_->setPicture(dot);
    imDot_->hide();

    auto* first = new ImageView(content_);
    first->setObjectName(QStringLiteral("imImage"));
    first->move(kFirstLeft, kFirstTop);
    first->setPicture(imDot_->picture());  // a 1 x 1 black picture until an image is decoded
    ctx_.state.ImageViewList.assign(1, first);
    ctx_.state.FirstView = first;
    updateContentSize();
}

ImagePage::~ImagePage() {
    if (sbImage_) delete sbImage_.data();  // takes imDot and every image view with it
    ctx_.state.ImageViewList.clear();
    ctx_.state.FirstView = nullptr;
}

void ImagePage::ResetImageViews() {
    auto& list = ctx_.state.ImageViewList;
    QWidget* window = tsImage_->window();
    window->setUpdatesEnabled(false);
    for (size_t i = 1; i < list.size(); ++i) delete list[i];
    list.resize(1);
    if (!list[0]) list[0] = ctx_.state.FirstView;
    window->setUpdatesEnabled(true);
    ctx_.pageControl.setCurrentWidget(tsImage_);
}

void ImagePage::updateContentSize() {
    QRect area(0, 0, 1, 1);
    for (ImageView* view : ctx_.state.ImageViewList)
        if (view) area |= view->geometry();
    content_->resize(std::min(area.right() + 1 + kFirstLeft, QWIDGETSIZE_MAX),
                     std::min(area.bottom() + 1 + kFirstTop, QWIDGETSIZE_MAX));
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

}  // namespace vorlr
