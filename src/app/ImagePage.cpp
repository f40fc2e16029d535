#include "app/ImagePage.h"

#include <QScrollArea>

namespace vorlr {

ImagePage::ImagePage(QWidget* tsImage, PageContext context) : tsImage_(tsImage), ctx_(context) {
    sbImage_ = new QScrollArea(tsImage);
    sbImage_->setObjectName(QStringLiteral("sbImage"));
    sbImage_->setGeometry(0, 0, 561, 491);
}

ImagePage::~ImagePage() = default;

// Placeholders until the image viewers land.
void ImagePage::ShowKmgEntry() {}
void ImagePage::ShowTargaEntry() {}
void ImagePage::ResetImageViews() {}

}  // namespace vorlr
