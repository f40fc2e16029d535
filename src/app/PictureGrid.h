#pragma once
// "Show pictures": a grid of thumbnails of a folder's .kmg and .tga entries, each with its name,
// in the given order. Thumbnails are made on worker threads (the cells in view first) and
// appear as they are ready; a picture that cannot be made shows as a marked empty cell. A click
// on a cell hands its item to onPick. Where an item's bytes come from is the caller's: the grid
// never reads an archive itself.
#include <QAbstractScrollArea>
#include <QImage>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/EntryKind.h"
#include "archive/FolderTree.h"
#include "platform/ByteSource.h"

namespace vorlr {

class ThumbnailPool;

struct PictureItem {
    std::string name;  // as the tree shows it (8-bit)
    NodeId node = kNoNode;
    EntryKind kind = EntryKind::None;
};

// An item's bytes: a source standing at the entry's first byte with the number of bytes the
// entry holds from there, or, without a source, the bytes themselves.
struct PictureBytes {
    std::unique_ptr<ByteSource> source;
    int64_t held = 0;
    std::vector<uint8_t> bytes;
};
// Called on the grid's worker threads, several at once; may raise (the cell is marked).
using PictureBytesFor = std::function<PictureBytes(const PictureItem&)>;

// The thumbnail of an item as a worker makes it (Thumbnail.h), with its alpha.
QImage MakePictureThumbnail(const PictureItem& item, const PictureBytesFor& bytesFor);

class PictureGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    enum class Cell { Waiting, Shown, Failed };

    // Starts the workers at once. workers 0: one per core.
    PictureGrid(QWidget* parent, std::string folder, std::vector<PictureItem> items,
                PictureBytesFor bytesFor, int workers = 0);
    // stop().
    ~PictureGrid() override;
    // Stops the workers: those under way finish their picture first.
    void stop();

    std::function<void(const PictureItem&)> onPick;
    // Runs after each batch of thumbnails has been taken in (a place for tests and benchmarks).
    std::function<void()> onThumbnails;

    void setCheckerboard(bool on);
    const std::vector<PictureItem>& items() const { return items_; }
    Cell cell(size_t i) const { return cells_[i]; }
    const QImage& thumbnail(size_t i) const { return thumbnails_[i]; }
    const std::string& error(size_t i) const { return errors_[i]; }
    size_t shown() const { return shown_; }
    size_t failed() const { return failed_; }
    bool complete() const { return shown_ + failed_ == items_.size(); }
    // The item under a point of the viewport, or -1; where cell i stands in the viewport.
    int itemAt(QPoint at) const;
    QRect cellRect(size_t i) const;
    // Takes in every thumbnail made so far (the workers' wake-up runs it).
    void takeThumbnails();

    static constexpr int kCellWidth = 132, kCellHeight = 150, kMargin = 6, kHeader = 20;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    int columns() const;
    void layoutChanged();
    void preferVisible();
    std::string headerText() const;

    std::string folder_;
    std::vector<PictureItem> items_;
    std::vector<Cell> cells_;
    std::vector<QImage> thumbnails_;
    std::vector<std::string> errors_;
    size_t shown_ = 0, failed_ = 0;
    bool checkerboard_ = false;
    std::unique_ptr<ThumbnailPool> pool_;
};

}  // namespace vorlr
