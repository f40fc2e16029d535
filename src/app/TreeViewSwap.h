#pragma once
// The tree view lent to another model while a view of the loaded archive lasts (a comparison,
// layers): the loaded tree's model, its selection (with the window's connections), delegate,
// expanded folders and scroll position kept as they stood, and put back exactly.
#include <QObject>
#include <QPointer>
#include <set>

#include "archive/FolderTree.h"

class QAbstractItemDelegate;
class QAbstractItemModel;
class QItemSelectionModel;
class QTreeView;

namespace vorlr {

class FolderTreeModel;

class TreeViewSwap : public QObject {
    Q_OBJECT
public:
    TreeViewSwap(QTreeView& view, FolderTreeModel& loaded, QObject* parent);

    // The loaded tree's folders open in the view, as it has them while it shows them; a reset of
    // the loaded model (a load, a step that builds the tree again) closes them all.
    const std::set<NodeId>& expanded() const { return expanded_; }
    bool lent() const { return lent_; }
    // Shows model with delegate; the scroll position stays where it was.
    void lend(QAbstractItemModel& model, QAbstractItemDelegate* delegate);
    // After doItemsLayout, the scroll position where it was when lent.
    void keepScroll();
    // The loaded model back as it stood.
    void giveBack();
    // The loaded tree's current node while it is shown.
    NodeId currentNode() const;

private:
    QTreeView& view_;
    FolderTreeModel& loaded_;
    bool lent_ = false;
    QPointer<QItemSelectionModel> selection_;
    QAbstractItemDelegate* delegate_ = nullptr;
    int vertical_ = 0, horizontal_ = 0;
    std::set<NodeId> expanded_;
};

}  // namespace vorlr
