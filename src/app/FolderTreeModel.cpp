#include "app/FolderTreeModel.h"

#include <QTreeView>

#include "platform/Text.h"

namespace vorlr {

bool SelectAsClicked(QTreeView& view, const QModelIndex& index) {
    std::vector<QModelIndex> folders;
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) folders.push_back(p);
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        if (!view.isExpanded(*it)) view.expand(*it);
    const bool moved = view.currentIndex() != index;
    if (moved) view.setCurrentIndex(index);
    view.scrollTo(index);
    return moved;
}

FolderTreeModel::FolderTreeModel(FolderTree& tree, QObject* parent)
    : QAbstractItemModel(parent), tree_(tree) {}

NodeId FolderTreeModel::nodeOf(const QModelIndex& index) const {
    if (!index.isValid()) return kNoNode;
    if (index.model() != this) return foreignNode ? foreignNode(index) : kNoNode;
    return static_cast<NodeId>(index.internalId());
}

QModelIndex FolderTreeModel::indexOf(NodeId node) const {
    if (hidden_ || node < 0 || node >= tree_.size()) return {};
    return createIndex(tree_.row(node), 0, static_cast<quintptr>(node));
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (hidden_ || column != 0 || row < 0) return {};
    if (parent.isValid() && parent.column() != 0) return {};
    const NodeId p = nodeOf(parent);
    if (row >= tree_.childCount(p)) return {};
    return createIndex(row, 0, static_cast<quintptr>(tree_.child(p, row)));
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const {
    const NodeId node = nodeOf(child);
    if (hidden_ || node == kNoNode) return {};
    return indexOf(tree_.parent(node));
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const {
    if (hidden_ || (parent.isValid() && parent.column() != 0)) return 0;
    return tree_.childCount(nodeOf(parent));
}

int FolderTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool FolderTreeModel::hasChildren(const QModelIndex& parent) const {
    if (hidden_ || (parent.isValid() && parent.column() != 0)) return false;
    const NodeId node = nodeOf(parent);
    return node == kNoNode ? tree_.childCount(kNoNode) > 0 : tree_.hasChildren(node);
}

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const {
    const NodeId node = nodeOf(index);
    if (hidden_ || node == kNoNode) return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole) return fromCp1252(tree_.text(node));
    if (role == kMarkedRole) return marked && marked(node);
    if (role == kDropTargetRole) return node == dropTarget_;
    return {};
}

bool FolderTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    const NodeId node = nodeOf(index);
    if (hidden_ || node == kNoNode || role != Qt::EditRole) return false;
    tree_.setText(node, toCp1252(value.toString()));
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    if (labelEdited) labelEdited(node);
    return true;
}

Qt::ItemFlags FolderTreeModel::flags(const QModelIndex& index) const {
    if (nodeOf(index) == kNoNode) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
}

void FolderTreeModel::rebuild(const std::function<void()>& change) {
    beginResetModel();
    dropTarget_ = kNoNode;
    try {
        change();
    } catch (...) {
        endResetModel();
        throw;
    }
    endResetModel();
}

void FolderTreeModel::setDropTarget(NodeId node) {
    if (node == dropTarget_) return;
    const NodeId old = dropTarget_;
    dropTarget_ = node;
    marksChanged({old, node});
}

void FolderTreeModel::marksChanged(const std::vector<NodeId>& nodes) {
    for (const NodeId node : nodes)
        if (const QModelIndex i = indexOf(node); i.isValid()) emit dataChanged(i, i, {kMarkedRole});
}

void FolderTreeModel::beginLoading() {
    beginResetModel();
    hidden_ = true;
    dropTarget_ = kNoNode;
    tree_.clear();
    endResetModel();
}

void FolderTreeModel::endLoading() {
    beginResetModel();
    hidden_ = false;
    endResetModel();
}

}  // namespace vorlr
