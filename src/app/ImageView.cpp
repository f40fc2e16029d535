#include "app/ImageView.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>

#include "platform/Dialogs.h"

namespace vorlr {

ImageView::ImageView(QWidget* parent) : QWidget(parent) {
    // The picture covers the whole control; nothing behind it needs painting.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ImageView::pictureChanged() {
    resize(picture_.width(), picture_.height());
    update();
}

void ImageView::setPicture(const Bitmap24& picture) {
    picture_ = picture;
    pictureChanged();
}

QSize ImageView::sizeHint() const { return QSize(picture_.width(), picture_.height()); }

void ImageView::paintEvent(QPaintEvent* event) {
    guarded([&] {
        if (picture_.empty()) return;
        // Wrap the rows without copying: Bitmap24 rows are blue, green, red top-down.
        const QImage image(picture_.pixels().data(), picture_.width(), picture_.height(),
                           static_cast<qsizetype>(picture_.stride()), QImage::Format_BGR888);
        QPainter painter(this);
        const QRect area = event->rect() & QRect(0, 0, picture_.width(), picture_.height());
        painter.drawImage(area, image, area);
    }, this);
}

}  // namespace vorlr
