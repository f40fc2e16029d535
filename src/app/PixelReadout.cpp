#include "app/PixelReadout.h"

#include <QAbstractScrollArea>
#include <QLabel>
#include <cstdio>

namespace vorlr {

namespace {
constexpr int kLineHeight = 18;
}

std::string PixelReadoutText(const Bitmap24& picture, int subImage, QPoint pixel) {
    const int x = pixel.x(), y = pixel.y();
    const uint8_t* p = picture.row(y) + 3 * x;
    char text[96];
    std::snprintf(text, sizeof text, "Sub-image %d: x %d, y %d, #%02X%02X%02X", subImage, x, y,
                  p[2], p[1], p[0]);
    std::string out = text;
    const int alpha = picture.hasAlpha() ? picture.alphaRow(y)[x] : 255;
    if (picture.hasIndexes()) {
        const uint16_t index = picture.indexRow(y)[x];
        if (alpha == 0)
            out += ", transparent";
        else if (index != Bitmap24::kNoIndex)
            out += ", index " + std::to_string(index);
    } else if (picture.hasAlpha()) {
        out += ", alpha " + std::to_string(alpha);
    }
    return out;
}

PixelReadout::PixelReadout(QAbstractScrollArea& area) : area_(area), label_(new QLabel(&area)) {
    label_->setObjectName(QStringLiteral("laPixel"));
    label_->setAttribute(Qt::WA_TransparentForMouseEvents);
    label_->setAutoFillBackground(true);
    label_->setContentsMargins(4, 0, 4, 0);
    QPalette pal = label_->palette();
    pal.setColor(QPalette::Window, QColor(0, 0, 0, 200));
    pal.setColor(QPalette::WindowText, Qt::white);
    label_->setPalette(pal);
    label_->hide();
}

void PixelReadout::show(const std::string& text, QPoint pointer) {
    const QRect viewport = area_.viewport()->geometry();
    // Out of the pointer's way: at the top while the pointer is near the bottom.
    const bool top = pointer.y() >= viewport.height() - 2 * kLineHeight;
    label_->setGeometry(viewport.left(), top ? viewport.top() : viewport.bottom() + 1 - kLineHeight,
                        viewport.width(), kLineHeight);
    label_->setText(QString::fromLatin1(text.c_str()));
    label_->raise();
    label_->show();
}

void PixelReadout::hide() { label_->hide(); }

}  // namespace vorlr
