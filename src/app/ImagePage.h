#pragma once
// The Image page (tsImage): sbImage, imDot, the image views, ShowKmgEntry, ShowTargaEntry and
// ResetImageViews; and what the page offers besides, each off until asked for: the zoom of
// every view (Ctrl+wheel, Ctrl+plus, Ctrl+minus, Ctrl+0, Fit with Ctrl+9), the checkerboard
// behind transparent pixels (Ctrl+Shift+T), the pixel readout under the pointer, and the grid
// of a folder's pictures in place of the views.
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QScrollArea>
#include <functional>
#include <memory>
#include <optional>

#include "app/ImageZoom.h"
#include "app/PageContext.h"
#include "app/PictureGrid.h"

class QWidget;

namespace vorlr {

class ImageView;
class PixelReadout;

class ImagePage : public QObject {
    Q_OBJECT
public:
    // Creates sbImage and imDot on tsImage, and the permanent first image view (element 0 of
    // ImageViewList, FirstView in the state).
    ImagePage(QWidget* tsImage, PageContext context);
    // Frees sbImage with every image view, the first one included, and the grid.
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

    // Zoom: every view at the same factor, the point under the pointer (or the page's centre)
    // kept in place.
    const ImageZoom& zoom() const { return zoom_; }
    void zoomIn();
    void zoomOut();
    void zoomReset();  // 100 %
    void zoomFit();
    bool checkerboard() const { return checkerboard_; }
    void toggleCheckerboard();
    PixelReadout& readout() const { return *readout_; }

    // Shows the grid of items in place of the views, with the Image page in front; a pick hands
    // the item to onPick. Replaces a grid already shown.
    void showPictures(std::string folder, std::vector<PictureItem> items, PictureBytesFor bytesFor,
                      std::function<void(const PictureItem&)> onPick);
    // Stops the grid's workers and puts the views back; nothing when no grid is shown.
    void leavePictures();
    PictureGrid* grid() const { return grid_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Views;
    // Makes the scrollable area cover every image view.
    void updateContentSize();
    // The views with their margins at 100 %.
    QSize layoutSize() const;
    void buildKeys();
    // Shows every view at the zoom, keeping the layout point under anchor (in the viewport).
    void applyZoom(QPoint anchor);
    QPoint zoomAnchor() const;
    void watch(ImageView* view);
    // Unwatches a view already taken out of the list, then frees it.
    void freeView(ImageView* view);
    bool isWatched(QObject* object) const;
    // pointer: in sbImage's viewport.
    void showReadout(QPoint pointer);
    // Again at the pointer, after the views have zoomed or scrolled under it.
    void updateReadout();

    QWidget* tsImage_;
    PageContext ctx_;
    QPointer<QScrollArea> sbImage_;
    QPointer<QWidget> viewport_;  // sbImage's, which the page watches
    bool closing_ = false;
    bool freeing_ = false;  // views being freed
    QWidget* content_ = nullptr;
    ImageView* imDot_ = nullptr;
    ImageZoom zoom_;
    bool checkerboard_ = false;
    int wheelRest_ = 0;  // wheel turns short of a step
    std::optional<QPoint> pointer_;  // in sbImage's viewport, while the pointer is in it
    struct Focus {
        QPoint anchor, scroll;  // where the last zoom left the pointer and the scroll bars
        QPointF layout;         // the point kept under the anchor, at 100 %
    };
    std::optional<Focus> focus_;
    std::unique_ptr<PixelReadout> readout_;
    QPointer<PictureGrid> grid_;
};

}  // namespace vorlr
