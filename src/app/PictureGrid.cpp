#include "app/PictureGrid.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>
#include <algorithm>

#include "app/ImageView.h"
#include "app/ThumbnailPool.h"
#include "platform/gui/Dialogs.h"
#include "viewers/Thumbnail.h"

namespace vorlr {

namespace {

constexpr int kBox = kThumbnailSide;
const QColor kText(0xD0, 0xD0, 0xD0), kWaiting(0x40, 0x40, 0x40), kMarked(0xC0, 0x40, 0x40);

QString text8(const std::string& s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }

}  // namespace

QImage MakePictureThumbnail(const PictureItem& item, const PictureBytesFor& bytesFor) {
    PictureBytes in = bytesFor(item);
    Bitmap24 small;
    if (in.source) {
        small = MakeThumbnail(*in.source, in.held, item.kind);
    } else {
        MemoryByteSource memory(in.bytes);
        small = MakeThumbnail(memory, static_cast<int64_t>(in.bytes.size()), item.kind);
    }
    QImage out(small.width(), small.height(), QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < small.height(); ++y) {
        const uint8_t* p = small.row(y);
        const uint8_t* alpha = small.hasAlpha() ? small.alphaRow(y) : nullptr;
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < small.width(); ++x, p += 3) {
            const int a = alpha ? alpha[x] : 255;
            line[x] = qRgba(p[2] * a / 255, p[1] * a / 255, p[0] * a / 255, a);
        }
    }
    return out;
}

PictureGrid::PictureGrid(QWidget* parent, std::string folder, std::vector<PictureItem> items,
                         PictureBytesFor bytesFor, int workers)
    : QAbstractScrollArea(parent), folder_(std::move(folder)), items_(std::move(items)),
      cells_(items_.size(), Cell::Waiting), thumbnails_(items_.size()), errors_(items_.size()) {
    setObjectName(QStringLiteral("PictureGrid"));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Black as the page behind the views (a scroll area's viewport fills with Base).
    QPalette pal = viewport()->palette();
    pal.setColor(QPalette::Base, Qt::black);
    viewport()->setPalette(pal);
    viewport()->setMouseTracking(true);
    verticalScrollBar()->setSingleStep(kCellHeight / 5);
    layoutChanged();
    // The workers read items_, which never changes and outlives them.
    auto make = [this, bytesFor = std::move(bytesFor)](size_t i) {
        return MakePictureThumbnail(items_[i], bytesFor);
    };
    auto wake = [this] {
        QMetaObject::invokeMethod(this, [this] { guarded([this] { takeThumbnails(); }, this); },
                                  Qt::QueuedConnection);
    };
    pool_ = std::make_unique<ThumbnailPool>(items_.size(), std::move(make), std::move(wake), workers);
    preferVisible();
}

PictureGrid::~PictureGrid() { stop(); }

void PictureGrid::stop() {
    if (pool_) pool_->stop();
}

void PictureGrid::setCheckerboard(bool on) {
    checkerboard_ = on;
    viewport()->update();
}

int PictureGrid::columns() const {
    return std::max(1, (viewport()->width() - 2 * kMargin) / kCellWidth);
}

QRect PictureGrid::cellRect(size_t i) const {
    const int cols = columns();
    const int row = static_cast<int>(i / size_t(cols)), col = static_cast<int>(i % size_t(cols));
    return QRect(kMargin + col * kCellWidth, kHeader + row * kCellHeight - verticalScrollBar()->value(),
                 kCellWidth, kCellHeight);
}

int PictureGrid::itemAt(QPoint at) const {
    const int cols = columns();
    const int x = at.x() - kMargin, y = at.y() + verticalScrollBar()->value() - kHeader;
    if (x < 0 || y < 0 || x >= cols * kCellWidth) return -1;
    const int64_t i = int64_t{y / kCellHeight} * cols + x / kCellWidth;
    return i < static_cast<int64_t>(items_.size()) ? static_cast<int>(i) : -1;
}

void PictureGrid::layoutChanged() {
    const int cols = columns();
    const int64_t rows = (static_cast<int64_t>(items_.size()) + cols - 1) / cols;
    const int64_t height = kHeader + rows * kCellHeight + kMargin;
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setRange(
        0, static_cast<int>(std::clamp<int64_t>(height - viewport()->height(), 0, INT32_MAX)));
}

void PictureGrid::preferVisible() {
    if (!pool_ || items_.empty()) return;
    const size_t cols = static_cast<size_t>(columns());
    const int top = std::max(0, verticalScrollBar()->value() - kHeader);
    const size_t firstRow = static_cast<size_t>(top / kCellHeight);
    const size_t lastRow = static_cast<size_t>((top + viewport()->height()) / kCellHeight);
    pool_->prefer(firstRow * cols, (lastRow + 1) * cols);
}

void PictureGrid::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    layoutChanged();
    preferVisible();
}

