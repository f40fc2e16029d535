#pragma once
// The Image page (tsImage): sbImage, imDot, the image views, ShowKmgEntry, ShowTargaEntry and
// ResetImageViews.
#include <QObject>
#include <functional>

#include "app/PageContext.h"

class QScrollArea;
class QWidget;

namespace vorlr {

class ImagePage : public QObject {
    Q_OBJECT
public:
    // Creates sbImage and imDot on tsImage, and the permanent first image view (element 0 of
    // ImageViewList, FirstView in the state).
    ImagePage(QWidget* tsImage, PageContext context);
    ~ImagePage() override;
    void ShowKmgEntry();
    void ShowTargaEntry();
    void ResetImageViews();
    // Runs after a KMG image has been decoded, before the repaint (the background capture).
    std::function<void()> afterKmgDecoded;
    QScrollArea* sbImage() const { return sbImage_; }

private:
    QWidget* tsImage_;
    PageContext ctx_;
    QScrollArea* sbImage_ = nullptr;
};

}  // namespace vorlr
