#include "app/TreeViewSwap.h"

#include <QScrollBar>
#include <QTreeView>

#include "app/FolderTreeModel.h"

namespace vorlr {

TreeViewSwap::TreeViewSwap(QTreeView& view, FolderTreeModel& loaded, QObject* parent)
    : QObject(parent), view_(view), loaded_(loaded) {
    connect(&view_, &QTreeView::expanded, this, [this](const QModelIndex& i) {
        if (i.model() == &loaded_) expanded_.insert(loaded_.nodeOf(i));
    });
    connect(&view_, &QTreeView::collapsed, this, [this](const QModelIndex& i) {
        if (i.model() == &loaded_) expanded_.erase(loaded_.nodeOf(i));
    });
    connect(&loaded_, &QAbstractItemModel::modelReset, this, [this] { expanded_.clear(); });
}

void TreeViewSwap::lend(QAbstractItemModel& model, QAbstractItemDelegate* delegate) {
    if (!lent_) {
        selection_ = view_.selectionModel();
        delegate_ = view_.itemDelegate();
        vertical_ = view_.verticalScrollBar()->value();
        horizontal_ = view_.horizontalScrollBar()->value();
    }
    QItemSelectionModel* before = lent_ ? view_.selectionModel() : nullptr;
    lent_ = true;
    view_.setModel(&model);
    delete before;
    view_.setItemDelegate(delegate);
}

void TreeViewSwap::keepScroll() {
    view_.doItemsLayout();
    view_.verticalScrollBar()->setValue(vertical_);
    view_.horizontalScrollBar()->setValue(horizontal_);
}

NodeId TreeViewSwap::currentNode() const {
    return lent_ ? kNoNode : loaded_.nodeOf(view_.currentIndex());
}

void TreeViewSwap::giveBack() {
    if (!lent_) return;
    lent_ = false;
    QItemSelectionModel* lentSelection = view_.selectionModel();
    view_.setModel(&loaded_);
    QItemSelectionModel* fresh = view_.selectionModel();
    if (selection_) view_.setSelectionModel(selection_);
    if (fresh != view_.selectionModel()) delete fresh;
    delete lentSelection;
    view_.setItemDelegate(delegate_);
    const std::set<NodeId> open = expanded_;
    for (const NodeId node : open)
        if (const QModelIndex i = loaded_.indexOf(node); i.isValid()) view_.expand(i);
    keepScroll();
}

}  // namespace vorlr
