#include "app/ComparisonModel.h"

#include "platform/Text.h"

namespace vorlr {

ComparisonModel::ComparisonModel(ComparisonTree& tree, QObject* parent)
    : QAbstractItemModel(parent), tree_(tree) {}

ComparisonTree::Item ComparisonModel::itemOf(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) return ComparisonTree::kTop;
    return static_cast<ComparisonTree::Item>(index.internalId());
}

QModelIndex ComparisonModel::indexOf(ComparisonTree::Item item) const {
    if (item < 0 || !tree_.shown(item)) return {};
    return createIndex(tree_.row(item), 0, static_cast<quintptr>(item));
}

QModelIndex ComparisonModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0 || (parent.isValid() && parent.column() != 0)) return {};
    const ComparisonTree::Item item = tree_.child(itemOf(parent), row);
    if (item < 0) return {};
    return createIndex(row, 0, static_cast<quintptr>(item));
}

QModelIndex ComparisonModel::parent(const QModelIndex& child) const {
    const ComparisonTree::Item item = itemOf(child);
    if (item < 0) return {};
    return indexOf(tree_.parent(item));
}

int ComparisonModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0) return 0;
    return tree_.childCount(itemOf(parent));
}

int ComparisonModel::columnCount(const QModelIndex&) const { return 1; }

bool ComparisonModel::hasChildren(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0) return false;
    return tree_.hasChildren(itemOf(parent));
}

QVariant ComparisonModel::data(const QModelIndex& index, int role) const {
    const ComparisonTree::Item item = itemOf(index);
    if (item < 0) return {};
    if (role == Qt::DisplayRole) return fromCp1252(tree_.text(item));
    if (role == kMarkRole) return static_cast<int>(tree_.mark(item));
    if (role == kOldNameRole) {
        if (!(tree_.mark(item) & Comparison::kRenamed)) return {};
        return fromCp1252(tree_.oldName(item));
    }
    return {};
}

Qt::ItemFlags ComparisonModel::flags(const QModelIndex& index) const {
    const ComparisonTree::Item item = itemOf(index);
    if (item < 0) return Qt::NoItemFlags;
    // The loaded archive's nodes can be dragged out as ever; labels are not edited meanwhile.
    if (tree_.node(item) != kNoNode)
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void ComparisonModel::setChangesOnly(bool on) {
    if (on == tree_.changesOnly()) return;
    beginResetModel();
    tree_.setChangesOnly(on);
    endResetModel();
}

}  // namespace vorlr