void PictureGrid::scrollContentsBy(int, int) {
    preferVisible();
    viewport()->update();
}

void PictureGrid::takeThumbnails() {
    if (!pool_) return;
    const QRect visible = viewport()->rect();
    for (ThumbnailPool::Done& done : pool_->take()) {
        const size_t i = done.index;
        if (done.image.isNull()) {
            cells_[i] = Cell::Failed;
            errors_[i] = std::move(done.error);
            ++failed_;
        } else {
            cells_[i] = Cell::Shown;
            thumbnails_[i] = std::move(done.image);
            ++shown_;
        }
        const QRect r = cellRect(i);
        if (r.intersects(visible)) viewport()->update(r);
    }
    viewport()->update(0, 0, viewport()->width(), kHeader);
    if (onThumbnails) onThumbnails();
}

std::string PictureGrid::headerText() const {
    const size_t n = items_.size(), made = shown_ + failed_;
    std::string text = folder_ + ": ";
    if (n == 0) return text + "no pictures";
    text += made < n ? std::to_string(made) + " of " + std::to_string(n) + " pictures"
                     : std::to_string(n) + (n == 1 ? " picture" : " pictures");
    if (failed_ > 0) text += ", " + std::to_string(failed_) + " could not be shown";
    return text;
}

void PictureGrid::paintEvent(QPaintEvent* event) {
    guarded([&] {
        QPainter painter(viewport());
        const QRect exposed = event->rect();
        painter.setPen(kText);
        const int scroll = verticalScrollBar()->value();
        painter.drawText(QRect(kMargin, 2 - scroll, viewport()->width() - 2 * kMargin, kHeader - 4),
                         Qt::AlignLeft | Qt::AlignVCenter, text8(headerText()));
        const QFontMetrics metrics = painter.fontMetrics();
        const int cols = columns();
        const int firstRow = std::max(0, (scroll - kHeader) / kCellHeight);
        for (size_t i = size_t(firstRow) * size_t(cols); i < items_.size(); ++i) {
            const QRect cell = cellRect(i);
            if (cell.top() > exposed.bottom()) break;
            if (!cell.intersects(exposed)) continue;
            const QRect box(cell.left() + (kCellWidth - kBox) / 2, cell.top() + 2, kBox, kBox);
            if (cells_[i] == Cell::Shown) {
                const QImage& image = thumbnails_[i];
                const QRect at(box.left() + (kBox - image.width()) / 2,
                               box.top() + (kBox - image.height()) / 2, image.width(), image.height());
                if (checkerboard_ && image.hasAlphaChannel()) {
                    QImage squares(at.size(), QImage::Format_RGB32);
                    for (int y = 0; y < squares.height(); ++y) {
                        auto* line = reinterpret_cast<QRgb*>(squares.scanLine(y));
                        for (int x = 0; x < squares.width(); ++x) line[x] = ImageView::checkerColour(x, y);
                    }
                    painter.drawImage(at.topLeft(), squares);
                }
                painter.drawImage(at.topLeft(), image);
            } else {
                // Waiting: a grey frame; could not be made: a red frame crossed out.
                const bool failed = cells_[i] == Cell::Failed;
                painter.setPen(failed ? kMarked : kWaiting);
                painter.drawRect(box.adjusted(0, 0, -1, -1));
                if (failed) {
                    painter.drawLine(box.topLeft(), box.bottomRight());
                    painter.drawLine(box.topRight(), box.bottomLeft());
                }
            }
            painter.setPen(kText);
            const QRect label(cell.left(), box.bottom() + 2, kCellWidth, cell.bottom() - box.bottom() - 2);
            painter.drawText(label, Qt::AlignHCenter | Qt::AlignTop,
                             metrics.elidedText(text8(items_[i].name), Qt::ElideMiddle, kCellWidth - 4));
        }
    }, this);
}

void PictureGrid::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const int i = itemAt(event->position().toPoint());
    if (i < 0 || !onPick) return;
    // Picking leaves the grid: it runs once this handler has returned.
    QTimer::singleShot(0, this, [this, item = items_[size_t(i)]] {
        guarded([&] { if (onPick) onPick(item); }, this);
    });
}

bool PictureGrid::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int i = itemAt(help->pos());
        if (i < 0) {
            QToolTip::hideText();
        } else {
            std::string tip = items_[size_t(i)].name;
            if (cells_[size_t(i)] == Cell::Failed) tip += "\nCould not be shown:\n" + errors_[size_t(i)];
            else tip += "\nClick to show it";
            QToolTip::showText(help->globalPos(), text8(tip), viewport(), cellRect(size_t(i)));
        }
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

}  // namespace vorlr
