#pragma once
// The Image page's pixel readout: one line over the bottom of the page's viewport (over its top
// while the pointer is down there) naming the pixel under the pointer. Hidden unless the
// pointer is over a picture; the pointer passes through it to the picture below.
#include <QPoint>
#include <string>

#include "platform/Bitmap24.h"

class QAbstractScrollArea;
class QLabel;

namespace vorlr {

// "Sub-image 2: x 14, y 3, #F8FCF8" and, for a palette picture, ", index 17" (", transparent"
// in a transparent run); for a picture with alpha, ", alpha 128".
std::string PixelReadoutText(const Bitmap24& picture, int subImage, QPoint pixel);

class PixelReadout {
public:
    explicit PixelReadout(QAbstractScrollArea& area);
    // pointer: where the pointer is in the viewport.
    void show(const std::string& text, QPoint pointer);
    void hide();
    QLabel* label() const { return label_; }

private:
    QAbstractScrollArea& area_;
    QLabel* label_;
};

}  // namespace vorlr
