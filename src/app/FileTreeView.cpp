#include "app/FileTreeView.h"

#include <QPainter>
#include <QStyledItemDelegate>

#include "app/FolderTreeModel.h"

namespace vorlr {
namespace {

// Rows of one height; nodes of changed and added entries bold with " *" after their text (not
// part of it), and the node dragged files would go to underlaid with the highlight colour.
class FixedRowHeight final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(FileTreeView::kRowHeight);
        return size;
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(FolderTreeModel::kMarkedRole).toBool()) {
            option->font.setBold(true);
            option->fontMetrics = QFontMetrics(option->font);
            option->text += QStringLiteral(" *");
        }
        if (index.data(FolderTreeModel::kDropTargetRole).toBool()) {
            QColor c = option->palette.color(QPalette::Highlight);
            c.setAlpha(96);
            option->backgroundBrush = c;
        }
    }
};

bool hasNextSibling(const QModelIndex& index) {
    return index.row() + 1 < index.model()->rowCount(index.parent());
}

}  // namespace

FileTreeView::FileTreeView(QWidget* parent) : QTreeView(parent) {
    setItemDelegate(new FixedRowHeight(this));
}

void FileTreeView::startDrag(Qt::DropActions supportedActions) {
    if (dragOut)
        dragOut();
    else
        QTreeView::startDrag(supportedActions);
}

void FileTreeView::drawBranches(QPainter* painter, const QRect& rect,
                                const QModelIndex& index) const {
    const int indent = indentation();
    if (indent <= 0 || !index.isValid()) return;
    // A checkerboard brush one pixel wide gives the dotted line; its origin is the viewport's,
    // so the dots of one line meet from row to row.
    const QBrush dots(palette().color(QPalette::Dark), Qt::Dense4Pattern);
    const int top = rect.top(), bottom = rect.bottom();
    const int midY = top + rect.height() / 2;
    // The row's own column is the last one of rect; its ancestors' columns stand to the left.
    int column = rect.width() / indent - 1;
    if (column < 0) return;
    const int left = rect.left() + column * indent;
    const int midX = left + indent / 2;

    painter->fillRect(QRect(QPoint(midX, midY), QPoint(left + indent - 1, midY)), dots);
    const bool firstRoot = index.row() == 0 && !index.parent().isValid();
    if (!firstRoot) painter->fillRect(QRect(QPoint(midX, top), QPoint(midX, midY)), dots);
    if (hasNextSibling(index))
        painter->fillRect(QRect(QPoint(midX, midY), QPoint(midX, bottom)), dots);

    for (QModelIndex up = index.parent(); up.isValid() && --column >= 0; up = up.parent())
        if (hasNextSibling(up)) {
            const int x = rect.left() + column * indent + indent / 2;
            painter->fillRect(QRect(QPoint(x, top), QPoint(x, bottom)), dots);
        }

    if (!model()->hasChildren(index)) return;
    // The expand button: a 9 x 9 box on the lines, minus when open, plus when closed.
    const QRect box(midX - 4, midY - 4, 9, 9);
    painter->save();
    painter->fillRect(box, palette().color(QPalette::Base));
    painter->setPen(palette().color(QPalette::Dark));
    painter->drawRect(box.adjusted(0, 0, -1, -1));
    painter->setPen(palette().color(QPalette::Text));
    painter->drawLine(midX - 2, midY, midX + 2, midY);
    if (!isExpanded(index)) painter->drawLine(midX, midY - 2, midX, midY + 2);
    painter->restore();
}

}  // namespace vorlr
