#include "app/ImageView.h"

#include <QPaintEvent>
#include <QPainter>
#include <vector>

#include "app/ImageZoom.h"
#include "platform/gui/Dialogs.h"

namespace vorlr {

namespace {

// The picture's rows wrapped without copying: Bitmap24 rows are blue, green, red top-down.
QImage wrap(const Bitmap24& picture) {
    return QImage(picture.pixels().data(), picture.width(), picture.height(),
                  static_cast<qsizetype>(picture.stride()), QImage::Format_BGR888);
}

bool transparentAt(const Bitmap24& picture, int x, int y) {
    return picture.hasAlpha() && picture.alphaRow(y)[x] < 128;
}

}  // namespace

ImageView::ImageView(QWidget* parent) : QWidget(parent) {
    // The picture covers the whole control; nothing behind it needs painting.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QRgb ImageView::checkerColour(int x, int y) {
    return ((x / kCheckerSquare + y / kCheckerSquare) & 1) ? qRgb(0x66, 0x66, 0x66)
                                                           : qRgb(0x99, 0x99, 0x99);
}

void ImageView::pictureChanged() {
    shrunk_ = QImage();
    placeAndSize();
    update();
}

void ImageView::setPicture(const Bitmap24& picture) {
    picture_ = picture;
    pictureChanged();
}

void ImageView::setPlace(QPoint place) {
    place_ = place;
    placed_ = true;
    placeAndSize();
}

void ImageView::setDisplay(double zoom, bool checkerboard) {
    if (zoom == zoom_ && checkerboard == checkerboard_) return;
    zoom_ = zoom;
    checkerboard_ = checkerboard;
    shrunk_ = QImage();
    placeAndSize();
    update();
}

void ImageView::placeAndSize() {
    if (zoom_ == 1) {
        if (placed_) move(place_);
        resize(picture_.width(), picture_.height());
        return;
    }
    // Both edges scaled, so views side by side at 100 % stay side by side.
    const int left = ImageZoom::scaled(place_.x(), zoom_), top = ImageZoom::scaled(place_.y(), zoom_);
    if (placed_) move(left, top);
    resize(ImageZoom::scaled(int64_t{place_.x()} + picture_.width(), zoom_) - left,
           ImageZoom::scaled(int64_t{place_.y()} + picture_.height(), zoom_) - top);
}

QSize ImageView::sizeHint() const { return QSize(picture_.width(), picture_.height()); }

QPoint ImageView::pixelAt(QPoint at) const {
    if (picture_.empty() || !rect().contains(at)) return QPoint(-1, -1);
    const int x = static_cast<int>(int64_t{at.x()} * picture_.width() / width());
    const int y = static_cast<int>(int64_t{at.y()} * picture_.height() / height());
    return QPoint(std::min(x, picture_.width() - 1), std::min(y, picture_.height() - 1));
}

void ImageView::paintEvent(QPaintEvent* event) {
    guarded([&] {
        if (picture_.empty()) return;
        QPainter painter(this);
        if (zoom_ == 1 && !checkerboard_) {
            const QImage image = wrap(picture_);
            const QRect area = event->rect() & QRect(0, 0, picture_.width(), picture_.height());
            painter.drawImage(area, image, area);
        } else if (zoom_ < 1) {
            paintShrunk(painter, event->rect() & rect());
        } else {
            paintPixels(painter, event->rect() & rect());
        }
    }, this);
}

// Each control pixel takes the colour of the picture pixel under it: sharp squares when
// enlarged. Only the exposed area is made, so 1600 % of a large picture costs a viewport.
void ImageView::paintPixels(QPainter& painter, const QRect& area) {
    if (area.isEmpty()) return;
    std::vector<int> columns(static_cast<size_t>(area.width()));
    for (int i = 0; i < area.width(); ++i) columns[size_t(i)] = pixelAt({area.left() + i, 0}).x();
    QImage out(area.size(), QImage::Format_RGB32);
    for (int j = 0; j < area.height(); ++j) {
        const int ty = area.top() + j;
        const int y = pixelAt({0, ty}).y();
        const uint8_t* in = picture_.row(y);
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(j));
        for (int i = 0; i < area.width(); ++i) {
            const int x = columns[size_t(i)];
            const uint8_t* p = in + 3 * x;
            line[i] = checkerboard_ && transparentAt(picture_, x, y)
                          ? checkerColour(area.left() + i, ty)
                          : qRgb(p[2], p[1], p[0]);
        }
    }
    painter.drawImage(area.topLeft(), out);
}

// Shrunk pictures are smoothed once per zoom; with the checkerboard, transparent pixels get
// alpha 0 first, so the squares show through them.
void ImageView::paintShrunk(QPainter& painter, const QRect& area) {
    if (shrunk_.isNull()) {
        QImage source = wrap(picture_);
        if (checkerboard_ && picture_.hasAlpha()) {
            source = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            for (int y = 0; y < picture_.height(); ++y) {
                auto* line = reinterpret_cast<QRgb*>(source.scanLine(y));
                for (int x = 0; x < picture_.width(); ++x)
                    if (transparentAt(picture_, x, y)) line[x] = 0;
            }
        }
        shrunk_ = source.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    if (checkerboard_) {
        QImage squares(area.size(), QImage::Format_RGB32);
        for (int j = 0; j < area.height(); ++j) {
            auto* line = reinterpret_cast<QRgb*>(squares.scanLine(j));
            for (int i = 0; i < area.width(); ++i)
                line[i] = checkerColour(area.left() + i, area.top() + j);
        }
        painter.drawImage(area.topLeft(), squares);
    }
    painter.drawImage(area, shrunk_, area);
}

}  // namespace vorlr
