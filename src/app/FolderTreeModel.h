#pragma once
// tvFiles' model: the folder tree shown as items without copying it. Every lookup goes
// straight to the tree, so a million nodes cost nothing until they are scrolled into view.
#include <QAbstractItemModel>
#include <functional>
#include <vector>

#include "archive/FolderTree.h"

class QTreeView;

namespace vorlr {

// As a click on the row: the folders above it opened from the top, then the row made current
// (which runs the view's selection handlers) and scrolled to. False when it was current already.
bool SelectAsClicked(QTreeView& view, const QModelIndex& index);

class FolderTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit FolderTreeModel(FolderTree& tree, QObject* parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // An edited label becomes the node's text (8-bit); nothing else happens.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // An index of another model that shows this tree's nodes (a comparison's) goes through
    // foreignNode; without it, such an index stands for no node.
    NodeId nodeOf(const QModelIndex& index) const;
    std::function<NodeId(const QModelIndex&)> foreignNode;
    QModelIndex indexOf(NodeId node) const;

    // Deletes all nodes and hides the tree from the view until endLoading(), so the view never
    // sees rows while the loader adds them.
    void beginLoading();
    void endLoading();
    bool loading() const { return hidden_; }

    // Nodes of changed and added entries (pending edits) answer true to kMarkedRole; the
    // delegate draws them bold with " *" after the text, which stays the node's own.
    static constexpr int kMarkedRole = Qt::UserRole + 1;
    std::function<bool(NodeId)> marked;
    // Runs after a label was edited.
    std::function<void(NodeId)> labelEdited;
    // The node dragged files would go to (kNoNode: none); kDropTargetRole answers true for it.
    static constexpr int kDropTargetRole = Qt::UserRole + 2;
    void setDropTarget(NodeId node);
    NodeId dropTarget() const { return dropTarget_; }
    // The tree changes under the view: change() runs inside a reset.
    void rebuild(const std::function<void()>& change);
    // These nodes' marks may have changed.
    void marksChanged(const std::vector<NodeId>& nodes);

private:
    FolderTree& tree_;
    bool hidden_ = false;
    NodeId dropTarget_ = kNoNode;
};

}  // namespace vorlr
