#pragma once
// The Image page (tsImage): sbImage, imDot, the image views, ShowKmgEntry, ShowTargaEntry and
// ResetImageViews.
#include <QObject>
#include <QPointer>
#include <QScrollArea>
#include <functional>

#include "app/PageContext.h"

class QWidget;

namespace vorlr {

class ImageView;

class ImagePage : public QObject {
    Q_OBJECT
public:
    // Creates sbImage and imDot on tsImage, and the permanent first image view (element 0 of
    // ImageViewList, FirstView in the state).
    ImagePage(QWidget* tsImage, PageContext context);
    // Frees sbImage with every image view, the first one included.
    ~ImagePage() override;
    void ShowKmgEntry();
    void ShowTargaEntry();
    void ResetImageViews();
    // Runs after a KMG image has been decoded, before the repaint (the background capture).
    std::function<void()> afterKmgDecoded;
    QScrollArea* sbImage() const { return sbImage_; }
    // The widget inside sbImage that holds the image views.
    QWidget* content() const { return content_; }
    ImageView* imDot() const { return imDot_; }

private:
    class Views;
    // Makes the scrollable area cover every image view.
    void updateContentSize();

    QWidget* tsImage_;
    PageContext ctx_;
    QPointer<QScrollArea> sbImage_;
    QWidget* content_ = nullptr;
    ImageView* imDot_ = nullptr;
};

}  // namespace vorlr
