#pragma once
// The tree view's model while the loaded archive is compared with another: the comparison's
// tree (the loaded nodes and the other archive's removed rows), read straight from it as the
// folder tree's own model reads its tree. Nothing of the loaded tree's model changes meanwhile.
#include <QAbstractItemModel>

#include "edit/Comparison.h"

namespace vorlr {

class ComparisonModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit ComparisonModel(ComparisonTree& tree, QObject* parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Comparison::Mark bits of a row, and a renamed entry's old stored name; the delegate
    // draws them after the text, which stays the node's own.
    static constexpr int kMarkRole = Qt::UserRole + 10;
    static constexpr int kOldNameRole = Qt::UserRole + 11;

    ComparisonTree::Item itemOf(const QModelIndex& index) const;
    QModelIndex indexOf(ComparisonTree::Item item) const;  // invalid when not shown
    void setChangesOnly(bool on);

private:
    ComparisonTree& tree_;
};

}  // namespace vorlr
