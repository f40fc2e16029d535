#pragma once
// tvFiles: a tree view drawn as a classic tree under every style. Dotted lines join each node
// to its parent's line and to its next sibling, root nodes included; folders carry a boxed
// plus or minus; every row is 13 pixels high.
#include <QTreeView>
#include <functional>

namespace vorlr {

class FileTreeView : public QTreeView {
    Q_OBJECT
public:
    explicit FileTreeView(QWidget* parent = nullptr);
    static constexpr int kRowHeight = 13;
    // Runs instead of Qt's own drag when a drag of a node starts.
    std::function<void()> dragOut;

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    // Called for visible rows only; costs one step up the tree per level of the row.
    void drawBranches(QPainter* painter, const QRect& rect,
                      const QModelIndex& index) const override;
};

}  // namespace vorlr
