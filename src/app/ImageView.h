#pragma once
// A picture control on the Image page: shows one Bitmap24 at its natural size and sizes itself
// to it. The window's background (imBack) uses it too.
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

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Bitmap24 picture_;
};

}  // namespace vorlr
