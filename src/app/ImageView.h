#pragma once
// A picture control on the Image page: shows one Bitmap24 and sizes itself to it. The window's
// background (imBack) uses it too. At the defaults (100 %, no checkerboard) it paints the
// picture's pixels one to one; enlarged, each pixel is a sharp square; shrunk, smoothed.
#include <QImage>
#include <QWidget>

#include "platform/Bitmap24.h"

namespace vorlr {

class ImageView : public QWidget {
public:
    explicit ImageView(QWidget* parent = nullptr);

    Bitmap24& picture() { return picture_; }
    const Bitmap24& picture() const { return picture_; }
    // Call after writing into picture(): resizes the control to the picture and repaints it.
    void pictureChanged();
    // Copies the picture, then pictureChanged().
    void setPicture(const Bitmap24& picture);

    // Where the control stands at 100 %; it is shown at place x zoom.
    void setPlace(QPoint place);
    QPoint place() const { return place_; }
    // The zoom factor, and whether a checkerboard shows behind transparent pixels (alpha
    // below 128).
    void setDisplay(double zoom, bool checkerboard);
    double zoom() const { return zoom_; }
    // The picture's pixel under a point of the control, or (-1, -1).
    QPoint pixelAt(QPoint at) const;

    QSize sizeHint() const override;

    static constexpr int kCheckerSquare = 8;
    static QRgb checkerColour(int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void placeAndSize();
    void paintPixels(QPainter& painter, const QRect& area);
    void paintShrunk(QPainter& painter, const QRect& area);

    Bitmap24 picture_;
    QPoint place_;
    bool placed_ = false;  // setPlace was called: the control moves with the zoom
    double zoom_ = 1;
    bool checkerboard_ = false;
    QImage shrunk_;  // the picture smoothed to the control's size, while zoomed out
};

}  // namespace vorlr
